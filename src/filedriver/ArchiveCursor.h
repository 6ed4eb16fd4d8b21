#pragma once
// Reads one member of an archive as a file of its own, on top of the archive's blocks (ArchiveBlocks):
// through the block cache where readers share blocks, and for a reader going on in order, runs of
// blocks decoded ahead into a buffer of its own.
//
// The member is the archive entry named as the path's last component (the first such in table order);
// directories between the archive file and that name are not looked at. The constructor throws
// orva::exception when the archive cannot be had or its file cannot be opened (BlockReader), or no
// member has the name ("ArchiveCursor: file '<path>' not found in archive '<archive>'", NotFound).
//
// Reads throw the block failures of ArchiveBlocks ("ArchiveCursor.read: integrity failed <n>",
// Damaged) when the archive's data is damaged; a damaged block fails only when a read needs it, and is
// never served later as good. The cursor never writes: write returns 0, put does nothing.

#include "filedriver/AFileCore.h"
#include "filedriver/BlockDecodeAhead.h"
#include "filedriver/BlockReader.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class ArchiveCursor : public AFileCore {
public:
    ArchiveCursor(const FilePath& path, std::uint32_t mode);
    // Member `memberIndex` (below the archive's fileCount) of `archive`, found without its path.
    ArchiveCursor(std::shared_ptr<OrvaArchive> archive, std::uint32_t memberIndex, std::uint32_t mode);
    ~ArchiveCursor() override;

    // Refuses (-1, position kept) an unknown origin, or a target below 0 or beyond the member's size.
    std::int32_t seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t tell() override;
    std::int32_t size() override;
    std::uint32_t read(void* buffer, std::uint32_t length) override;
    std::uint32_t write(const void* buffer, std::uint32_t length) override;
    // At most 4 bytes; bytes past the member's end read as zeros.
    const std::uint8_t* fetch(std::uint32_t length) override;
    void put(const void* buffer, std::uint32_t length) override;

    // Where the member starts in the archive's data stream.
    std::uint32_t dataOffset() const;
    // The archive read, shared with the manager.
    const std::shared_ptr<OrvaArchive>& archive() const { return reader.sharedArchive(); }

private:
    static constexpr std::uint32_t scratchSize = 4;

    // The member's size and offset; its name is not decoded here.
    const FileEntry& member() const;
    // As much of the request as the block holding the position gives; `sequential` when the read
    // began where the one before it ended.
    std::uint32_t readChunk(std::uint8_t* buffer, std::uint32_t length, bool sequential);
    // The reading of a compressionType 0 archive: up to `wanted` bytes of `block` from `within` on.
    std::uint32_t readStored(std::uint32_t block, std::uint32_t within, bool sequential, std::uint8_t* buffer,
                             std::uint32_t wanted);
    // The same for a compressed archive, through the block cache.
    std::uint32_t readDecoded(std::uint32_t block, std::uint32_t within, bool sequential, std::uint8_t* buffer,
                              std::uint32_t wanted);
    // The same for a reader in order of an archive that decodes ahead, from its ring of decoded blocks;
    // 0 where the ring has not got the block (it failed a check there).
    std::uint32_t readDecodedAlongside(std::uint32_t block, std::uint32_t within, std::uint8_t* buffer,
                                       std::uint32_t wanted, BlockDecodeAhead& ahead);
    bool inReadAhead(std::uint64_t streamPosition) const;
    std::uint32_t copyReadAhead(std::uint64_t streamPosition, std::uint8_t* buffer, std::uint32_t wanted) const;
    // readAhead with room for `size` bytes, grown if it must be; its bytes are then undefined.
    std::uint8_t* readAheadRoom(std::size_t size);

    std::uint8_t scratch[scratchSize] = {};
    // Attached for the cursor's life: a release of the archive by another thread leaves it to this cursor.
    BlockReader reader;
    ArchiveBlocks& blocks;
    // Bytes of the data stream from readAheadStart on, kept for reads that follow each other: the rest
    // of one block read from the file for stored archives; for compressed ones, whole blocks from the
    // one read up to the member's end (1 MiB of blocks at most), from the cache or decoded here.
    static constexpr std::uint64_t noReadAhead = 0x100000000;
    std::unique_ptr<std::uint8_t[]> readAhead;
    std::size_t readAheadCapacity = 0;
    std::size_t readAheadSize = 0;
    std::uint64_t readAheadStart = noReadAhead;
    // The latest block this cursor told the archive's decoding ahead of (BlockDecodeAhead::readingAt).
    std::uint32_t latestToldAhead = BlockDecodeAhead::none;
    // Where in the data stream the previous read ended (none yet: beyond any 32-bit position).
    std::uint64_t sequentialPosition = 0x100000000;
    // Blocks the next run of reads that follow each other takes: doubled from 2 with every run, back to
    // 2 after a read elsewhere, so that a program reading a little in order pays for little more.
    std::uint32_t runBlocks = 2;
    std::int32_t position = 0;
    std::uint32_t memberIndex = 0;
};

} // namespace filedriver
