#include "filedriver/ArchiveVerify.h"

#include "filedriver/ArchiveCursor.h"
#include "filedriver/ArchiveManager.h"
#include "filedriver/ParallelBlockReader.h"
#include "orva/Log.h"
#include "orva/exception.h"

#include <algorithm>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveVerify.cpp";
constexpr int unreachableSite = 65;

FilePath memberPath(const FilePath& archive, const std::wstring& name)
{
    return FilePath(archive + Separators[0] + name);
}

// A path that names the member leads a cursor to it: its name holds no separator, and the path runs
// through this archive and no other.
bool reachable(const FilePath& archive, const std::wstring& name)
{
    return std::none_of(name.begin(), name.end(), isSeparator) && archivePart(memberPath(archive, name)) == archive;
}

} // namespace

std::uint32_t blockOfMember(const ArchiveHeader& header, const FileEntry& entry, std::uint32_t offset)
{
    return static_cast<std::uint32_t>((std::uint64_t(entry.dataOffset) + offset) / header.blockSize);
}

std::vector<std::uint32_t> membersInBlock(const OrvaArchive& archive, std::uint32_t block)
{
    const ArchiveHeader& header = archive.archiveHeader();
    const std::vector<FileEntry>& entries = archive.members();
    const std::uint64_t start = std::uint64_t(block) * header.blockSize;
    const std::uint64_t end = start + header.blockSize;
    // Members lie one after another in table order: the first that ends beyond the block's start.
    auto first = std::partition_point(entries.begin(), entries.end(), [&](const FileEntry& entry) {
        return std::uint64_t(entry.dataOffset) + entry.dataSize <= start;
    });
    std::vector<std::uint32_t> result;
    for (auto entry = first; entry != entries.end() && entry->dataOffset < end; ++entry)
        if (entry->dataSize > 0)
            result.push_back(static_cast<std::uint32_t>(entry - entries.begin()));
    return result;
}

std::vector<DamagedBlock> findDamagedBlocks(const FilePath& archive,
                                            const std::function<void(std::uint32_t block)>& checked,
                                            unsigned threads)
{
    const OrvaArchive* loaded = archiveManager.getArchive(archive);
    const ArchiveHeader& header = loaded->archiveHeader();
    std::vector<DamagedBlock> damaged;
    if (header.blockCount == 0)
        return damaged;
    // Any member that a path can name lets a cursor reach every block of the archive.
    const std::vector<FileEntry>& entries = loaded->members();
    const auto named = std::find_if(entries.begin(), entries.end(),
                                    [&](const FileEntry& entry) { return reachable(archive, entry.name); });
    if (named == entries.end())
        orva::throwLogged(sourcePath, unreachableSite, "archive '%ls': no member can be opened by name", archive.c_str());
    const FilePath reach = memberPath(archive, named->name);
    const auto record = [&](std::uint32_t block, const orva::exception& error) {
        DamagedBlock found{block, {}, error.what()};
        for (const std::uint32_t member : membersInBlock(*loaded, block))
            found.members.push_back(entries[member].name);
        damaged.push_back(std::move(found));
    };
    if (threads == 1) {
        ArchiveCursor cursor(reach, OpenRead);
        for (std::uint32_t block = 0; block < header.blockCount; ++block) {
            try {
                cursor.checkBlock(block);
            } catch (const orva::exception& error) {
                record(block, error);
            }
            if (checked)
                checked(block);
        }
        return damaged;
    }
    ParallelBlockReader reader(reach, 0, header.blockCount, threads);
    for (DecodedBlock block; reader.next(block);) {
        if (block.failure) {
            try {
                std::rethrow_exception(block.failure);
            } catch (const orva::exception& error) {
                record(block.index, error);
            }
        }
        if (checked)
            checked(block.index);
    }
    return damaged;
}

} // namespace filedriver
