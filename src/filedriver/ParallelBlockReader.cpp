#include "filedriver/ParallelBlockReader.h"

#include "filedriver/ArchiveManager.h"

#include <algorithm>
#include <cstring>

namespace filedriver {
namespace {

constexpr unsigned jobsPerThread = 3;

// The blocks that hold the bytes of the member at `start` with `size` bytes, as far as the data goes.
std::uint32_t endBlock(std::uint64_t start, std::uint32_t size, const ArchiveHeader& header)
{
    const std::uint64_t end = std::min<std::uint64_t>(start + size, header.dataLength);
    return static_cast<std::uint32_t>((end + header.blockSize - 1) / header.blockSize);
}

} // namespace

ParallelBlockReader::ParallelBlockReader(const FilePath& memberPath, std::uint32_t firstBlock,
                                         std::uint32_t endBlock, unsigned threads)
    : nextSubmitted(firstBlock), nextHanded(firstBlock), end(std::max(firstBlock, endBlock))
{
    const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(
        {threads ? threads : OrderedBlockPool::machineThreads(), std::max(end - firstBlock, 1u),
         OrderedBlockPool::maxThreads}));
    for (unsigned k = 0; k < wanted; ++k)
        cursors.push_back(std::make_unique<ArchiveCursor>(memberPath, OpenRead));
    if (wanted > 1)
        pool = std::make_unique<OrderedBlockPool>(wanted, jobsPerThread, [this](unsigned worker, PoolJob& job) {
            cursors[worker]->decodeBlock(job.block, job.output);
        });
}

// The pool's workers use the cursors: they end first.
ParallelBlockReader::~ParallelBlockReader()
{
    pool.reset();
}

bool ParallelBlockReader::next(DecodedBlock& block)
{
    if (!pool) {
        if (nextHanded >= end)
            return false;
        block.index = nextHanded++;
        block.failure = nullptr;
        try {
            cursors.front()->decodeBlock(block.index, single);
        } catch (...) {
            block.failure = std::current_exception();
            single.clear();
        }
        block.bytes = &single;
        return true;
    }
    if (holding) {
        pool->retire();
        holding = false;
    }
    while (!pool->full() && nextSubmitted < end) {
        pool->freeJob().block = nextSubmitted++;
        pool->submit();
    }
    if (pool->idle())
        return false;
    PoolJob& job = pool->oldest();
    holding = true;
    if (job.failure)
        job.output.clear();
    block.index = job.block;
    block.failure = job.failure;
    block.bytes = &job.output;
    return true;
}

ParallelMemberReader::ParallelMemberReader(const FilePath& memberPath, unsigned threads)
    : cursor(memberPath, OpenRead), header(archiveManager.getArchive(memberPath)->archiveHeader()),
      streamStart(cursor.dataOffset()), memberSize(static_cast<std::uint32_t>(cursor.size())),
      blocks(memberPath, static_cast<std::uint32_t>(streamStart / header.blockSize),
             endBlock(streamStart, memberSize, header), threads)
{
}

std::uint32_t ParallelMemberReader::read(void* buffer, std::uint32_t length)
{
    if (failure)
        std::rethrow_exception(failure);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t total = 0;
    while (total < length && position < memberSize) {
        const std::uint64_t stream = streamStart + position;
        const std::uint64_t block = stream / header.blockSize;
        while (stream < header.dataLength && (!haveCurrent || current.index < block))
            if (!(haveCurrent = blocks.next(current)))
                break;
        if (!haveCurrent || current.index != block || stream >= header.dataLength)
            return total + readThroughCursor(out + total, length - total);
        if (current.failure) {
            failure = current.failure;
            std::rethrow_exception(failure);
        }
        const std::uint64_t within = stream - block * header.blockSize;
        if (within >= current.bytes->size())
            return total + readThroughCursor(out + total, length - total);
        const auto n = static_cast<std::uint32_t>(
            std::min<std::uint64_t>({current.bytes->size() - within, length - total, memberSize - position}));
        std::memcpy(out + total, current.bytes->data() + within, n);
        total += n;
        position += n;
    }
    return total;
}

std::uint32_t ParallelMemberReader::readThroughCursor(std::uint8_t* buffer, std::uint32_t length)
{
    cursor.seek(static_cast<std::int32_t>(position), SeekBegin);
    const std::uint32_t n = cursor.read(buffer, length);
    position += n;
    return n;
}

} // namespace filedriver
