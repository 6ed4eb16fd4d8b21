#include "McaCommands.h"

#include "Console.h"
#include "EscapedText.h"
#include "Failure.h"
#include "MemberNames.h"
#include "Progress.h"

#include "filedriver/FileDriver.h"
#include "filedriver/FilePlatform.h"
#include "filedriver/MemberReader.h"
#include "filedriver/NewFile.h"
#include "filedriver/SystemError.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

namespace mca {
namespace {

using filedriver::FileDriver;
using filedriver::FilePath;
using filedriver::lastSystemError;

// Members of this many blocks or more are decoded ahead on a pool. Smaller ones read through the
// cache, which decodes a block that several small members share once, not once for each.
constexpr std::uint64_t parallelFromBlocks = 4;
// Temporary names: never ".mca" at their end, so that nothing takes one for an archive.
constexpr wchar_t extractPrefix[] = L".~extract-";
constexpr wchar_t standardInputPath[] = L"-";

// A failure of one file among several: said, and the others follow.
struct FileFailure {
    std::string text;
};

FilePath memberPath(const FilePath& archive, const std::wstring& name)
{
    // A URL's member follows a '/', after the query if the archive has one.
    const wchar_t separator = filedriver::isRemotePath(archive) ? L'/' : filedriver::Separators[0];
    return FilePath(archive + separator + name);
}

// A path as messages name it: a URL without its query and credentials, control characters escaped.
std::string shownFile(const FilePath& path)
{
    return shown(filedriver::shownPath(path));
}

// Without the separators after an archive's name ("all.mca/").
FilePath withoutTrailingSeparators(const FilePath& archive)
{
    const FilePath trimmed = archive.trimmedRight(filedriver::Separators);
    return trimmed.empty() ? archive : trimmed;
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

// Copies the file at `path` (plain, or a member through its archive) through `write`, which throws
// Failure. Opening failures throw the library's exception; a damaged block throws FileFailure
// "<label>: block <k>: <text>", and so does a file that ends before its size.
template <class Write>
void copyFile(const FilePath& path, const std::string& label, unsigned threads, Write write, Progress& progress)
{
    // Unbuffered: pieces this large would only be copied once more through a stream's window.
    FileDriver from(path, filedriver::OpenRead);
    const std::unique_ptr<filedriver::MemberReader> ahead = readAhead(path, from, threads);
    std::uint64_t total = 0;
    try {
        total = ahead ? copyAll(*ahead, write, progress) : copyAll(from, write, progress);
    } catch (const orva::exception& error) {
        if (error.kind() != orva::ErrorKind::Damaged || error.block() < 0)
            throw;
        throw FileFailure{label + ": block " + std::to_string(error.block()) + ": " + error.what()};
    }
    const std::int32_t expected = from.size();
    if (expected >= 0 && total != static_cast<std::uint64_t>(expected))
        throw FileFailure{"reading " + label + " stopped after " + std::to_string(total) + " of "
                          + std::to_string(expected) + " bytes"};
}

void writeStandardOutput(const std::uint8_t* bytes, std::uint32_t length)
{
    if (std::fwrite(bytes, 1, length, stdout) != length)
        throw Failure("cannot write standard output: " + lastSystemError());
}

// A stream (standard input, a pipe, a device) to its end: it has no size to check.
template <class Stream>
void copyStream(Stream& from)
{
    Progress quiet("cat", 0);
    copyAll(from, writeStandardOutput, quiet);
}

// The library says only "not found" for what it cannot take as an archive file: opening the file
// throws the library's exception with the system's reason (no such file, a directory, ...). A URL's
// load says why itself.
void throwWhyUnopenable(const FilePath& archive)
{
    if (filedriver::isRemotePath(archive))
        return;
    const filedriver::FileKind kind = filedriver::fileKind(archive);
    if (kind == filedriver::FileKind::missing || kind == filedriver::FileKind::directory)
        filedriver::FilePlatform(archive, filedriver::OpenRead);
}

void catOne(const FilePath& path, unsigned threads)
{
    Progress quiet("cat", 0);
    if (path.compare(standardInputPath) == 0) {
        const std::unique_ptr<filedriver::FilePlatform> input = filedriver::FilePlatform::standardInput();
        if (!input)
            throw FileFailure{"cannot read standard input: " + lastSystemError()};
        copyStream(*input);
    } else if (filedriver::fileKind(path) == filedriver::FileKind::stream) {
        FileDriver from(path, filedriver::OpenRead);
        copyStream(from);
    } else {
        if (filedriver::isArchivePath(path))
            throwWhyUnopenable(filedriver::archivePart(path));
        copyFile(path, shownFile(path), threads, writeStandardOutput, quiet);
    }
}

// Says on standard error when the archive file is shorter than its blocks end, naming the blocks cut;
// false then.
bool sayIfCutShort(const filedriver::ArchiveInfo& loaded)
{
    const std::int64_t size = loaded.fileSize();
    const std::uint64_t end = loaded.blocksEnd();
    if (size < 0 || std::uint64_t(size) >= end)
        return true;
    std::uint32_t first = loaded.blockCount();
    while (first > 0) {
        const filedriver::StoredExtent stored = loaded.storedBlock(first - 1);
        if (stored.offset + stored.size <= std::uint64_t(size))
            break;
        --first;
    }
    const std::uint32_t last = loaded.blockCount() - 1;
    const std::string blocks = first == last ? "block " + std::to_string(last) + " is"
                                             : "blocks " + std::to_string(first) + " to " + std::to_string(last) + " are";
    std::fprintf(stderr, "mca: %s is cut short: it has %lld bytes, its blocks end at byte %llu (%s cut)\n",
                 shownFile(loaded.path()).c_str(), static_cast<long long>(size), static_cast<unsigned long long>(end),
                 blocks.c_str());
    return false;
}

// One member into `target`, whole or not at all.
void extractMember(const FilePath& archive, const filedriver::FileEntry& entry, const FilePath& target, bool force,
                   unsigned threads, Progress& progress)
{
    filedriver::NewFile to(target, extractPrefix);
    to.removeOnInterrupt();
    try {
        copyFile(
            memberPath(archive, entry.name), shown(entry.name), threads,
            [&](const std::uint8_t* bytes, std::uint32_t length) {
                if (to.write(bytes, length) != length)
                    throw Failure("cannot write " + shown(target) + ": " + lastSystemError());
            },
            progress);
    } catch (const orva::exception& error) {
        throw FileFailure{shown(entry.name) + ": " + failureText(error)};
    }
    if (!to.commit(force)) {
        if (!force && filedriver::entryExists(target))
            throw Failure(shown(target) + " exists (--force overwrites it)");
        throw Failure("cannot write " + shown(target) + ": " + lastSystemError());
    }
}

// The members of `loaded` that `only` names (all without names), checked as extract writes them:
// everything is refused before anything is written.
std::vector<filedriver::FileEntry> membersToExtract(const filedriver::ArchiveInfo& loaded, const FilePath& archive,
                                                    const FilePath& into, const std::vector<std::wstring>& only,
                                                    bool force)
{
    std::vector<std::wstring> names;
    for (const filedriver::FileEntry& entry : loaded.members())
        names.push_back(entry.name);
    std::vector<std::size_t> positions;
    std::wstring unknown;
    if (!chooseMembers(names, only, positions, unknown))
        throw Failure("no member '" + shown(unknown) + "' in " + shownFile(archive));
    const std::set<std::size_t> chosen(positions.begin(), positions.end());
    for (const NameProblem& problem : nameProblems(names, hostPlatform()))
        if (chosen.count(problem.member))
            throw Failure("refusing member name '" + shown(names[problem.member])
                          + "': " + (problem.refused ? problem.refused : "two members have it"));
    std::vector<filedriver::FileEntry> entries;
    for (const std::size_t k : positions) {
        const filedriver::FileEntry& entry = loaded.members()[k];
        const FilePath target(into + entry.name);
        if (!force && filedriver::entryExists(target))
            throw Failure(shown(target) + " exists (--force overwrites it)");
        entries.push_back(entry);
    }
    return entries;
}

void makeDirectory(const FilePath& directory)
{
    if (filedriver::entryExists(directory) && filedriver::fileKind(directory) != filedriver::FileKind::directory)
        throw Failure("cannot extract into " + shown(directory) + ": it is not a directory");
    if (!filedriver::createDirectories(directory))
        throw Failure("cannot create directory " + shown(directory) + ": " + lastSystemError());
}

// One line per name that extract would refuse here or that no lookup reaches; their count.
std::size_t sayNameProblems(const filedriver::ArchiveInfo& loaded)
{
    std::vector<std::wstring> names;
    for (const filedriver::FileEntry& entry : loaded.members())
        names.push_back(entry.name);
    const std::vector<NameProblem> problems = nameProblems(names, hostPlatform());
    for (const NameProblem& problem : problems) {
        const std::string member = "member " + std::to_string(problem.member) + " '" + shown(names[problem.member]) + "'";
        if (problem.refused)
            std::fprintf(stderr, "mca: %s cannot be extracted on %s: %s\n", member.c_str(),
                         platformName(hostPlatform()), problem.refused);
        else
            std::fprintf(stderr, "mca: %s cannot be reached: member %zu has the same name\n", member.c_str(),
                         problem.sameNameAs);
    }
    return problems.size();
}

// One line per damaged block, naming its members; their count.
std::size_t sayDamagedBlocks(const filedriver::ArchiveInfo& loaded, unsigned threads)
{
    std::vector<filedriver::DamagedBlock> damaged;
    {
        Progress progress("verify", loaded.dataLength());
        damaged = loaded.verify([&](std::uint32_t) { progress.advance(loaded.blockSize()); }, threads);
    }
    for (const filedriver::DamagedBlock& block : damaged) {
        std::string names;
        for (const std::wstring& name : block.members)
            names += (names.empty() ? "" : ", ") + shown(name);
        std::fprintf(stderr, "mca: damaged: block %u (members %s): %s\n", block.block, names.c_str(),
                     block.failure.c_str());
    }
    return damaged.size();
}

} // namespace

filedriver::ArchiveInfo openArchive(const FilePath& given)
{
    const FilePath archive = withoutTrailingSeparators(given);
    if (filedriver::archivePart(archive) != archive)
        throw Failure(shownFile(given) + ": an archive's name ends in .mca");
    throwWhyUnopenable(archive);
    return filedriver::ArchiveInfo(archive);
}

bool listMembers(const FilePath& archive)
{
    const filedriver::ArchiveInfo loaded = openArchive(archive);
    const bool whole = sayIfCutShort(loaded);
    for (const filedriver::FileEntry& entry : loaded.members())
        std::printf("%u\t%s\n", entry.dataSize, orva::toNative(entry.name).c_str());
    return whole;
}

bool showInfo(const FilePath& archive)
{
    const filedriver::ArchiveInfo loaded = openArchive(archive);
    const bool whole = sayIfCutShort(loaded);
    bool first = true;
    for (const filedriver::ArchiveHeaderField& field : loaded.headerFields()) {
        std::printf(first ? "%s: 0x%08x\n" : "%s: %u\n", field.name, field.value);
        first = false;
    }
    for (const auto& property : loaded.properties())
        std::printf("property %s=%s\n", orva::toNative(property.first).c_str(), orva::toNative(property.second).c_str());
    return whole;
}

bool catFiles(const std::vector<FilePath>& paths, unsigned threads)
{
    useBinaryOutput();
    bool whole = true;
    for (const FilePath& path : paths) {
        try {
            catOne(path, threads);
            continue;
        } catch (const FileFailure& failure) {
            std::fflush(stdout);
            std::fprintf(stderr, "mca: %s\n", failure.text.c_str());
        } catch (const orva::exception& error) {
            std::fflush(stdout);
            std::fprintf(stderr, "mca: %s\n", failureText(error).c_str());
        }
        whole = false;
    }
    if (std::fflush(stdout) != 0)
        throw Failure("cannot write standard output: " + lastSystemError());
    return whole;
}

bool extractMembers(const FilePath& given, const FilePath& directory, const std::vector<std::wstring>& only, bool force,
                    bool stopOnError, unsigned threads)
{
    const filedriver::ArchiveInfo loaded = openArchive(given);
    const FilePath archive = withoutTrailingSeparators(given);
    sayIfCutShort(loaded);
    const FilePath into = directory.withTrailingSeparator();
    const std::vector<filedriver::FileEntry> chosen = membersToExtract(loaded, given, into, only, force);
    makeDirectory(directory);
    std::uint64_t total = 0;
    for (const filedriver::FileEntry& entry : chosen)
        total += entry.dataSize;
    Progress progress("extract", total);
    bool whole = true;
    for (const filedriver::FileEntry& entry : chosen) {
        try {
            extractMember(archive, entry, FilePath(into + entry.name), force, threads, progress);
            continue;
        } catch (const FileFailure& failure) {
            std::fprintf(stderr, "mca: %s\n", failure.text.c_str());
        } catch (const Failure& failure) {
            std::fprintf(stderr, "mca: %s\n", failure.what());
        } catch (const orva::exception& error) {
            std::fprintf(stderr, "mca: %s: %s\n", shown(entry.name).c_str(), failureText(error).c_str());
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
    const bool whole = sayIfCutShort(loaded);
    const std::size_t badNames = sayNameProblems(loaded);
    const std::size_t damaged = sayDamagedBlocks(loaded, threads);
    if (badNames)
        std::fprintf(stderr, "mca: %zu of %u member names would be refused\n", badNames, loaded.memberCount());
    if (damaged)
        std::fprintf(stderr, "mca: %zu of %u blocks damaged\n", damaged, loaded.blockCount());
    if (!whole || badNames || damaged)
        return false;
    std::printf("ok: %u members, %u blocks, %u bytes\n", loaded.memberCount(), loaded.blockCount(),
                loaded.dataLength());
    return true;
}

} // namespace mca
