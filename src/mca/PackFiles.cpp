#include "PackFiles.h"

#include "Console.h"
#include "EscapedText.h"
#include "Failure.h"
#include "MemberNames.h"
#include "Progress.h"

#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "filedriver/FilePlatform.h"
#include "filedriver/NewFile.h"
#include "filedriver/SystemError.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <set>

namespace mca {
namespace {

using filedriver::FileDriver;
using filedriver::FilePath;
using filedriver::lastSystemError;

// A member's bytes are counted in a signed 32-bit number on their way through the library.
constexpr std::uint64_t largestMember = INT32_MAX;
// Temporary names: never ".mca" at their end, so that nothing takes one for an archive.
constexpr wchar_t packPrefix[] = L".~pack-";
constexpr std::size_t stemInTemporaryName = 64;
constexpr NamePlatform everyPlatform[] = {NamePlatform::onLinux, NamePlatform::onWindows};
// What a name that is not valid UTF-8 turns into on its way to wide text.
constexpr wchar_t replacementCharacter = L'\uFFFD';

// The files that pack is to store, and what refuses the pack (each a message); nothing is packed
// while there is any.
struct Gathered {
    std::vector<PackFile> files;
    std::vector<std::string> refusals;
};

void skip(const FilePath& path, const char* why)
{
    std::fprintf(stderr, "mca: warning: skipping %s: %s\n", shown(path).c_str(), why);
}

// A link, pipe, device or socket met in a directory: a link to a regular file is stored under the
// link's name; anything else is skipped. A link to a directory is never followed, so no walk loops.
void addOther(const FilePath& path, const std::wstring& name, Gathered& gathered)
{
    switch (filedriver::fileKind(path)) {
    case filedriver::FileKind::regular: gathered.files.push_back({path, name, false}); break;
    case filedriver::FileKind::directory: skip(path, "a link to a directory"); break;
    case filedriver::FileKind::missing: skip(path, "a link that leads nowhere"); break;
    case filedriver::FileKind::stream: skip(path, "not a regular file or a directory"); break;
    }
}

// The regular files below `directory`, each directory's entries in name order, subdirectories walked
// where they sort.
void addDirectory(const FilePath& directory, Gathered& gathered)
{
    std::vector<filedriver::DirectoryEntry> entries;
    if (!filedriver::listDirectory(directory, entries))
        throw Failure("cannot read directory " + shown(directory) + ": " + lastSystemError());
    std::sort(entries.begin(), entries.end(),
              [](const filedriver::DirectoryEntry& a, const filedriver::DirectoryEntry& b) { return a.name < b.name; });
    const FilePath into = directory.withTrailingSeparator();
    // A name that is not UTF-8 reaches us spelt with U+FFFD, which leads nowhere: the system's own
    // bytes name it in the refusal.
    const bool undecodable = std::any_of(entries.begin(), entries.end(), [](const filedriver::DirectoryEntry& entry) {
        return entry.name.find(replacementCharacter) != std::wstring::npos;
    });
    if (undecodable)
        for (const std::string& name : undecodableNames(directory))
            gathered.refusals.push_back("refusing " + shown(into) + escaped(name) + ": its name is not valid UTF-8");
    for (const filedriver::DirectoryEntry& entry : entries) {
        const FilePath path(into + entry.name);
        if (undecodable && !filedriver::entryExists(path))
            continue;
        switch (entry.kind) {
        case filedriver::EntryKind::regular: gathered.files.push_back({path, entry.name, false}); break;
        case filedriver::EntryKind::directory: addDirectory(path, gathered); break;
        case filedriver::EntryKind::other: addOther(path, entry.name, gathered); break;
        }
    }
}

std::string shownSource(const PackFile& file)
{
    return file.standardInput ? "- (standard input)" : shown(file.path);
}

Gathered gather(const std::vector<PackFile>& arguments, const FilePath& archive)
{
    Gathered gathered;
    for (const PackFile& file : arguments)
        if (!file.standardInput && filedriver::fileKind(file.path) == filedriver::FileKind::directory)
            addDirectory(file.path, gathered);
        else
            gathered.files.push_back(file);
    std::map<std::wstring, const PackFile*> byName;
    for (const PackFile& file : gathered.files) {
        if (file.name.empty())
            gathered.refusals.push_back(shownSource(file) + ": no file name");
        const auto [first, isNew] = byName.emplace(file.name, &file);
        if (!isNew)
            gathered.refusals.push_back("two files would be the member '" + shown(file.name)
                                        + "': " + shownSource(*first->second) + " and " + shownSource(file));
        if (!file.standardInput && filedriver::sameFile(file.path, archive))
            gathered.refusals.push_back("refusing to pack " + shown(archive) + " into itself");
    }
    return gathered;
}

// The names that extract refuses somewhere, said in name order before the archive is made.
void warnAboutNames(const std::vector<PackFile>& files)
{
    std::set<std::wstring> names;
    for (const PackFile& file : files)
        names.insert(file.name);
    for (const std::wstring& name : names)
        for (const NamePlatform platform : everyPlatform)
            if (const char* why = refusedName(name, platform))
                std::fprintf(stderr, "mca: warning: member '%s' cannot be extracted on %s: %s\n", shown(name).c_str(),
                             platformName(platform), why);
}

std::string tooLarge(const std::string& file)
{
    return file + " is 2 GiB or larger: a member holds less than 2 GiB";
}

// Where pack reads one file's bytes: the file itself, as it was stamped, or a spool of what a stream
// gave.
struct PackSource {
    FilePath file;
    std::string shownName;
    std::unique_ptr<FileDriver> spool;
    std::uint32_t size = 0;
    filedriver::FileStamp stamp;
};

// A regular file's size and stamp, before anything is read; a file that cannot be opened fails here
// with the library's message.
PackSource measure(const PackFile& file)
{
    PackSource source{file.path, shown(file.path), nullptr, 0, {}};
    if (filedriver::fileStamp(file.path, source.stamp) && source.stamp.size > largestMember)
        throw Failure(tooLarge(source.shownName));
    const std::int32_t size = FileDriver(file.path, filedriver::OpenRead).size();
    if (size < 0)
        throw Failure("cannot tell the size of " + source.shownName);
    source.size = static_cast<std::uint32_t>(size);
    return source;
}

bool isStream(const PackFile& file)
{
    return file.standardInput || filedriver::fileKind(file.path) == filedriver::FileKind::stream;
}

// A pipe, a device or standard input (`from`) has no size until it has been read to its end: it is
// read into a temporary file.
template <class Stream>
void spoolStream(Stream& from, PackSource& source)
{
    source.spool = std::make_unique<FileDriver>(FilePath(), filedriver::Temporary);
    Progress quiet("spool", 0);
    std::uint64_t kept = 0;
    const std::uint64_t total = copyAll(
        from,
        [&](const std::uint8_t* bytes, std::uint32_t length) {
            if ((kept += length) > largestMember)
                throw Failure(tooLarge(source.shownName));
            if (source.spool->write(bytes, length) != length)
                throw Failure("cannot keep what " + source.shownName + " gave in a temporary file: " + lastSystemError());
        },
        quiet);
    if (source.spool->seek(0, filedriver::SeekBegin) != 0)
        throw Failure("cannot read back what " + source.shownName + " gave: " + lastSystemError());
    source.size = static_cast<std::uint32_t>(total);
}

void spool(const PackFile& file, PackSource& source)
{
    source.shownName = shownSource(file);
    if (!file.standardInput) {
        FileDriver from(file.path, filedriver::OpenRead);
        spoolStream(from, source);
        return;
    }
    const std::unique_ptr<filedriver::FilePlatform> input = filedriver::FilePlatform::standardInput();
    if (!input)
        throw Failure("cannot read standard input: " + lastSystemError());
    spoolStream(*input, source);
}

// Every file's source: regular files measured first, so that nothing is read before all are known
// to open, then the streams read to their end.
std::vector<PackSource> sourcesOf(const std::vector<PackFile>& files)
{
    std::vector<PackSource> sources(files.size());
    for (std::size_t k = 0; k < files.size(); ++k)
        if (!isStream(files[k]))
            sources[k] = measure(files[k]);
    for (std::size_t k = 0; k < files.size(); ++k)
        if (isStream(files[k]))
            spool(files[k], sources[k]);
    return sources;
}

filedriver::ArchiveWriterOptions writerOptions(const PackOptions& options)
{
    filedriver::ArchiveWriterOptions writer;
    writer.blockSize = options.blockSize;
    writer.compressionType = options.store ? 0 : 1;
    writer.level = options.store ? -1 : options.level;
    writer.properties = options.properties;
    writer.threads = options.threads;
    return writer;
}

// Why the writer failed, read at once: the system's reason is the last call's.
Failure writeFailure(const filedriver::ArchiveWriter& writer, const FilePath& archive)
{
    if (writer.outgrewFormat())
        return Failure(shown(archive) + " would be 2 GiB or larger: an archive holds less than 2 GiB");
    return Failure("cannot write " + shown(archive) + ": " + lastSystemError());
}

// Appends one source's bytes; a file whose size or stamp moved since it was measured has changed
// while it was read, and what was read of it is no snapshot.
void appendSource(PackSource& source, filedriver::ArchiveWriter& writer, const FilePath& archive, Progress& progress)
{
    std::unique_ptr<FileDriver> opened;
    if (!source.spool)
        // Unbuffered: copyAll asks for 1 MiB at a time, and a buffer would only read each file twice.
        opened = std::make_unique<FileDriver>(source.file, filedriver::OpenRead);
    const std::uint64_t done = copyAll(
        source.spool ? *source.spool : *opened,
        [&](const std::uint8_t* bytes, std::uint32_t length) {
            if (!writer.append(bytes, length))
                throw writeFailure(writer, archive);
        },
        progress, source.size);
    filedriver::FileStamp now;
    const bool moved = !source.spool && filedriver::fileStamp(source.file, now) && !(now == source.stamp);
    if (done != source.size || moved)
        throw Failure(source.shownName + " changed while it was read");
}

// Without the separators after an archive's name ("all.mca/").
FilePath withoutTrailingSeparators(const FilePath& archive)
{
    const FilePath trimmed = archive.trimmedRight(filedriver::Separators);
    return trimmed.empty() ? archive : trimmed;
}

void checkTarget(const FilePath& given, const FilePath& archive)
{
    if (filedriver::archivePart(archive) != archive)
        throw Failure(shown(given) + ": an archive's name ends in .mca");
    if (filedriver::fileKind(archive) == filedriver::FileKind::directory)
        throw Failure("cannot write " + shown(archive) + ": it is a directory");
}

} // namespace

bool packFiles(const FilePath& given, const std::vector<PackFile>& arguments, const PackOptions& options)
{
    const FilePath archive = withoutTrailingSeparators(given);
    checkTarget(given, archive);
    const Gathered gathered = gather(arguments, archive);
    for (const std::string& refusal : gathered.refusals)
        std::fprintf(stderr, "mca: %s\n", refusal.c_str());
    if (!gathered.refusals.empty())
        return false;
    const std::vector<PackFile>& files = gathered.files;
    std::vector<PackSource> sources = sourcesOf(files);
    std::vector<filedriver::ArchiveMemberPlan> plan;
    std::uint64_t total = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        plan.push_back({files[k].name, sources[k].size});
        total += sources[k].size;
    }
    warnAboutNames(files);

    // The target changes only once the whole archive stands beside it, on the disk; a failure or an
    // interrupt leaves nothing.
    filedriver::NewFile partial(archive, archive.fileNameWithoutExtension().substr(0, stemInTemporaryName) + packPrefix);
    partial.removeOnInterrupt();
    filedriver::ArchiveWriter writer(partial, plan, writerOptions(options));
    Progress progress("pack", total);
    for (PackSource& source : sources)
        appendSource(source, writer, archive, progress);
    if (!writer.finish())
        throw writeFailure(writer, archive);
    if (!partial.commit(true))
        throw Failure("cannot replace " + shown(archive) + ": " + lastSystemError());
    return true;
}

} // namespace mca
