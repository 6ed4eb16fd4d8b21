#pragma once
// Reads one member of an archive as a file of its own, block by block through the manager's cache.
//
// The member is the archive entry named as the path's last component (the first such in table order);
// directories between the archive file and that name are not looked at. The constructor throws
// orva::exception when the archive cannot be had, its file cannot be opened, or no member has the
// name ("ArchiveCursor: file '<path>' not found in archive '<archive>'").
//
// Reads throw orva::exception "ArchiveCursor.read: integrity failed <n>" when the archive's data is
// damaged; a damaged block fails only when a read needs it, and is never served later as good.
// The cursor never writes: write returns 0, put does nothing.

#include "filedriver/AFileCore.h"
#include "filedriver/BlockCompression.h"
#include "filedriver/FilePath.h"

#include <cstdint>
#include <memory>

namespace filedriver {

class OrvaArchive;
struct FileEntry;

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

    // Decodes block `block` of the archive's data stream, unless the cache holds it already, and
    // checks it; throws the integrity failures that a read of it would.
    void checkBlock(std::uint32_t block);
    // Reads, decodes and checks block `block` into `decoded`, past the cache, and throws the integrity
    // failures that a read of it would. Several cursors of one archive may decode at once on several
    // threads, each cursor on one thread at a time.
    void decodeBlock(std::uint32_t block, ByteBuffer& decoded);

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
    bool inReadAhead(std::uint64_t streamPosition) const;
    std::uint32_t copyReadAhead(std::uint64_t streamPosition, std::uint8_t* buffer, std::uint32_t wanted) const;
    // The checks of a stored block before it is read; its offset in the file and the length it gives.
    std::uint64_t locateBlock(std::uint32_t block, std::uint32_t& expected);
    // The same checks, reporting the number of the first that fails (0: none) instead of throwing.
    int blockFault(std::uint32_t block, std::uint32_t& expected, std::uint64_t& fileOffset);
    // Holds `block` in the cache, decoded, while `use` reads it.
    template <class Use>
    void withDecodedBlock(std::uint32_t block, Use use);
    // Reads and decodes `block` into `decoded`, or throws.
    void loadBlock(std::uint32_t block, ByteBuffer& decoded);
    // The same, reporting the number of the failed check (0: none) and logging nothing.
    int fillBlock(std::uint32_t block, ByteBuffer& decoded);
    // Decodes `count` blocks from `first` on, outside the cache, side by side at `out`, adding to
    // `decoded` and `bytes` as each comes out; the failed check of the next block (0: all done).
    int decodeBlocks(std::uint32_t first, std::uint32_t count, std::uint8_t* out, std::uint32_t& decoded,
                     std::size_t& bytes);
    // readAhead with room for `size` bytes, grown if it must be; its bytes are then undefined.
    std::uint8_t* readAheadRoom(std::size_t size);

    std::uint8_t scratch[scratchSize] = {};
    // Shared with the manager: a release of the archive by another thread leaves it to this cursor.
    std::shared_ptr<OrvaArchive> archive;
    // Each cursor decodes with its own codec into its own buffer, so that cursors of several threads
    // can load blocks at once.
    std::unique_ptr<ABlockCompression> codec;
    ByteBuffer storedBytes;
    // Bytes of the data stream from readAheadStart on, kept for reads that follow each other: the rest
    // of one block read from the file for stored archives; for compressed ones, whole blocks from the
    // one read up to the member's end (1 MiB of blocks at most), from the cache or decoded here.
    static constexpr std::uint64_t noReadAhead = 0x100000000;
    std::unique_ptr<std::uint8_t[]> readAhead;
    std::size_t readAheadCapacity = 0;
    std::size_t readAheadSize = 0;
    std::uint64_t readAheadStart = noReadAhead;
    // Where in the data stream the previous read ended (none yet: beyond any 32-bit position).
    std::uint64_t sequentialPosition = 0x100000000;
    // Blocks the next run of reads that follow each other takes: doubled from 2 with every run, back to
    // 2 after a read elsewhere, so that a program reading a little in order pays for little more.
    std::uint32_t runBlocks = 2;
    std::int32_t position = 0;
    std::uint32_t memberIndex = 0;
};

} // namespace filedriver
