#include "PageCacheFeeder.h"

#include <algorithm>
#include <csignal>
#include <pthread.h>

namespace mca {

PageCacheFeeder::PageCacheFeeder(Store store, std::size_t limit) : store(std::move(store)), limit(limit)
{
    // A signal must reach the server's own threads, which end the loop on SIGINT and SIGTERM: the
    // feeder's thread starts with every signal blocked.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        thread = std::thread(&PageCacheFeeder::run, this);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

PageCacheFeeder::~PageCacheFeeder()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    waiting.notify_one();
    thread.join();
}

bool PageCacheFeeder::offer(std::uint64_t inode, std::uint64_t offset, std::vector<char>&& bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping || queued + bytes.size() > limit)
            return false;
        queued += bytes.size();
        pieces.push_back({inode, offset, std::move(bytes)});
    }
    waiting.notify_one();
    return true;
}

void PageCacheFeeder::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        waiting.wait(lock, [&] { return stopping || !pieces.empty(); });
        if (pieces.empty())
            return;
        Piece piece = std::move(pieces.front());
        pieces.pop_front();
        lock.unlock();
        store(piece.inode, piece.offset, piece.bytes.data(), piece.bytes.size());
        lock.lock();
        queued -= piece.bytes.size();
    }
}

PageSpan wholePages(std::uint64_t start, std::uint64_t end, std::uint64_t fileSize, std::uint64_t pageSize)
{
    // A page held in part would be stored as a page of zeros and bytes.
    const std::uint64_t firstWhole = (start + pageSize - 1) / pageSize * pageSize;
    const std::uint64_t lastWhole = end >= fileSize ? fileSize : end / pageSize * pageSize;
    return firstWhole < lastWhole ? PageSpan{firstWhole, lastWhole} : PageSpan{start, start};
}

PageSpan pagesOfBlocks(std::uint64_t blockStart, std::uint64_t blockEnd, std::uint64_t readStart, std::uint64_t readEnd,
                       std::uint64_t fileSize, std::uint64_t pageSize)
{
    const PageSpan whole = wholePages(blockStart, blockEnd, fileSize, pageSize);
    if (whole.start == whole.end)
        return {readStart, readEnd};
    return {std::min(whole.start, readStart), std::max(whole.end, readEnd)};
}

} // namespace mca
