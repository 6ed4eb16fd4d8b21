#include "McaCommands.h"

#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "filedriver/FilePlatform.h"
#include "filedriver/MemberReader.h"
#include "filedriver/NewFile.h"
#include "filedriver/SystemError.h"
#include "Console.h"
#include "MemberNames.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#include <cstdio>
#include <algorithm>
#include <climits>
#include <memory>
#include <set>

namespace mca {
namespace {

using filedriver::FileDriver;
using filedriver::FilePath;
using filedriver::lastSystemError;

constexpr std::uint32_t copyPieceSize = 1 << 20;
// Members of this many blocks or more are decoded ahead on a pool. Smaller ones read through the
// cache, which decodes a block that several small members share once, not once for each.
constexpr std::uint64_t parallelFromBlocks = 4;
// Work smaller than this finishes before a progress line would be read.
constexpr std::uint64_t progressThreshold = 4u << 20;
// A member's bytes are counted in a signed 32-bit number on their way through the library.
constexpr std::uint64_t largestMember = INT32_MAX;
// Temporary names: never ".mca" at their end, so that nothing takes one for an archive.
constexpr wchar_t packPrefix[] = L".~pack-";
constexpr wchar_t extractPrefix[] = L".~extract-";
constexpr std::size_t stemInTemporaryName = 64;
constexpr NamePlatform everyPlatform[] = {NamePlatform::onLinux, NamePlatform::onWindows};

std::string native(const std::wstring& text)
{
    return orva::toNative(text);
}

// A progress line on standard error, only on a terminal and only for work worth watching.
class Progress {
public:
    Progress(const char* verb, std::uint64_t total)
        : verb(verb), total(total), shown(errorIsTerminal() && total > progressThreshold)
    {
    }
    ~Progress()
    {
        if (shown && printed)
            std::fprintf(stderr, "\r%*s\r", 60, "");
    }
    void advance(std::uint64_t amount)
    {
        done += amount;
        const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
        if (!shown || (printed && percent == lastPercent))
            return;
        std::fprintf(stderr, "\r%s: %u%% (%llu of %llu MiB)", verb, percent,
                     static_cast<unsigned long long>(done >> 20), static_cast<unsigned long long>(total >> 20));
        std::fflush(stderr);
        printed = true;
        lastPercent = percent;
    }

private:
    const char* verb;
    std::uint64_t total;
    std::uint64_t done = 0;
    bool shown;
    bool printed = false;
    unsigned lastPercent = 0;
};

FilePath memberPath(const FilePath& archive, const std::wstring& name)
{
    return FilePath(archive + filedriver::Separators[0] + name);
}

// Copies the rest of `from` in pieces through `write`, which throws on failure; answers the bytes
// copied. `progress` sees every piece.
template <class Source, class Write>
std::uint64_t copyAll(Source& from, Write write, Progress& progress)
{
    // Not zero-filled: pack calls this once per file, and most files are far smaller than a piece.
    const auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(copyPieceSize);
    std::uint64_t total = 0;
    for (std::uint32_t got; (got = from.read(piece.get(), copyPieceSize)) > 0; total += got) {
        write(piece.get(), got);
        progress.advance(got);
    }
    return total;
}

// A reader that decodes the blocks of the archive member at `path`, opened as `opened`, ahead on
// `threads`; null where reading through `opened` is as good: one thread, a plain file, a small member.
std::unique_ptr<filedriver::MemberReader> readAhead(const FilePath& path, FileDriver& opened, unsigned threads)
{
    if (threads == 1 || !filedriver::isArchivePath(path))
        return nullptr;
    const std::uint32_t blockSize = filedriver::ArchiveInfo(path).blockSize();
    if (opened.size() < 0 || std::uint64_t(opened.size()) < (parallelFromBlocks - 1) * blockSize)
        return nullptr;
    return std::make_unique<filedriver::MemberReader>(path, threads);
}

// Copies `opened` whole, or the reader's bytes where it has one.
template <class Write>
std::uint64_t copyMember(FileDriver& opened, filedriver::MemberReader* ahead, Write write, Progress& progress)
{
    return ahead ? copyAll(*ahead, write, progress) : copyAll(opened, write, progress);
}

void checkLength(std::uint64_t total, std::uint64_t expected, const std::string& what)
{
    if (total != expected)
        throw Failure("reading " + what + " stopped after " + std::to_string(total) + " of " + std::to_string(expected)
                      + " bytes");
}

// A member's failure to be extracted, as extract reports it.
struct MemberFailure {
    std::string text;
};

// One member into `target`, whole or not at all.
void extractMember(const FilePath& archive, const filedriver::ArchiveInfo& loaded, const filedriver::FileEntry& entry,
                   const FilePath& target, bool force, unsigned threads, Progress& progress)
{
    const std::string name = native(entry.name);
    std::unique_ptr<FileDriver> from;
    std::unique_ptr<filedriver::MemberReader> ahead;
    try {
        from = std::make_unique<FileDriver>(memberPath(archive, entry.name), filedriver::OpenRead);
        ahead = readAhead(memberPath(archive, entry.name), *from, threads);
    } catch (const orva::exception& error) {
        throw MemberFailure{name + ": " + error.what()};
    }
    filedriver::NewFile to(target, extractPrefix);
    to.removeOnInterrupt();
    std::uint64_t total = 0;
    try {
        total = copyMember(
            *from, ahead.get(),
            [&](const std::uint8_t* bytes, std::uint32_t length) {
                if (to.write(bytes, length) != length)
                    throw Failure("cannot write " + native(target) + ": " + lastSystemError());
            },
            progress);
    } catch (const orva::exception& error) {
        // A failed read leaves the cursor at the start of the piece that failed.
        const std::uint32_t at = ahead ? ahead->tell() : static_cast<std::uint32_t>(std::max(from->tell(), 0));
        throw MemberFailure{name + ": block "
                            + std::to_string(loaded.blockOfMember(entry, at)) + ": "
                            + error.what()};
    }
    checkLength(total, entry.dataSize, native(target));
    if (!to.commit(force)) {
        if (!force && filedriver::entryExists(target))
            throw Failure(native(target) + " exists (--force overwrites it)");
        throw Failure("cannot write " + native(target) + ": " + lastSystemError());
    }
}

// The names that extract refuses somewhere, said before the archive is made.
void warnAboutNames(const std::set<std::wstring>& names)
{
    for (const std::wstring& name : names)
        for (const NamePlatform platform : everyPlatform)
            if (const char* why = refusedName(name, platform))
                std::fprintf(stderr, "mca: warning: member '%s' cannot be extracted on %s: %s\n", native(name).c_str(),
                             platformName(platform), why);
}

std::string tooLarge(const FilePath& file)
{
    return native(file) + " is 2 GiB or larger: a member holds less than 2 GiB";
}

// Where pack reads one file's bytes: the file itself, or a spool of what a stream gave.
struct PackSource {
    FilePath file;
    std::unique_ptr<FileDriver> spool;
    std::uint32_t size = 0;
};

// A pipe, a device or standard input (`from`) has no size until it has been read to its end: it is
// read into a temporary file. `file` names it in messages.
template <class Stream>
PackSource spoolStream(const FilePath& file, Stream& from)
{
    PackSource source{file, std::make_unique<FileDriver>(FilePath(), filedriver::Temporary), 0};
    Progress quiet("spool", 0);
    std::uint64_t kept = 0;
    const std::uint64_t total = copyAll(
        from,
        [&](const std::uint8_t* bytes, std::uint32_t length) {
            if ((kept += length) > largestMember)
                throw Failure(tooLarge(file));
            if (source.spool->write(bytes, length) != length)
                throw Failure("cannot keep what " + native(file) + " gave in a temporary file: " + lastSystemError());
        },
        quiet);
    if (source.spool->seek(0, filedriver::SeekBegin) != 0)
        throw Failure("cannot read back what " + native(file) + " gave: " + lastSystemError());
    source.size = static_cast<std::uint32_t>(total);
    return source;
}

PackSource packSource(const PackFile& file)
{
    if (file.standardInput) {
        const std::unique_ptr<filedriver::FilePlatform> input = filedriver::FilePlatform::standardInput();
        if (!input)
            throw Failure("cannot read standard input: " + lastSystemError());
        return spoolStream(file.name, *input);
    }
    if (filedriver::fileKind(file.path) == filedriver::FileKind::stream) {
        FileDriver from(file.path, filedriver::OpenRead);
        return spoolStream(file.path, from);
    }
    filedriver::FileStamp stamp;
    if (filedriver::fileStamp(file.path, stamp) && stamp.size > largestMember)
        throw Failure(tooLarge(file.path));
    // A missing file fails here with the library's message.
    const std::int32_t size = FileDriver(file.path, filedriver::OpenReadBuffered).size();
    if (size < 0)
        throw Failure("cannot tell the size of " + native(file.path));
    return PackSource{file.path, nullptr, static_cast<std::uint32_t>(size)};
}

// The regular files below `directory`, each directory's entries in name order, subdirectories walked
// where they sort. Anything else is refused: a link could lead out of the tree or round in a circle,
// and a pipe could keep pack waiting.
void addDirectory(const FilePath& directory, std::vector<PackFile>& files)
{
    std::vector<filedriver::DirectoryEntry> entries;
    if (!filedriver::listDirectory(directory, entries))
        throw Failure("cannot read directory " + native(directory) + ": " + lastSystemError());
    std::sort(entries.begin(), entries.end(),
              [](const filedriver::DirectoryEntry& a, const filedriver::DirectoryEntry& b) { return a.name < b.name; });
    const FilePath into = directory.withTrailingSeparator(true);
    for (const filedriver::DirectoryEntry& entry : entries) {
        const FilePath path(into + entry.name);
        switch (entry.kind) {
        case filedriver::EntryKind::regular: files.push_back({path, entry.name, false}); break;
        case filedriver::EntryKind::directory: addDirectory(path, files); break;
        case filedriver::EntryKind::other:
            throw Failure(native(path) + " is not a regular file: only files and directories are packed");
        }
    }
}

// Without the separators after an archive's name ("all.mca/").
FilePath withoutTrailingSeparators(const FilePath& archive)
{
    const FilePath trimmed = archive.trimmedRight(filedriver::Separators);
    return trimmed.empty() ? archive : trimmed;
}

} // namespace

std::string failureText(const orva::exception& error)
{
    const std::string reason = filedriver::takeSystemError();
    return reason.empty() ? error.what() : error.what() + (": " + reason);
}

filedriver::ArchiveInfo openArchive(const FilePath& given)
{
    const FilePath archive = withoutTrailingSeparators(given);
    if (filedriver::archivePart(archive) != archive)
        throw Failure(native(given) + ": an archive's name ends in .mca");
    return filedriver::ArchiveInfo(archive);
}

void listMembers(const FilePath& archive)
{
    for (const filedriver::FileEntry& entry : openArchive(archive).members())
        std::printf("%u\t%s\n", entry.dataSize, native(entry.name).c_str());
}

void showInfo(const FilePath& archive)
{
    const filedriver::ArchiveInfo loaded = openArchive(archive);
    bool first = true;
    for (const filedriver::ArchiveHeaderField& field : loaded.headerFields()) {
        std::printf(first ? "%s: 0x%08x\n" : "%s: %u\n", field.name, field.value);
        first = false;
    }
    for (const auto& property : loaded.properties())
        std::printf("property %s=%s\n", native(property.first).c_str(), native(property.second).c_str());
}

void catFiles(const std::vector<FilePath>& paths, unsigned threads)
{
    useBinaryOutput();
    for (const FilePath& path : paths) {
        FileDriver file(path, filedriver::OpenReadBuffered);
        const std::unique_ptr<filedriver::MemberReader> ahead = readAhead(path, file, threads);
        Progress quiet("cat", 0);
        const std::uint64_t total = copyMember(
            file, ahead.get(),
            [](const std::uint8_t* bytes, std::uint32_t length) {
                if (std::fwrite(bytes, 1, length, stdout) != length)
                    throw Failure("cannot write standard output: " + lastSystemError());
            },
            quiet);
        checkLength(total, static_cast<std::uint64_t>(file.size()), native(path));
    }
    std::fflush(stdout);
}

bool extractMembers(const FilePath& given, const FilePath& directory, const std::vector<std::wstring>& only, bool force,
                    bool stopOnError, unsigned threads)
{
    const filedriver::ArchiveInfo loaded = openArchive(given);
    const FilePath archive = withoutTrailingSeparators(given);
    std::vector<std::wstring> names;
    for (const filedriver::FileEntry& entry : loaded.members())
        names.push_back(entry.name);
    std::vector<std::size_t> positions;
    std::wstring unknown;
    if (!chooseMembers(names, only, positions, unknown))
        throw Failure("no member '" + native(unknown) + "' in " + native(given));
    std::vector<filedriver::FileEntry> chosen;
    for (const std::size_t k : positions)
        chosen.push_back(loaded.members()[k]);
    const FilePath into = directory.withTrailingSeparator(true);
    std::set<std::wstring> seen;
    std::uint64_t total = 0;
    // Everything is refused before anything is written.
    for (const filedriver::FileEntry& entry : chosen) {
        if (const char* why = refusedName(entry.name, hostPlatform()))
            throw Failure("refusing member name '" + native(entry.name) + "': " + why);
        if (!seen.insert(entry.name).second)
            throw Failure("refusing member name '" + native(entry.name) + "': two members have it");
        const FilePath target(into + entry.name);
        if (!force && filedriver::entryExists(target))
            throw Failure(native(target) + " exists (--force overwrites it)");
        total += entry.dataSize;
    }
    if (!filedriver::createDirectories(directory))
        throw Failure("cannot create directory " + native(directory));
    Progress progress("extract", total);
    bool whole = true;
    for (const filedriver::FileEntry& entry : chosen) {
        try {
            extractMember(archive, loaded, entry, FilePath(into + entry.name), force, threads, progress);
            continue;
        } catch (const MemberFailure& failure) {
            std::fprintf(stderr, "mca: %s\n", failure.text.c_str());
        } catch (const Failure& failure) {
            std::fprintf(stderr, "mca: %s\n", failure.what());
        } catch (const orva::exception& error) {
            std::fprintf(stderr, "mca: %s: %s\n", native(entry.name).c_str(), failureText(error).c_str());
        }
        whole = false;
        if (stopOnError)
            break;
    }
    return whole;
}

bool verifyArchive(const FilePath& given, unsigned threads)
{
    const filedriver::ArchiveInfo loaded = openArchive(given);
    std::vector<filedriver::DamagedBlock> damaged;
    {
        Progress progress("verify", loaded.dataLength());
        damaged = loaded.verify([&](std::uint32_t) { progress.advance(loaded.blockSize()); }, threads);
    }
    for (const filedriver::DamagedBlock& block : damaged) {
        std::string names;
        for (const std::wstring& name : block.members)
            names += (names.empty() ? "" : ", ") + native(name);
        std::fprintf(stderr, "mca: damaged: block %u (members %s): %s\n", block.block, names.c_str(),
                     block.failure.c_str());
    }
    if (!damaged.empty()) {
        std::fprintf(stderr, "mca: %zu of %u blocks damaged\n", damaged.size(), loaded.blockCount());
        return false;
    }
    std::printf("ok: %u members, %u blocks, %u bytes\n", loaded.memberCount(), loaded.blockCount(),
                loaded.dataLength());
    return true;
}

std::vector<PackFile> packedFiles(const std::vector<PackFile>& given)
{
    std::vector<PackFile> files;
    for (const PackFile& file : given)
        if (!file.standardInput && filedriver::fileKind(file.path) == filedriver::FileKind::directory)
            addDirectory(file.path, files);
        else
            files.push_back(file);
    return files;
}

void packFiles(const FilePath& given, const std::vector<PackFile>& arguments, const PackOptions& options)
{
    const FilePath archive = withoutTrailingSeparators(given);
    if (filedriver::archivePart(archive) != archive)
        throw Failure(native(given) + ": an archive's name ends in .mca");
    const std::vector<PackFile> files = packedFiles(arguments);
    std::set<std::wstring> names;
    for (const PackFile& file : files) {
        if (file.name.empty())
            throw Failure(native(file.path) + ": no file name");
        if (!names.insert(file.name).second)
            throw Failure("two files would be the member '" + native(file.name) + "'");
        if (!file.standardInput && filedriver::sameFile(file.path, archive))
            throw Failure("refusing to pack " + native(archive) + " into itself");
    }
    std::vector<PackSource> sources;
    std::vector<filedriver::ArchiveMemberPlan> plan;
    std::uint64_t total = 0;
    for (const PackFile& file : files) {
        sources.push_back(packSource(file));
        plan.push_back({file.name, sources.back().size});
        total += sources.back().size;
    }
    warnAboutNames(names);

    filedriver::ArchiveWriterOptions writerOptions;
    writerOptions.blockSize = options.blockSize;
    writerOptions.compressionType = options.store ? 0 : 1;
    writerOptions.level = options.store ? -1 : options.level;
    writerOptions.properties = options.properties;
    writerOptions.threads = options.threads;
    // The target changes only once the whole archive stands beside it, on the disk; a failure or an
    // interrupt leaves nothing.
    filedriver::NewFile partial(archive, archive.fileName(true).substr(0, stemInTemporaryName) + packPrefix);
    partial.removeOnInterrupt();
    filedriver::ArchiveWriter writer(partial, plan, writerOptions);
    Progress progress("pack", total);
    for (PackSource& source : sources) {
        std::unique_ptr<FileDriver> opened;
        if (!source.spool)
            opened = std::make_unique<FileDriver>(source.file, filedriver::OpenReadBuffered);
        const std::uint64_t done = copyAll(
            source.spool ? *source.spool : *opened,
            [&](const std::uint8_t* bytes, std::uint32_t length) {
                if (!writer.append(bytes, length))
                    throw Failure("cannot write " + native(archive) + ": " + lastSystemError());
            },
            progress);
        if (done != source.size)
            throw Failure(native(source.file) + " changed while it was read");
    }
    if (!writer.finish())
        throw Failure("cannot write " + native(archive) + ": " + lastSystemError());
    if (!partial.commit(true))
        throw Failure("cannot replace " + native(archive) + ": " + lastSystemError());
}

} // namespace mca
