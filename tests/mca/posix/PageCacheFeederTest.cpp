#include "mca/posix/PageCacheFeeder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace {

using mca::PageCacheFeeder;
using mca::pagesOfBlocks;

struct Span {
    std::uint64_t blockStart, blockEnd, readStart, readEnd, fileSize;
    std::uint64_t start, end;
};

// Pages of 4096; a file of 200000 bytes whose blocks start and end off page boundaries.
TEST(PagesOfBlocks, WholePagesOfTheBlocksAndTheReadItself)
{
    const Span cases[] = {
        {0, 65536, 8192, 12288, 200000, 0, 65536},                   // aligned block, page inside
        {1000, 66536, 8192, 12288, 200000, 4096, 65536},             // block off the pages: whole pages only
        {1000, 66536, 0, 4096, 200000, 0, 65536},                    // the read's partial page is its own
        {131072, 200000, 135168, 139264, 200000, 131072, 200000},    // the file's end is a page's end
        {150000, 170000, 163840, 167936, 200000, 151552, 167936},    // a block within one member's pages
        {150000, 152000, 151552, 152000, 200000, 151552, 152000},    // no whole page: the read alone
        {0, 100, 0, 100, 100, 0, 100},                               // a file smaller than a page
    };
    for (const Span& c : cases) {
        const mca::PageSpan span = pagesOfBlocks(c.blockStart, c.blockEnd, c.readStart, c.readEnd, c.fileSize, 4096);
        EXPECT_EQ(std::make_tuple(span.start, span.end), std::make_tuple(c.start, c.end))
            << c.blockStart << ".." << c.blockEnd << " read " << c.readStart << ".." << c.readEnd;
    }
}

// What a block holds of a file it does not read for: whole pages, the file's last page as one.
TEST(WholePages, OnlyPagesTheBytesFill)
{
    struct Case {
        std::uint64_t start, end, fileSize;
        std::uint64_t wholeStart, wholeEnd;
    };
    const Case cases[] = {
        {0, 65536, 200000, 0, 65536},            // aligned
        {0, 51522, 70000, 0, 49152},             // goes on past the block: its partial page left
        {14014, 65536, 65536, 16384, 65536},     // starts within a page
        {0, 14, 14, 0, 14},                      // a file of less than a page: its only page
        {0, 9000, 9000, 0, 9000},                // the last page partial at the file's end
        {150000, 152000, 200000, 150000, 150000}, // no whole page: nothing
        {4096, 4096, 8192, 4096, 4096},          // no bytes
    };
    for (const Case& c : cases) {
        const mca::PageSpan span = mca::wholePages(c.start, c.end, c.fileSize, 4096);
        EXPECT_EQ(std::make_tuple(span.start, span.end), std::make_tuple(c.wholeStart, c.wholeEnd))
            << c.start << ".." << c.end << " of " << c.fileSize;
    }
}

// A store that waits until released, recording what it was given.
struct HeldStore {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> stored;

    PageCacheFeeder::Store function()
    {
        return [this](std::uint64_t inode, std::uint64_t offset, const char* bytes, std::size_t length) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
            stored.emplace_back(inode, offset, std::string(bytes, length));
            changed.notify_all();
        };
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
};

std::vector<char> bytes(const std::string& text)
{
    return std::vector<char>(text.begin(), text.end());
}

TEST(PageCacheFeeder, OffersNeverWaitAndBeyondTheLimitAreDropped)
{
    HeldStore held;
    {
        PageCacheFeeder feeder(held.function(), 10);
        // Bytes count as waiting until stored: the store holding the first keeps them counted.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(feeder.offer(2, 0, bytes("aaaaa")));
        EXPECT_TRUE(feeder.offer(3, 4096, bytes("bbbbb")));
        EXPECT_FALSE(feeder.offer(4, 8192, bytes("ccccc")));
        EXPECT_FALSE(feeder.offer(5, 0, bytes("dddddddddddd"))); // more than the limit on its own
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        held.release();
        // The destructor stores what waits.
    }
    ASSERT_EQ(held.stored.size(), 2u);
    EXPECT_EQ(held.stored[0], std::make_tuple(2u, 0u, std::string("aaaaa")));
    EXPECT_EQ(held.stored[1], std::make_tuple(3u, 4096u, std::string("bbbbb")));
}

TEST(PageCacheFeeder, StoresEveryOfferInOrderWithinTheLimit)
{
    HeldStore held;
    held.release();
    {
        PageCacheFeeder feeder(held.function(), 1 << 20);
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(feeder.offer(7, std::uint64_t(i) * 4096, bytes(std::to_string(i))));
    }
    ASSERT_EQ(held.stored.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(held.stored[i], std::make_tuple(7u, std::uint64_t(i) * 4096, std::to_string(i)));
}

} // namespace
