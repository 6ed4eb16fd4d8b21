#include "filedriver/remote/DiskCache.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

using filedriver::remote::DiskCache;
namespace fs = std::filesystem;

std::uint64_t entriesIn(const fs::path& root)
{
    std::uint64_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        count += entry.path().extension() == ".page";
    return count;
}

TEST(DiskCache, GivesBackWhatWasStoredForTheSameKeyOnly)
{
    testsupport::TempDir dir;
    const auto cache = DiskCache::open(dir.path(), 1 << 20, "https://h:443/a\netag \"1\"\n100\n65536");
    ASSERT_TRUE(cache);
    const std::string bytes(1000, 'q');
    cache->store(3, bytes.data(), bytes.size());
    std::string got(1000, '\0');
    EXPECT_TRUE(cache->load(3, got.data(), got.size()));
    EXPECT_EQ(got, bytes);
    EXPECT_FALSE(cache->load(4, got.data(), got.size()));
    EXPECT_FALSE(cache->load(3, got.data(), 999)); // another length
    // Another version of the file has a folder of its own; its name tells nothing of the URL.
    const auto other = DiskCache::open(dir.path(), 1 << 20, "https://h:443/a\netag \"2\"\n100\n65536");
    EXPECT_NE(other->directory(), cache->directory());
    EXPECT_FALSE(other->load(3, got.data(), got.size()));
    EXPECT_EQ(cache->directory().filename().string().size(), 16u);
}

TEST(DiskCache, RefusesEntriesThatDoNotCheck)
{
    testsupport::TempDir dir;
    const std::string key = "k";
    const auto cache = DiskCache::open(dir.path(), 1 << 20, key);
    const std::string bytes(4096, 'z');
    cache->store(0, bytes.data(), bytes.size());
    const fs::path entry = cache->directory() / "0000000000000000.page";
    ASSERT_TRUE(fs::exists(entry));
    std::string got(4096, '\0');
    // Longer than it says, then cut short, then with a byte changed.
    { std::ofstream(entry, std::ios::app | std::ios::binary) << 'x'; }
    EXPECT_FALSE(cache->load(0, got.data(), got.size()));
    fs::resize_file(entry, fs::file_size(entry) - 2);
    EXPECT_FALSE(cache->load(0, got.data(), got.size()));
    cache->store(0, bytes.data(), bytes.size());
    {
        std::fstream flip(entry, std::ios::in | std::ios::out | std::ios::binary);
        flip.seekp(-1, std::ios::end);
        flip.put('y');
    }
    EXPECT_FALSE(cache->load(0, got.data(), got.size()));
    EXPECT_FALSE(DiskCache::open(dir.path(), 0, key));
    EXPECT_FALSE(DiskCache::open(fs::path(), 1 << 20, key));
}

TEST(DiskCache, TrimmingDropsTheLeastRecentlyUsedAndOldTemporaries)
{
    testsupport::TempDir dir;
    const auto cache = DiskCache::open(dir.path(), 1 << 30, "k");
    const std::string bytes(10000, 'b');
    for (std::uint64_t page = 0; page < 10; ++page)
        cache->store(page, bytes.data(), bytes.size());
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (std::uint64_t page = 0; page < 10; ++page)
        fs::last_write_time(cache->directory() / ("000000000000000" + std::to_string(page) + ".page"),
            old + std::chrono::seconds(page));
    std::string got(10000, '\0');
    ASSERT_TRUE(cache->load(0, got.data(), got.size())); // used now: the newest
    const fs::path stale = cache->directory() / "0000000000000001.abc.tmp";
    const fs::path fresh = cache->directory() / "0000000000000002.def.tmp";
    std::ofstream(stale) << "x";
    std::ofstream(fresh) << "x";
    fs::last_write_time(stale, old);
    DiskCache::trim(dir.path(), 5 * 10100);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_LE(entriesIn(dir.path()), 5u);
    EXPECT_TRUE(cache->load(0, got.data(), got.size()));
    EXPECT_TRUE(cache->load(9, got.data(), got.size()));
    EXPECT_FALSE(cache->load(1, got.data(), got.size()));
    fs::remove(fresh);
    DiskCache::trim(dir.path(), 0);
    EXPECT_TRUE(fs::is_empty(dir.path())); // emptied folders go too
}

} // namespace
