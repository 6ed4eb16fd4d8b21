#include "filedriver/ParallelBlockReader.h"

#include <algorithm>
#include <cstring>

namespace filedriver {
namespace {

constexpr unsigned jobsPerThread = 3;

} // namespace

ParallelBlockReader::ParallelBlockReader(const std::shared_ptr<OrvaArchive>& archive, BlockRange range,
                                         unsigned threads)
    : nextSubmitted(range.first), nextHanded(range.first), end(std::max(range.first, range.end))
{
    const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(
        {threads ? threads : OrderedBlockPool::machineThreads(), std::max(end - range.first, 1u),
         OrderedBlockPool::maxThreads}));
    for (unsigned k = 0; k < wanted; ++k)
        readers.push_back(std::make_unique<BlockReader>(archive));
    if (wanted > 1)
        pool = std::make_unique<OrderedBlockPool>(wanted, jobsPerThread, [this](unsigned worker, PoolJob& job) {
            readers[worker]->decode(job.block, job.output);
        });
}

// The pool's workers use the readers: they end first.
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
            readers.front()->decode(block.index, single);
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
    : cursor(memberPath, OpenRead), layout(cursor.archive()->blocks()), streamStart(cursor.dataOffset()),
      memberSize(static_cast<std::uint32_t>(cursor.size())),
      blocks(cursor.archive(), layout.blocksHolding(streamStart, memberSize), threads)
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
        const std::uint64_t block = layout.blockOf(stream);
        const bool inData = stream < layout.dataLength();
        while (inData && (!haveCurrent || current.index < block))
            if (!(haveCurrent = blocks.next(current)))
                break;
        if (!haveCurrent || current.index != block || !inData)
            return total + readThroughCursor(out + total, length - total);
        if (current.failure) {
            failure = current.failure;
            std::rethrow_exception(failure);
        }
        const std::uint64_t within = stream - layout.startOf(static_cast<std::uint32_t>(block));
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
