#include "filedriver/ArchiveVerify.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "orva/exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using filedriver::ByteBuffer;
using Members = std::vector<std::pair<std::wstring, ByteBuffer>>;

// Blocks of 10 bytes over members of 15, 0, 5, 25 and 1 bytes: data 0-14, -, 15-19, 20-44, 45.
Members layout()
{
    return {{L"a", ByteBuffer(15, 'a')},
            {L"empty", ByteBuffer()},
            {L"b", ByteBuffer(5, 'b')},
            {L"c", ByteBuffer(25, 'c')},
            {L"d", ByteBuffer(1, 'd')}};
}

filedriver::ArchiveWriterOptions blocksOf(std::uint32_t size, std::uint32_t compressionType)
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = size;
    options.compressionType = compressionType;
    options.level = compressionType ? 6 : -1;
    return options;
}

std::vector<filedriver::DamagedBlock> damagedIn(const std::wstring& archive,
                                                const std::function<void(std::uint32_t)>& checked,
                                                unsigned threads = 0)
{
    return filedriver::findDamagedBlocks(filedriver::archiveManager.shareArchive(archive), checked, threads);
}

void damage(const std::filesystem::path& file, std::uint64_t offset, std::size_t length)
{
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(static_cast<std::streamoff>(offset));
    stream.write(std::string(length, '\xff').data(), static_cast<std::streamsize>(length));
}

TEST(ArchiveVerify, MembersInEachBlock)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"m.mca"), layout(), blocksOf(10, 0)));
    const filedriver::OrvaArchive& archive = *filedriver::archiveManager.getArchive(dir.wide(L"m.mca"));
    const std::vector<std::vector<std::uint32_t>> expected = {{0}, {0, 2}, {3}, {3}, {3, 4}};
    ASSERT_EQ(archive.archiveHeader().blockCount, expected.size());
    for (std::uint32_t block = 0; block < expected.size(); ++block)
        EXPECT_EQ(filedriver::membersInBlock(archive, block), expected[block]) << "block " << block;
    EXPECT_TRUE(filedriver::membersInBlock(archive, 5).empty());
}

TEST(ArchiveVerify, ReportsEveryDamagedBlockAndNothingElse)
{
    for (const std::uint32_t codec : {0u, 1u}) {
        SCOPED_TRACE(codec);
        testsupport::TempDir dir;
        ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"good.mca"), layout(), blocksOf(10, codec)));
        std::vector<std::uint32_t> checked;
        EXPECT_TRUE(damagedIn(dir.wide(L"good.mca"), [&](std::uint32_t block) {
                        checked.push_back(block);
                    }).empty());
        EXPECT_EQ(checked, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));

        const filedriver::OrvaArchive& good = *filedriver::archiveManager.getArchive(dir.wide(L"good.mca"));
        const std::uint32_t blocksOffset = good.archiveHeader().blocksOffset;
        std::filesystem::copy_file(dir.path() / "good.mca", dir.path() / "bad.mca");
        for (const std::uint32_t block : {1u, 4u}) {
            const filedriver::StoredBlock& stored = good.blocks().stored()[block];
            // Stored blocks are checked only by their length: cut the last one short instead.
            if (codec == 0 && block == 4)
                std::filesystem::resize_file(dir.path() / "bad.mca", blocksOffset + stored.storedOffset);
            else
                damage(dir.path() / "bad.mca", blocksOffset + stored.storedOffset, stored.storedSize);
        }
        const std::vector<filedriver::DamagedBlock> damaged = damagedIn(dir.wide(L"bad.mca"), {});
        if (codec == 0) {
            // A stored block's bytes carry no check: only the missing one is found.
            ASSERT_EQ(damaged.size(), 1u);
            EXPECT_EQ(damaged[0].block, 4u);
            EXPECT_EQ(damaged[0].failure, "orvana exception: ArchiveCursor.read: integrity failed 5");
            continue;
        }
        ASSERT_EQ(damaged.size(), 2u);
        EXPECT_EQ(damaged[0].block, 1u);
        EXPECT_EQ(damaged[0].members, (std::vector<std::wstring>{L"a", L"b"}));
        EXPECT_EQ(damaged[1].block, 4u);
        EXPECT_EQ(damaged[1].members, (std::vector<std::wstring>{L"c", L"d"}));
        for (const filedriver::DamagedBlock& block : damaged)
            EXPECT_EQ(block.failure.rfind("orvana exception: ArchiveCursor.read: integrity failed ", 0), 0u) << block.failure;
    }
}

// Decoding ahead on a pool finds what the one-thread check finds, in the same order, and tells of
// every block in order on the caller's thread.
TEST(ArchiveVerify, EveryThreadCountFindsTheSameDamage)
{
    for (const std::uint32_t codec : {0u, 1u}) {
        SCOPED_TRACE(codec);
        testsupport::TempDir dir;
        Members members = layout();
        members.push_back({L"long", ByteBuffer(1990, 'l')});
        ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"t.mca"), members, blocksOf(10, codec)));
        const filedriver::OrvaArchive& good = *filedriver::archiveManager.getArchive(dir.wide(L"t.mca"));
        const std::uint32_t blocks = good.archiveHeader().blockCount;
        const std::uint32_t blocksOffset = good.archiveHeader().blocksOffset;
        ASSERT_EQ(blocks, 204u);
        std::filesystem::copy_file(dir.path() / "t.mca", dir.path() / "bad.mca");
        // A stored block carries no check of its bytes: the file is cut short in its blocks instead.
        if (codec == 0)
            std::filesystem::resize_file(dir.path() / "bad.mca", blocksOffset + good.blocks().stored()[150].storedOffset);
        else
            for (std::uint32_t block = 3; block < blocks; block += 7)
                damage(dir.path() / "bad.mca", blocksOffset + good.blocks().stored()[block].storedOffset,
                       good.blocks().stored()[block].storedSize);
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<std::vector<filedriver::DamagedBlock>> found;
        for (const unsigned threads : {1u, 2u, 8u, 0u}) {
            std::vector<std::uint32_t> checked;
            found.push_back(damagedIn(dir.wide(L"bad.mca"), [&](std::uint32_t block) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                checked.push_back(block);
            }, threads));
            ASSERT_EQ(checked.size(), blocks) << threads << " threads";
            for (std::uint32_t block = 0; block < blocks; ++block)
                ASSERT_EQ(checked[block], block) << threads << " threads";
        }
        ASSERT_EQ(found[0].size(), codec ? 29u : 54u);
        EXPECT_EQ(found[0][0].block, codec ? 3u : 150u);
        for (std::size_t run = 1; run < found.size(); ++run) {
            ASSERT_EQ(found[run].size(), found[0].size()) << "run " << run;
            for (std::size_t k = 0; k < found[0].size(); ++k) {
                EXPECT_EQ(found[run][k].block, found[0][k].block);
                EXPECT_EQ(found[run][k].members, found[0][k].members);
                EXPECT_EQ(found[run][k].failure, found[0][k].failure);
            }
        }
    }
}

// Blocks are reached by number: members that no path can name do not keep them from being checked.
TEST(ArchiveVerify, ChecksArchivesWhoseMembersNoPathNames)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"odd.mca"), {{L"a/b", ByteBuffer(30, 'x')}, {L"", ByteBuffer(5, 'y')}},
                                         blocksOf(10, 1)));
    for (const unsigned threads : {1u, 2u})
        EXPECT_TRUE(damagedIn(dir.wide(L"odd.mca"), {}, threads).empty()) << threads;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"none.mca"), {}, blocksOf(10, 1)));
    EXPECT_TRUE(damagedIn(dir.wide(L"none.mca"), {}).empty());
}

// Only damage is reported block by block: a file that changed under its index ends the check.
TEST(ArchiveVerify, AChangedFileEndsTheCheckWithItsFailure)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"c.mca"), layout(), blocksOf(10, 1)));
    const auto archive = filedriver::archiveManager.shareArchive(dir.wide(L"c.mca"));
    Members other = layout();
    other.push_back({L"more", ByteBuffer(20, 'm')});
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"c.mca"), other, blocksOf(10, 1)));
    for (const unsigned threads : {1u, 2u}) {
        try {
            filedriver::findDamagedBlocks(archive, {}, threads);
            ADD_FAILURE() << "no failure with " << threads << " threads";
        } catch (const orva::exception& error) {
            EXPECT_EQ(error.kind(), orva::ErrorKind::Changed) << error.what();
        }
    }
}

} // namespace
