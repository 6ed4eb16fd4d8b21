#include "filedriver/BlockDecodeAhead.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace filedriver {

BlockDecodeAhead::BlockDecodeAhead(ArchiveBlocks& blocks, std::uint32_t compressionType)
    : blocks(blocks), decoder(compressionType)
{
}

BlockDecodeAhead::~BlockDecodeAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (thread.joinable())
        thread.join();
}

bool BlockDecodeAhead::readingAt(std::uint32_t block, bool sequential, std::uint32_t& readersLatest)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        // The stream goes on where this read follows on from the latest told of (the next member, read by
        // a reader of its own), or where a reader reads on in order and nobody else has told of a block
        // since its latest (a reader alone, back at a member's start or past a stretch it skipped).
        const bool following =
            latest != none && (block == latest + 1 || (block == latest && readersLatest != latest));
        const bool onward = following || (sequential && latest != none && readersLatest == latest);
        readersLatest = latest = block;
        if (!following)
            next = end = block + 1;
        if (!onward)
            return false;
        if (!streamed.load(std::memory_order_relaxed))
            firstStream();
        next = std::max(next, block + 1);
        end = std::max(end, std::min(blocks.count(), block + 1 + window));
    }
    changed.notify_all();
    return true;
}

void BlockDecodeAhead::firstStream()
{
    streamed.store(true, std::memory_order_relaxed);
    // Every slot at once, so that reading allocates nothing once the stream is under way.
    if (blocks.blockSize() <= ArchiveBlocks::mostReservedBlock)
        for (Slot& slot : slots)
            slot.bytes.reserve(blocks.blockSize());
    try {
        thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to spare: readers decode into the ring themselves, as on one processor.
    }
}

BlockDecodeAhead::Slot* BlockDecodeAhead::find(std::uint32_t block)
{
    for (Slot& slot : slots)
        if (slot.block == block)
            return &slot;
    return nullptr;
}

BlockDecodeAhead::Slot* BlockDecodeAhead::spareSlot()
{
    // The reader's block, the one before it (where a member that follows begins) and the window stay.
    const auto wanted = [this](std::uint32_t block) { return latest != none && block + 1 >= latest && block < end; };
    for (Slot& slot : slots)
        if (slot.block == none || (!slot.decoding && slot.copying == 0 && !wanted(slot.block)))
            return &slot;
    return nullptr;
}

bool BlockDecodeAhead::claimNext(std::uint32_t& block, Slot*& slot)
{
    for (; !stopping && next < end; ++next) {
        if (find(next))
            continue;
        slot = spareSlot();
        if (!slot)
            return false;
        block = next++;
        return true;
    }
    return false;
}

void BlockDecodeAhead::decodeInto(std::uint32_t block, Slot& slot, BlockDecoder& with, std::unique_lock<std::mutex>& lock)
{
    slot.block = block;
    slot.decoding = true;
    lock.unlock();
    int check = 0;
    try {
        check = blocks.fill(block, slot.bytes, with);
    } catch (...) {
        // The reader that needs the block meets the failure itself.
        check = -1;
    }
    lock.lock();
    slot.decoding = false;
    if (check != 0)
        slot.block = none;
    changed.notify_all();
}

bool BlockDecodeAhead::copy(std::uint32_t block, std::uint32_t within, std::uint8_t* out, std::size_t length,
                            BlockDecoder& with, bool decodeHere)
{
    // Random readers of an archive never read in order take no lock here.
    if (!decodeHere && !streamed.load(std::memory_order_relaxed))
        return false;
    std::unique_lock<std::mutex> lock(mutex);
    for (bool decodedHere = false;;) {
        Slot* slot = find(block);
        if (slot && !slot->decoding) {
            ++slot->copying;
            lock.unlock();
            std::memcpy(out, slot->bytes.data() + within, length);
            lock.lock();
            --slot->copying;
            return true;
        }
        std::uint32_t other = 0;
        Slot* spare = nullptr;
        if (slot) {
            // Decoded elsewhere: decode one further on meanwhile, or wait.
            if (claimNext(other, spare))
                decodeInto(other, *spare, with, lock);
            else
                changed.wait(lock);
            continue;
        }
        // A block of the stream's window is wanted anyway, whoever asks.
        const bool inWindow = latest != none && block >= latest && block < end;
        if (!(decodeHere || inWindow) || decodedHere || !(spare = spareSlot()))
            return false;
        decodeInto(block, *spare, with, lock);
        decodedHere = true;
    }
}

bool BlockDecodeAhead::holds(std::uint32_t block)
{
    std::lock_guard<std::mutex> lock(mutex);
    const Slot* slot = find(block);
    return slot && !slot->decoding;
}

void BlockDecodeAhead::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        std::uint32_t block = 0;
        Slot* slot = nullptr;
        if (claimNext(block, slot))
            decodeInto(block, *slot, decoder, lock);
        else
            changed.wait(lock);
    }
}

} // namespace filedriver
