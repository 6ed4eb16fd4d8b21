#pragma once
// Hands decoded bytes of the mount's files to the kernel's page cache (FUSE's notify-store), so that
// later reads of those pages, at random or in order, never come back to the server: a block decoded
// for one page is offered whole, as the kernel's own squashfs keeps every page of a block it decodes.
//
// The pages stored are the kernel's ordinary clean pages, which it may drop whenever it needs memory.
// Storing waits for the lock of each page, which a read the server has not answered yet may hold: so a
// thread of its own stores, never one that serves requests, and offer() never waits. What is waiting
// to be stored is bounded (`limit` bytes); an offer beyond it is dropped, which costs only a later
// request. Its thread takes no signals. Safe from several threads.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mca {

class PageCacheFeeder {
public:
    // store(inode, offset, bytes, length) puts bytes at `offset` of the file `inode` into the page
    // cache; it runs on the feeder's thread only.
    using Store = std::function<void(std::uint64_t inode, std::uint64_t offset, const char* bytes, std::size_t length)>;

    PageCacheFeeder(Store store, std::size_t limit);
    // Stores what is waiting, then ends the thread.
    ~PageCacheFeeder();
    PageCacheFeeder(const PageCacheFeeder&) = delete;
    PageCacheFeeder& operator=(const PageCacheFeeder&) = delete;

    // Queues `bytes` (taken over) for `offset` of `inode`; false when dropped.
    bool offer(std::uint64_t inode, std::uint64_t offset, std::vector<char>&& bytes);

private:
    struct Piece {
        std::uint64_t inode;
        std::uint64_t offset;
        std::vector<char> bytes;
    };
    void run();

    const Store store;
    const std::size_t limit;
    std::mutex mutex;
    std::condition_variable waiting;
    std::deque<Piece> pieces; // guarded by mutex
    std::size_t queued = 0;   // bytes in pieces; guarded by mutex
    bool stopping = false;    // guarded by mutex
    std::thread thread;
};

// The part of a read's blocks worth storing: from the first whole page of the first block (or the
// read's start, if sooner) to the last whole page of the last block (or the file's end, or the read's
// end, if later). Offsets are the file's; `blockStart` and `blockEnd` are where the read's blocks start
// and end in it, clipped to the file.
struct PageSpan {
    std::uint64_t start;
    std::uint64_t end;
};
// The whole pages of bytes [start, end) of a file of `fileSize` bytes, the file's last page whole where
// `end` is the file's end; empty (start == end) where there is none.
PageSpan wholePages(std::uint64_t start, std::uint64_t end, std::uint64_t fileSize, std::uint64_t pageSize);
PageSpan pagesOfBlocks(std::uint64_t blockStart, std::uint64_t blockEnd, std::uint64_t readStart, std::uint64_t readEnd,
                       std::uint64_t fileSize, std::uint64_t pageSize);

} // namespace mca
