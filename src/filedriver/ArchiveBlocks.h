#pragma once
// The blocks of one loaded archive: how its data stream is cut into blocks, where each is stored, and
// reading, checking and decoding them by number, into the block cache or into a caller's buffer, one
// at a time or a run at once. Every reader of an archive's blocks (ArchiveCursor for one member,
// ParallelBlockReader, verify) reaches them here.
//
// Owned by its OrvaArchive and built with its index, which it never changes. The stored bytes come from
// the archive's ArchiveSource, open while readers are attached (OrvaArchive::attachReader); the reading
// operations may be called only then. What blocks are laid out as is ArchiveFormat.h's.
//
// Failures: a block that fails a check throws orva::exception "ArchiveCursor.read: integrity failed <n>",
// kind Damaged with the block's number (n 3 to 8), after a trace line naming the cursor's source, where
// readers have always found it; a position past the data (1) or a block past the last (2) has no block
// to name. A source that finds the file changed under it fails as OrvaArchive's changed check does. A
// damaged block fails every time it is read and is never served, or cached, as good.
//
// Threads: the arithmetic and checks need no lock; the reads run beside each other (the source's reads
// do), each reader with a BlockDecoder of its own. The cache takes the manager's lock (ArchiveManager.h).

#include "filedriver/ArchiveFormat.h"
#include "filedriver/ArchiveSource.h"
#include "filedriver/BlockCompression.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace filedriver {

class ArchiveManager;
class BlockDecodeAhead;
class OrvaArchive;

struct StoredBlock {
    std::uint32_t storedSize;
    std::uint32_t storedOffset; // from blocksOffset
};

// One block of a run held in the cache; the holder sets `filled` once it has filled the buffer.
struct BlockGrant {
    std::int32_t block;
    ByteBuffer* buffer;
    bool filled;
};

// The blocks [first, end).
struct BlockRange {
    std::uint32_t first;
    std::uint32_t end;
};

// A reader's own means of decoding: the archive's codec and room for stored bytes. One thread at a time.
struct BlockDecoder {
    explicit BlockDecoder(std::uint32_t compressionType);

    std::unique_ptr<ABlockCompression> codec;
    ByteBuffer stored;
};

class ArchiveBlocks {
public:
    // The longest run decoded or held at once.
    static constexpr std::uint32_t mostRunBlocks = 16;
    // Buffers get room for a whole block ahead of need up to this block size (a damaged header may claim
    // any).
    static constexpr std::uint32_t mostReservedBlock = 16u << 20;

    // How many blocks of `blockSize` bytes hold `dataLength` bytes (for a layout still being planned).
    static std::uint64_t countFor(std::uint64_t dataLength, std::uint32_t blockSize);

    ArchiveBlocks();
    // `owner` keys the blocks in `manager`'s cache (none: blocks read past the cache only).
    ArchiveBlocks(const ArchiveHeader& header, std::vector<StoredBlock> stored, const OrvaArchive* owner,
                  ArchiveManager* manager);
    ArchiveBlocks(ArchiveBlocks&&) noexcept;
    ArchiveBlocks& operator=(ArchiveBlocks&&) noexcept;
    ~ArchiveBlocks();

    std::uint32_t count() const { return header.blockCount; }
    std::uint32_t blockSize() const { return header.blockSize; }
    std::uint32_t dataLength() const { return header.dataLength; }
    // The block holding byte `offset` of the data stream.
    std::uint32_t blockOf(std::uint64_t offset) const { return static_cast<std::uint32_t>(offset / header.blockSize); }
    std::uint64_t startOf(std::uint32_t block) const { return std::uint64_t(block) * header.blockSize; }
    // What block `block` decodes to: blockSize bytes, the rest of the data for the last.
    std::uint32_t lengthOf(std::uint32_t block) const;
    // The blocks holding the `length` bytes of the data stream from `start`, as far as the data goes.
    BlockRange blocksHolding(std::uint64_t start, std::uint64_t length) const;
    const std::vector<StoredBlock>& stored() const { return storedBlocks; }
    // Where block `block` is stored in the archive file.
    std::uint64_t storedOffset(std::uint32_t block) const;

    // The source of the stored bytes, while readers are attached. A compressed archive in the cache, on a
    // machine of several processors, decodes ahead for readers in order while open; close stops that
    // before it lets the source go.
    void open(std::unique_ptr<ArchiveSource> source);
    void close();
    // Where readers in order tell where they read, and find help decoding (BlockDecodeAhead.h); null where
    // there is none. Valid while open.
    BlockDecodeAhead* decodingAhead() const { return ahead.get(); }
    bool isOpen() const { return source != nullptr; }

    // The block that holds the data stream's byte `position`, checked as a read of it is (1, 2).
    std::uint32_t blockAt(std::uint64_t position) const;
    // What block `block` decodes to, its stored form checked first (3 to 6 and 8).
    std::uint32_t checkedLength(std::uint32_t block) const;
    // Block `block` decoded into `into` (resized to it), past the cache.
    void decode(std::uint32_t block, ByteBuffer& into, BlockDecoder& decoder);
    // Blocks `first` on, `count` at most, decoded past the cache side by side at `out`, adding to `decoded`
    // and `bytes` as each comes out; stored blocks that follow each other in the file are read in one
    // call. The failed check of the next block (0: all done), nothing thrown or logged.
    int decodeRun(std::uint32_t first, std::uint32_t count, std::uint8_t* out, BlockDecoder& decoder,
                  std::uint32_t& decoded, std::size_t& bytes);
    // Of a stored (compressionType 0) block: its `length` bytes from `within` on, read straight into
    // `buffer`; `length` reaches no further than the block.
    void readStored(std::uint32_t block, std::uint32_t within, std::uint8_t* buffer, std::uint32_t length);
    // The `length` bytes of the archive file at `offset` are about to be read: the source may fetch
    // them ahead. Nothing while the source is closed.
    void willNeed(std::uint64_t offset, std::uint64_t length);
    // The failure of check `check` of `block`, thrown.
    [[noreturn]] void fail(int check, std::uint32_t block) const;

    // A hint of which blocks readers have entered into the cache since the archive's readers last all
    // went, so that readers in order skip the cache's lock where it holds none of their blocks. Stale
    // either way it costs a lock or a decoding, never a wrong byte. Lock-free.
    void noteCached(std::uint32_t block);
    bool mayBeCached(std::uint32_t first, std::uint32_t count) const;
    void forgetCached();

private:
    friend class CachedBlock;
    friend class CachedRun;

    // The checks of a stored block before it is read, by number (0: none); its offset in the file and
    // what it decodes to.
    int fault(std::uint32_t block, std::uint32_t& expected, std::uint64_t& fileOffset) const;
    // Reads and decodes `block` into `into`; the failed check's number (0: none).
    int fill(std::uint32_t block, ByteBuffer& into, BlockDecoder& decoder);
    friend class BlockDecodeAhead;

    ArchiveHeader header{};
    std::vector<StoredBlock> storedBlocks;
    // One bit per block, for noteCached.
    std::unique_ptr<std::atomic<std::uint8_t>[]> cachedHint;
    // Open while readers are attached; they read it without a lock (OrvaArchive says who opens it).
    std::unique_ptr<ArchiveSource> source;
    // While open; reads `source`, so it goes first.
    std::unique_ptr<BlockDecodeAhead> ahead;
    const OrvaArchive* owner = nullptr;
    ArchiveManager* manager = nullptr;
};

// A block held decoded in the cache while the holder lives: decoded on the way in where the cache did not
// hold it. Throws the block's failure; a block left unfilled by it is abandoned, never served as filled.
class CachedBlock {
public:
    CachedBlock(ArchiveBlocks& blocks, std::uint32_t block, BlockDecoder& decoder);
    ~CachedBlock();
    CachedBlock(const CachedBlock&) = delete;
    CachedBlock& operator=(const CachedBlock&) = delete;

    const ByteBuffer& bytes() const { return *buffer; }

private:
    ArchiveBlocks& blocks;
    const std::int32_t block;
    bool filled = false;
    ByteBuffer* const buffer;
};

// Those blocks of a run that the cache holds decoded, held together under one lock for a reader going in
// order, which decodes the others itself without entering them; let go together at the end. Neither
// waits nor throws.
class CachedRun {
public:
    CachedRun(ArchiveBlocks& blocks, std::uint32_t first, std::uint32_t count);
    ~CachedRun();
    CachedRun(const CachedRun&) = delete;
    CachedRun& operator=(const CachedRun&) = delete;

    // The held blocks in order.
    std::size_t size() const { return held; }
    const BlockGrant& operator[](std::size_t i) const { return grants[i]; }

private:
    ArchiveBlocks& blocks;
    BlockGrant grants[ArchiveBlocks::mostRunBlocks];
    std::size_t held;
};

} // namespace filedriver
