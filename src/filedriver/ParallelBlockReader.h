#pragma once
// Reads a run of an archive's blocks from first to last, decoding ahead on a pool of threads, and
// hands them out in order: for reading a whole archive or a whole member once from start to end
// (extracting, copying out). Blocks are decoded into the reader's own buffers, past the block cache,
// with every check that a cursor's read makes; reading through cursors is unchanged.
//
//   ParallelBlockReader reader(archive, {0, archive->blocks().count()}, 0);
//   for (DecodedBlock block; reader.next(block);) ...
//
// With one thread each block is decoded on the caller's thread when next() comes to it. Memory:
// 3 decoded blocks per thread, and one stored block per thread.
//
// The constructors throw as BlockReader's does (ParallelMemberReader: as ArchiveCursor's), and
// orva::exception when the threads cannot be started.

#include "filedriver/ArchiveCursor.h"
#include "filedriver/BlockCompression.h"
#include "filedriver/BlockReader.h"
#include "filedriver/FilePath.h"
#include "filedriver/OrderedBlockPool.h"
#include "filedriver/OrvaArchive.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

namespace filedriver {

struct DecodedBlock {
    std::uint32_t index = 0;
    // The block's bytes, empty for a damaged block; valid until the reader's next call of next().
    const ByteBuffer* bytes = nullptr;
    // Null for a good block; else the orva::exception that a cursor's read of the block throws (its
    // trace line is written when the block is decoded, which may be ahead of its turn).
    std::exception_ptr failure;
};

class ParallelBlockReader {
public:
    // The blocks of `range`; `threads` 0 for one per processor of the machine.
    ParallelBlockReader(const std::shared_ptr<OrvaArchive>& archive, BlockRange range, unsigned threads);
    ~ParallelBlockReader();
    ParallelBlockReader(const ParallelBlockReader&) = delete;
    ParallelBlockReader& operator=(const ParallelBlockReader&) = delete;

    // The next block in order, good or damaged: a damaged block does not stop the reader. False after
    // the last.
    bool next(DecodedBlock& block);
    unsigned threads() const { return static_cast<unsigned>(readers.size()); }

private:
    // One per thread: each decodes with its own codec and stored-block buffer.
    std::vector<std::unique_ptr<BlockReader>> readers;
    std::unique_ptr<OrderedBlockPool> pool;
    ByteBuffer single; // the one-thread reader's block
    std::uint32_t nextSubmitted;
    std::uint32_t nextHanded;
    const std::uint32_t end;
    bool holding = false; // the pool's oldest job is handed out until the next call
};

// A member's bytes from start to end, its blocks decoded ahead by a ParallelBlockReader: for copying
// a whole member out. Bytes the blocks cannot give (a member reaching past the archive's data) are
// asked of a cursor, so that every read answers, or fails, as a cursor's read would.
class ParallelMemberReader {
public:
    ParallelMemberReader(const FilePath& memberPath, unsigned threads);

    std::uint32_t size() const { return memberSize; }
    // Where the next read starts; after a read that threw, the start of the damaged block's bytes.
    std::uint32_t tell() const { return position; }
    // The next bytes, up to `length`; 0 at the end. Throws the orva::exception of a damaged block when
    // the read reaches it ("ArchiveCursor.read: integrity failed <n>"), and again on every later read.
    std::uint32_t read(void* buffer, std::uint32_t length);

private:
    std::uint32_t readThroughCursor(std::uint8_t* buffer, std::uint32_t length);

    ArchiveCursor cursor;
    // The archive's, which outlives every reader of it.
    const ArchiveBlocks& layout;
    std::uint64_t streamStart;
    std::uint32_t memberSize;
    std::uint32_t position = 0;
    ParallelBlockReader blocks;
    DecodedBlock current;
    bool haveCurrent = false;
    std::exception_ptr failure;
};

} // namespace filedriver
