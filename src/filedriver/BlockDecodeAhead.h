#pragma once
// Decodes the blocks just ahead of a reader going through an archive's data in order, on a thread of its
// own, into a ring of decoded blocks that the reader copies from. Inflating is most of what reading a
// compressed archive in order costs; with this, a second processor shares it, across members as well as
// within one (a program reading every member in table order reads the data stream in order).
//
// Readers tell it where they read (readingAt); a reader alone, or a read at the latest block or the next,
// makes a stream, and the thread then keeps up to `window` blocks after it decoded. A reader that finds
// the block it needs being decoded decodes one further on meanwhile, so that both processors stay at
// work. The ring also keeps the block before the reader's, where the next member begins. A block that
// fails a check is left out quietly: the reader then reads it as it would without this, and meets the
// failure, with its trace line, itself. The ring is apart from the block cache, whose lock (under Wine a
// request to another process) the readers in order then never take.
//
// Owned by the archive's ArchiveBlocks while readers are attached; the destructor stops the thread and
// waits for it. Threads: every member function may be called from any reader's thread; `mutex` guards
// the ring and the stream, and is never held while a block is decoded or copied, nor with another lock.
// Memory: window + 2 decoded blocks.

#include "filedriver/ArchiveBlocks.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace filedriver {

class BlockDecodeAhead {
public:
    static constexpr std::uint32_t window = 8;
    static constexpr std::uint32_t none = 0xffffffff;

    // The thread starts with the first stream, so that a program that forks before it reads in order
    // (a daemon) has it in the process that reads.
    BlockDecodeAhead(ArchiveBlocks& blocks, std::uint32_t compressionType);
    ~BlockDecodeAhead();
    BlockDecodeAhead(const BlockDecodeAhead&) = delete;
    BlockDecodeAhead& operator=(const BlockDecodeAhead&) = delete;

    // A reader takes block `block`, reading on from its previous read (`sequential`) or at a member's
    // start; `readersLatest` is the reader's own latest block told of (`none` at first), updated here.
    // Whether the read makes a stream, which the thread decodes ahead of: readers of several places at
    // once (threads of a mount, each reading its run of a file) make none, as both processors are at
    // work anyway.
    bool readingAt(std::uint32_t block, bool sequential, std::uint32_t& readersLatest);
    // Copies `length` bytes of block `block` from `within` on to `out` where the ring holds the block or
    // it is being decoded (then waiting for it, and decoding a block further on meanwhile); where it is
    // neither, and `decodeHere` or the block lies in the stream's window, after decoding it into the
    // ring with `decoder`. False, nothing copied, where the ring has not got it (or it failed a check).
    bool copy(std::uint32_t block, std::uint32_t within, std::uint8_t* out, std::size_t length, BlockDecoder& decoder,
              bool decodeHere);

    // Whether the ring holds `block` decoded (for tests).
    bool holds(std::uint32_t block);

private:
    struct Slot {
        std::uint32_t block = none;
        bool decoding = false; // by a thread that has let go of `mutex`; nobody else touches `bytes`
        std::uint32_t copying = 0; // readers copying out of `bytes`
        ByteBuffer bytes;
    };

    void run();
    // Under `mutex`: the slot holding or decoding `block`; a slot that may take another block; the next
    // block of the window not in the ring, with a slot for it.
    Slot* find(std::uint32_t block);
    Slot* spareSlot();
    // Under `mutex`, once: room for the ring, and the thread.
    void firstStream();
    bool claimNext(std::uint32_t& block, Slot*& slot);
    // Decodes `block` into `slot` with `lock` let go meanwhile; a failure leaves the slot empty.
    void decodeInto(std::uint32_t block, Slot& slot, BlockDecoder& decoder, std::unique_lock<std::mutex>& lock);

    ArchiveBlocks& blocks;
    BlockDecoder decoder; // the thread's
    std::mutex mutex;
    // Notified whenever a block is decoded, the stream moves, or the thread is to stop.
    std::condition_variable changed;
    // Guarded by `mutex`: the latest block a reader told of, the next block to decode ahead and the end
    // of the window (blocks are decoded ahead while next < end), and the ring.
    std::uint32_t latest = none;
    std::uint32_t next = 0;
    std::uint32_t end = 0;
    bool stopping = false;
    // Set under `mutex` at the first stream; read without it, where a stale false only misses the ring.
    std::atomic<bool> streamed{false};
    Slot slots[window + 2];
    std::thread thread; // started under `mutex`
};

} // namespace filedriver
