#include "mca/McaCommands.h"

#include "filedriver/ArchiveCursor.h"
#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "mca/Console.h"
#include "orva/WideText.h"

#include <cstdio>
#include <memory>
#include <set>

namespace mca {
namespace {

using filedriver::FileDriver;
using filedriver::FilePath;

constexpr std::uint32_t copyPieceSize = 1 << 20;
// Work smaller than this finishes before a progress line would be read.
constexpr std::uint64_t progressThreshold = 4u << 20;
constexpr wchar_t packSuffix[] = L".pack-tmp";

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

// The tool names archives by their file; a path through one is no archive here.
filedriver::OrvaArchive* openArchive(const FilePath& archive)
{
    if (filedriver::archivePart(archive) != archive)
        throw Failure(native(archive) + ": an archive's name ends in .mca");
    return filedriver::archiveManager.getArchive(archive);
}

FilePath memberPath(const FilePath& archive, const std::wstring& name)
{
    return FilePath(archive + filedriver::Separators[0] + name);
}

// Copies `from` to `to` in pieces; `progress` sees every piece.
void copy(FileDriver& from, FileDriver* to, std::uint64_t expected, const std::string& what, Progress& progress)
{
    std::vector<std::uint8_t> piece(copyPieceSize);
    std::uint64_t total = 0;
    for (std::uint32_t got; (got = from.read(piece.data(), copyPieceSize)) > 0; total += got) {
        if (to ? to->write(piece.data(), got) != got : std::fwrite(piece.data(), 1, got, stdout) != got)
            throw Failure("cannot write " + (to ? what : std::string("standard output")) + ": " + lastSystemError());
        progress.advance(got);
    }
    if (total != expected)
        throw Failure("reading " + what + " stopped after " + std::to_string(total) + " of " + std::to_string(expected)
                      + " bytes");
}

// Why a member may not become a file below the target directory; empty when it may.
const char* refusedName(const std::wstring& name)
{
    if (name.empty())
        return "it is empty";
    if (name == L"." || name == L"..")
        return "it names a directory";
    for (const wchar_t c : name) {
        if (filedriver::isSeparator(c))
            return "it holds a separator";
        if (c == L':')
            return "it holds a drive colon";
        if (c == 0)
            return "it holds a NUL";
    }
    return nullptr;
}

} // namespace

void listMembers(const FilePath& archive)
{
    for (const filedriver::FileEntry& entry : openArchive(archive)->members())
        std::printf("%u\t%s\n", entry.dataSize, native(entry.name).c_str());
}

void showInfo(const FilePath& archive)
{
    const filedriver::OrvaArchive* loaded = openArchive(archive);
    const char* const* names = filedriver::archiveHeaderFieldNames();
    for (std::size_t i = 0; i < filedriver::archiveHeaderFieldCount; ++i)
        std::printf(i == 0 ? "%s: 0x%08x\n" : "%s: %u\n", names[i],
                    filedriver::archiveHeaderField(loaded->archiveHeader(), i));
    for (const auto& property : loaded->propertyTable())
        std::printf("property %s=%s\n", native(property.first).c_str(), native(property.second).c_str());
}

void catFiles(const std::vector<FilePath>& paths)
{
    useBinaryOutput();
    for (const FilePath& path : paths) {
        FileDriver file(path, filedriver::OpenReadBuffered);
        Progress quiet("cat", 0);
        copy(file, nullptr, static_cast<std::uint64_t>(file.size()), native(path), quiet);
    }
    std::fflush(stdout);
}

void extractMembers(const FilePath& archive, const FilePath& directory, bool force)
{
    const filedriver::OrvaArchive* loaded = openArchive(archive);
    const FilePath into = directory.withTrailingSeparator(true);
    std::set<std::wstring> seen;
    std::uint64_t total = 0;
    // Everything is refused before anything is written.
    for (const filedriver::FileEntry& entry : loaded->members()) {
        if (const char* why = refusedName(entry.name))
            throw Failure("refusing member name '" + native(entry.name) + "': " + why);
        if (!seen.insert(entry.name).second)
            throw Failure("refusing member name '" + native(entry.name) + "': two members have it");
        const FilePath target(into + entry.name);
        if (!force && (filedriver::pathExists(target, false) || filedriver::pathExists(target, true)))
            throw Failure(native(target) + " exists (--force overwrites it)");
        total += entry.dataSize;
    }
    if (!filedriver::createDirectories(directory))
        throw Failure("cannot create directory " + native(directory));
    Progress progress("extract", total);
    for (const filedriver::FileEntry& entry : loaded->members()) {
        FileDriver from(memberPath(archive, entry.name), filedriver::OpenRead);
        const FilePath target(into + entry.name);
        FileDriver to(target, filedriver::CreateWriteBuffered);
        copy(from, &to, entry.dataSize, native(target), progress);
        // Moving back to the start hands the last bytes over now, where a failure shows.
        if (entry.dataSize > 0 && to.seek(0, filedriver::SeekBegin) == -1)
            throw Failure("cannot write " + native(target) + ": " + lastSystemError());
    }
}

void verifyArchive(const FilePath& archive)
{
    const filedriver::OrvaArchive* loaded = openArchive(archive);
    const filedriver::ArchiveHeader& header = loaded->archiveHeader();
    if (header.blockCount > 0) {
        // Any member that a path can name lets a cursor reach every block of the archive.
        const filedriver::FileEntry* reachable = nullptr;
        for (const filedriver::FileEntry& entry : loaded->members())
            if (!reachable && !refusedName(entry.name))
                reachable = &entry;
        if (!reachable)
            throw Failure(native(archive) + ": no member can be opened by name");
        filedriver::ArchiveCursor cursor(memberPath(archive, reachable->name), filedriver::OpenRead);
        Progress progress("verify", header.dataLength);
        for (std::uint32_t block = 0; block < header.blockCount; ++block) {
            cursor.checkBlock(block);
            progress.advance(header.blockSize);
        }
    }
    std::printf("ok: %u members, %u blocks, %u bytes\n", header.fileCount, header.blockCount, header.dataLength);
}

void packFiles(const FilePath& archive, const std::vector<FilePath>& files, const PackOptions& options)
{
    if (filedriver::archivePart(archive) != archive)
        throw Failure(native(archive) + ": an archive's name ends in .mca");
    std::vector<filedriver::ArchiveMemberPlan> plan;
    std::set<std::wstring> names;
    std::uint64_t total = 0;
    for (const FilePath& file : files) {
        const FilePath name = file.fileName(false);
        if (name.empty())
            throw Failure(native(file) + ": no file name");
        if (!names.insert(name).second)
            throw Failure("two files would be the member '" + native(name) + "'");
        const std::int32_t size = FileDriver(file, filedriver::OpenReadBuffered).size();
        if (size < 0)
            throw Failure("cannot tell the size of " + native(file));
        plan.push_back({name, static_cast<std::uint32_t>(size)});
        total += static_cast<std::uint64_t>(size);
    }

    filedriver::ArchiveWriterOptions writerOptions;
    writerOptions.blockSize = options.blockSize;
    writerOptions.compressionType = options.store ? 0 : 1;
    writerOptions.level = options.store ? -1 : options.level;
    writerOptions.properties = options.properties;
    writerOptions.threads = options.threads;
    // The target changes only once the whole archive stands beside it; a failure leaves nothing.
    const FilePath partial(archive.substr(0, archive.size() - 4) + packSuffix + archive.substr(archive.size() - 4));
    try {
        {
            filedriver::ArchiveWriter writer(partial, plan, writerOptions);
            Progress progress("pack", total);
            std::vector<std::uint8_t> piece(copyPieceSize);
            for (std::size_t i = 0; i < files.size(); ++i) {
                FileDriver from(files[i], filedriver::OpenReadBuffered);
                std::uint64_t done = 0;
                for (std::uint32_t got; (got = from.read(piece.data(), copyPieceSize)) > 0; done += got) {
                    if (!writer.append(piece.data(), got))
                        throw Failure("cannot write " + native(partial) + ": " + lastSystemError());
                    progress.advance(got);
                }
                if (done != plan[i].size)
                    throw Failure(native(files[i]) + " changed while it was read");
            }
            if (!writer.finish())
                throw Failure("cannot write " + native(partial) + ": " + lastSystemError());
        }
        if (!replaceFile(partial, archive))
            throw Failure("cannot replace " + native(archive) + ": " + lastSystemError());
    } catch (...) {
        removeFile(partial);
        throw;
    }
}

} // namespace mca
