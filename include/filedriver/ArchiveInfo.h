#pragma once
// What an archive file (".mca") holds, for programs that list, inspect and check archives: its members
// in table order, its header's fields, its properties, where each block is stored, and a check of every
// block that names the damaged ones.
//
//   ArchiveInfo info(L"maps/europe.mca");
//   for (const FileEntry& member : info.members()) ...          // name and size, in table order
//   for (const DamagedBlock& block : info.verify()) ...         // empty: every block reads whole
//
// An ArchiveInfo shares the archive that the library loaded for its path, the one that FileDriver reads
// the members through: it stays valid, and the same, for the ArchiveInfo's life, also after
// releaseArchive. A copy shares it too. Nothing but verify and willNeed touches the file after
// construction, and every call but verify may run on several threads at once.
//
// The constructor throws orva::exception: "ArchiveManager: archive '<path>' not found" (NotFound) when no
// file has the path, the loader's text for a malformed header or table (Damaged, or Unsupported for
// another format, version or codec), and the file's when it cannot be opened (System, NotFound).

#include "filedriver/AFileCore.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace filedriver {

class OrvaArchive;

// One member as the table holds it.
struct FileEntry {
    std::uint32_t dataSize;
    std::uint32_t dataOffset; // start in the data stream (all members one after another)
    FilePath name;            // exactly as stored
};

// One field of the archive's header, named as the format names it ("magic", "fileCount", ...).
struct ArchiveHeaderField {
    const char* name;
    std::uint32_t value;
};

// Blocks `first` to `last`, both included.
struct BlockSpan {
    std::uint32_t first;
    std::uint32_t last;
};

// Bytes of one member from `start` up to `end` (not included), as offsets within the member.
struct MemberBytes {
    std::uint64_t start;
    std::uint64_t end;
};

// Where a block's stored bytes lie in the archive file.
struct StoredExtent {
    std::uint64_t offset;
    std::uint32_t size;
};

struct DamagedBlock {
    std::uint32_t block;
    // In table order: every member with at least one byte in the block.
    std::vector<std::wstring> members;
    // The text of the orva::exception that reading the block throws.
    std::string failure;
};

class ArchiveInfo {
public:
    // The archive that `archive` names or runs through (its archive part, FilePath.h: "x.mca/" is x.mca).
    explicit ArchiveInfo(const FilePath& archive);
    ~ArchiveInfo();
    ArchiveInfo(const ArchiveInfo&);
    ArchiveInfo& operator=(const ArchiveInfo&);

    // The archive file's path, as the library keys it.
    const FilePath& path() const;
    // Every member in table order. The names are decoded on the first call.
    const std::vector<FileEntry>& members() const;
    std::uint32_t memberCount() const;
    // The table index of the first member named exactly `name` (letter case counts), else memberCount().
    std::uint32_t findMember(const FilePath& name) const;
    bool hasMember(const FilePath& name) const;

    // The header's 15 fields in the order of the file.
    std::vector<ArchiveHeaderField> headerFields() const;
    std::uint32_t compressionType() const; // 0 stored, 1 zlib
    std::uint32_t blockSize() const;
    std::uint32_t blockCount() const;
    std::uint32_t dataLength() const;
    // Key to value, in key order.
    const std::map<std::wstring, std::wstring>& properties() const;

    // Where block `block` (below blockCount()) is stored in the file.
    StoredExtent storedBlock(std::uint32_t block) const;
    // The `length` bytes of the archive file at `offset` (stored blocks, StoredExtent) are about to be
    // read: the library may fetch them ahead from wherever it reads the archive (for a file on disk, the
    // system's read-ahead). A hint only: nothing fails, and nothing happens while no member of the
    // archive is open.
    void willNeed(std::uint64_t offset, std::uint64_t length) const;
    // Where the last block's stored bytes end: the least size of the whole archive file. A file
    // shorter than that (a copy cut short) has lost the blocks stored past its end.
    std::uint64_t blocksEnd() const;
    // The size of the archive file at its path now; -1 when it cannot be examined.
    std::int64_t fileSize() const;
    // The block that holds byte `offset` of `member` (offset within the member).
    std::uint32_t blockOfMember(const FileEntry& member, std::uint32_t offset) const;
    // The blocks that hold the `length` bytes of `member` from `offset` (for no bytes, the block of
    // `offset` alone).
    BlockSpan blocksOfMember(const FileEntry& member, std::uint64_t offset, std::uint64_t length) const;
    // The bytes of `member` that blocks `span` hold (none where they hold none of it).
    MemberBytes memberBytesOfBlocks(const FileEntry& member, BlockSpan span) const;

    // Opens member `index` (below memberCount()) for reading, as FileDriver opens its path in OpenRead,
    // without looking for the archive by its path: while any member of this archive is open, the file
    // that the first of them opened is the one read, also once the path names another file or none
    // (on Linux; Windows refuses to replace or delete an open file). Throws orva::exception when the
    // archive's file cannot be opened or is not the file whose index was loaded.
    std::unique_ptr<AFileCore> openMember(std::uint32_t index) const;

    // Decodes and checks every block in order, as a read of it would, telling `checked` after each (on
    // the caller's thread, for progress), and answers the damaged ones (kind Damaged) in block order.
    // `threads` decode ahead on a pool past the block cache (0: one per processor); with 1 each block is
    // checked through the cache on the caller's thread. The answer is the same for every count. Throws
    // orva::exception when the file cannot be opened (System, NotFound), has changed since it was loaded
    // (Changed), or when the threads cannot be started (System); a failure other than damage met at a
    // block ends the check with it.
    std::vector<DamagedBlock> verify(const std::function<void(std::uint32_t block)>& checked = {},
                                     unsigned threads = 0) const;

private:
    std::shared_ptr<OrvaArchive> archive;
};

// Forgets the library's loaded archive that `path` runs through (or names), so that the next open or
// ArchiveInfo loads its file afresh: for programs that run long or rewrite archives. False, and nothing
// changes, while a member of it is open or when the library holds no such archive.
bool releaseArchive(const FilePath& path);

} // namespace filedriver
