#include "filedriver/BlockDecodeAhead.h"

#include "ArchiveTestHelpers.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/FileDriver.h"
#include "support/SampleBytes.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace archivetest;
using namespace filedriver;

constexpr std::uint32_t blockSize = 4096;

// Small members that share blocks, and large ones that span many, in table (and data) order.
Members mixedMembers()
{
    Members members;
    const std::size_t sizes[] = {10, 5000, 300, 70000, 1, 4096, 9000, 123456, 2000, 2000, 2000, 40000};
    for (std::size_t i = 0; i < std::size(sizes); ++i)
        members.emplace_back(L"m" + std::to_wstring(i), testsupport::sampleBytes(sizes[i], unsigned(i + 1)));
    return members;
}

// Waits, 10 s at most, until `holds` answers true.
bool eventually(const std::function<bool()>& holds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(BlockDecodeAhead, EveryMemberReadInTableOrderGivesItsBytesInReadsOfAnySize)
{
    testsupport::TempDir tmp;
    const Members members = mixedMembers();
    const std::wstring archive = makeArchive(tmp, L"mixed.mca", members, blockSize, 1);
    const FileDriver held(memberPath(archive, L"m0"), OpenRead);
    for (const std::uint32_t piece : {1u, 1000u, 4096u, 65543u})
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& [name, bytes] : members)
                ASSERT_TRUE(readInOrder(memberPath(archive, name), piece) == bytes) << piece << " " << pass;
}

TEST(BlockDecodeAhead, TheBlocksAfterAReaderInOrderAreDecodedAheadAndNoFurther)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = testsupport::sampleBytes(100 * blockSize, 3);
    const std::wstring archive = makeArchive(tmp, L"ahead.mca", {{L"m", bytes}}, blockSize, 1);
    OrvaArchive* const loaded = archiveManager.getArchive(archive);
    FileDriver file(memberPath(archive, L"m"), OpenRead);
    if (!loaded->blocks().decodingAhead())
        GTEST_SKIP() << "this machine has one processor: nothing decodes ahead";
    // Three blocks in order, 4 KiB at a time: the reader is at block 2.
    ByteBuffer piece(blockSize);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(file.read(piece.data(), blockSize), blockSize);
        ASSERT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + i * blockSize));
    }
    BlockDecodeAhead& ahead = *loaded->blocks().decodingAhead();
    const std::uint32_t lastAhead = 2 + BlockDecodeAhead::window;
    EXPECT_TRUE(eventually([&] { return ahead.holds(lastAhead); }));
    for (std::uint32_t block = 1; block <= lastAhead; ++block)
        EXPECT_TRUE(ahead.holds(block)) << block;
    EXPECT_FALSE(ahead.holds(lastAhead + 1));
    // Not through the block cache, which random readers share.
    for (std::int32_t block = 1; block <= std::int32_t(lastAhead); ++block)
        EXPECT_FALSE(cacheHolds(loaded, block)) << block;
}

TEST(BlockDecodeAhead, RandomReadsDecodeNothingAhead)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = testsupport::sampleBytes(100 * blockSize, 4);
    const std::wstring archive = makeArchive(tmp, L"random.mca", {{L"m", bytes}}, blockSize, 1);
    OrvaArchive* const loaded = archiveManager.getArchive(archive);
    FileDriver file(memberPath(archive, L"m"), OpenRead);
    ByteBuffer piece(100);
    for (const std::int32_t block : {40, 10, 70, 20}) {
        ASSERT_EQ(file.seek(block * std::int32_t(blockSize) + 7, SeekBegin), block * std::int32_t(blockSize) + 7);
        ASSERT_EQ(file.read(piece.data(), 100), 100u);
    }
    // Given time to do wrong: a thread that decoded ahead of those reads would have by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (BlockDecodeAhead* const ahead = loaded->blocks().decodingAhead()) {
        for (const std::uint32_t block : {11u, 21u, 41u, 71u})
            EXPECT_FALSE(ahead->holds(block)) << block;
    }
}

TEST(BlockDecodeAhead, TheSettingTurnsItOffAndOneBlockOrAStoredArchiveNeverHaveIt)
{
    testsupport::TempDir tmp;
    const Members two = {{L"m", testsupport::sampleBytes(3 * blockSize, 5)}};
    const Members one = {{L"m", testsupport::sampleBytes(blockSize, 5)}};
    struct Row {
        const char* what;
        const Members& members;
        std::uint32_t compressionType;
        const char* setting;
        bool ahead;
    } const rows[] = {
        {"compressed, several blocks", two, 1, "", std::thread::hardware_concurrency() > 1},
        {"set to 1", two, 1, "1", std::thread::hardware_concurrency() > 1},
        {"set to 0", two, 1, "0", false},
        {"stored", two, 0, "", false},
        {"one block", one, 1, "", false},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const testsupport::ScopedVariable setting("GLEANER_DECODE_AHEAD", row.setting);
        const std::wstring archive = makeArchive(tmp, L"s" + std::to_wstring(n++) + L".mca", row.members, blockSize,
                                                 row.compressionType);
        const FileDriver file(memberPath(archive, L"m"), OpenRead);
        EXPECT_EQ(archiveManager.getArchive(archive)->blocks().decodingAhead() != nullptr, row.ahead);
    }
}

TEST(BlockDecodeAheadThreads, ReadersInOrderAndAtRandomOnSeveralThreadsSeeNoWrongByte)
{
    testsupport::TempDir tmp;
    const Members members = mixedMembers();
    // Small blocks, more than the cache holds: blocks decoded ahead are given way while wanted.
    const std::wstring archive = makeArchive(tmp, L"threads.mca", members, 512, 1);
    const FileDriver held(memberPath(archive, L"m0"), OpenRead);
    constexpr int threadCount = 4;
    std::string results[threadCount];
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            results[t] = whatOf([&] {
                for (int pass = 0; pass < 3; ++pass)
                    for (const auto& [name, bytes] : members) {
                        if (t % 2 == 0) {
                            ASSERT_TRUE(readInOrder(memberPath(archive, name), 1000 + 97 * t) == bytes);
                            continue;
                        }
                        FileDriver file(memberPath(archive, name), OpenRead);
                        ByteBuffer got(50);
                        for (std::uint32_t at = static_cast<std::uint32_t>(bytes.size()) / 3; at + 50 <= bytes.size();
                             at += 7919) {
                            file.seek(static_cast<std::int32_t>(at), SeekBegin);
                            ASSERT_EQ(file.read(got.data(), 50), 50u);
                            ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + at));
                        }
                    }
            });
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& result : results)
        EXPECT_EQ(result, "nothing thrown");
}

} // namespace
