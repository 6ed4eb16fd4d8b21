#include "filedriver/BlockDecodeAhead.h"

#include <algorithm>

namespace filedriver {

BlockDecodeAhead::BlockDecodeAhead(ArchiveBlocks& blocks, std::uint32_t compressionType)
    : blocks(blocks), decoder(compressionType), thread([this] { run(); })
{
}

BlockDecodeAhead::~BlockDecodeAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

bool BlockDecodeAhead::readingAt(std::uint32_t block, std::uint32_t& readersLatest)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        const bool following = latest != none && block >= latest && block - latest <= 1;
        // The stream goes on where nobody else has told of a block since this reader's latest (a reader
        // alone, wherever it goes next), or where this read follows on from the latest told of (the next
        // member, read by a reader of its own).
        const bool onward = following || (latest != none && readersLatest == latest);
        readersLatest = latest = block;
        if (!following)
            next = end = block + 1;
        if (!onward)
            return false;
        next = std::max(next, block + 1);
        const std::uint32_t reach = std::min(blocks.count(), block + 1 + window);
        if (reach <= end)
            return true;
        end = reach;
    }
    wake.notify_one();
    return true;
}

bool BlockDecodeAhead::takeNext(std::uint32_t& block)
{
    if (stopping || next >= end)
        return false;
    block = next++;
    return true;
}

bool BlockDecodeAhead::decodeOne(BlockDecoder& with)
{
    for (;;) {
        std::uint32_t block = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!takeNext(block))
                return false;
        }
        if (blocks.fillAhead(block, with))
            return true;
    }
}

void BlockDecodeAhead::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || next < end; });
            if (stopping)
                return;
        }
        decodeOne(decoder);
    }
}

} // namespace filedriver
