#pragma once
// Decodes the blocks just ahead of a reader going through an archive's data in order, on a thread of its
// own, into the block cache, where the reader's next reads find them. Inflating is most of what reading a
// compressed archive in order costs; with this, a second processor shares it, across members as well as
// within one (a program reading every member in table order reads the data stream in order).
//
// Readers tell it where they read (readingAt); a reader alone, or a read at the latest block or the next,
// makes a stream, and the thread then keeps up to `window` blocks after it decoded. A reader that finds the block it
// needs being decoded here decodes one further on meanwhile (decodeOne), so that both processors stay at
// work. Blocks already in the cache, or being filled by anyone, are left alone; one that fails a check is
// left out quietly, and fails, with its trace line, when a reader needs it.
//
// Owned by the archive's ArchiveBlocks while readers are attached; the destructor stops the thread and
// waits for it, so no block is entered after it returns. Threads: every member function may be called
// from any reader's thread. Takes its own `mutex`, never while it holds the manager's lock, and the
// manager's lock (through the cache) without its own held.

#include "filedriver/ArchiveBlocks.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace filedriver {

class BlockDecodeAhead {
public:
    static constexpr std::uint32_t window = 8;
    static constexpr std::uint32_t none = 0xffffffff;

    // Starts the thread. Throws std::system_error when it cannot be started.
    BlockDecodeAhead(ArchiveBlocks& blocks, std::uint32_t compressionType);
    ~BlockDecodeAhead();
    BlockDecodeAhead(const BlockDecodeAhead&) = delete;
    BlockDecodeAhead& operator=(const BlockDecodeAhead&) = delete;

    // A reader in order takes block `block`; `readersLatest` is the reader's own latest block told of
    // (`none` at first), updated here. Whether the read makes a stream, which the thread decodes ahead
    // of: readers of several places at once (threads of a mount, each reading its run of a file) make
    // none, as both processors are at work anyway.
    bool readingAt(std::uint32_t block, std::uint32_t& readersLatest);
    // Decodes the next block of the window that nobody has into the cache, with the caller's decoder.
    // False where there is none.
    bool decodeOne(BlockDecoder& decoder);

private:
    void run();
    // The next block of the window to try, under `mutex`; false where the window is done.
    bool takeNext(std::uint32_t& block);

    ArchiveBlocks& blocks;
    BlockDecoder decoder; // the thread's
    // Guarded by `mutex`: the latest block a reader told of, the next block to try, and the end of the
    // window (the next block is tried while below it).
    std::mutex mutex;
    std::condition_variable wake;
    std::uint32_t latest = none;
    std::uint32_t next = 0;
    std::uint32_t end = 0;
    bool stopping = false;
    std::thread thread;
};

} // namespace filedriver
