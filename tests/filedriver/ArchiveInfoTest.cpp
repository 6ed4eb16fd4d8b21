// Through the public headers alone, as an outside program inspects archives.
#include "filedriver/ArchiveInfo.h"

#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "filedriver/MemberReader.h"
#include "orva/exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using filedriver::ArchiveInfo;
using filedriver::ByteBuffer;
using Members = std::vector<std::pair<std::wstring, ByteBuffer>>;

ByteBuffer counting(std::size_t size, std::uint8_t seed)
{
    ByteBuffer bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

// Members of 15, 0, 5 and 26 bytes in blocks of 10: data 0-14, -, 15-19, 20-45.
Members layout()
{
    return {{L"a", counting(15, 1)}, {L"empty", {}}, {L"b", counting(5, 2)}, {L"c", counting(26, 3)}};
}

filedriver::ArchiveWriterOptions blocksOf(std::uint32_t size, std::uint32_t compressionType)
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = size;
    options.compressionType = compressionType;
    options.properties = {{L"region", L"EU"}, {L"date", L"2026"}};
    return options;
}

void overwrite(const std::filesystem::path& file, const filedriver::StoredExtent& extent)
{
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(static_cast<std::streamoff>(extent.offset));
    stream.write(std::string(extent.size, '\xff').data(), static_cast<std::streamsize>(extent.size));
}

TEST(ArchiveInfoContents, MembersHeaderAndPropertiesAsWritten)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"m.mca"), layout(), blocksOf(10, 1)));
    const ArchiveInfo info(dir.wide(L"m.mca"));

    ASSERT_EQ(info.memberCount(), 4u);
    const std::vector<std::wstring> names{L"a", L"empty", L"b", L"c"};
    const std::vector<std::uint32_t> sizes{15, 0, 5, 26}, offsets{0, 15, 15, 20};
    for (std::uint32_t k = 0; k < 4; ++k) {
        EXPECT_EQ(info.members()[k].name, names[k]);
        EXPECT_EQ(info.members()[k].dataSize, sizes[k]);
        EXPECT_EQ(info.members()[k].dataOffset, offsets[k]);
        EXPECT_EQ(info.findMember(names[k]), k);
    }
    EXPECT_EQ(info.findMember(L"A"), 4u); // letter case counts
    EXPECT_FALSE(info.hasMember(L"missing"));

    const std::vector<filedriver::ArchiveHeaderField> fields = info.headerFields();
    ASSERT_EQ(fields.size(), 15u);
    EXPECT_STREQ(fields.front().name, "magic");
    EXPECT_EQ(fields.front().value, 0x42000001u);
    EXPECT_STREQ(fields.back().name, "dataEnd");
    EXPECT_EQ(fields.back().value, std::filesystem::file_size(dir.path() / "m.mca"));
    const auto field = [&](const char* name) {
        for (const filedriver::ArchiveHeaderField& f : fields)
            if (std::strcmp(f.name, name) == 0)
                return f.value;
        ADD_FAILURE() << "no field " << name;
        return 0u;
    };
    EXPECT_EQ(field("fileCount"), info.memberCount());
    EXPECT_EQ(field("blockSize"), info.blockSize());
    EXPECT_EQ(field("blockCount"), info.blockCount());
    EXPECT_EQ(field("dataLength"), info.dataLength());
    EXPECT_EQ(field("compressionType"), info.compressionType());
    EXPECT_EQ(info.blockSize(), 10u);
    EXPECT_EQ(info.blockCount(), 5u);
    EXPECT_EQ(info.dataLength(), 46u);
    EXPECT_EQ(info.compressionType(), 1u);
    EXPECT_EQ(info.properties(), (std::map<std::wstring, std::wstring>{{L"date", L"2026"}, {L"region", L"EU"}}));

    struct Row {
        std::uint32_t member, offset, block;
    };
    for (const Row& row : {Row{0, 0, 0}, Row{0, 14, 1}, Row{2, 4, 1}, Row{3, 0, 2}, Row{3, 25, 4}})
        EXPECT_EQ(info.blockOfMember(info.members()[row.member], row.offset), row.block)
            << row.member << " at " << row.offset;

    // Member c holds data bytes 20 to 45: blocks 2 to 4, the last holding its bytes 20 to 25 only.
    const filedriver::FileEntry& c = info.members()[3];
    struct SpanRow {
        std::uint64_t offset, length;
        std::uint32_t first, last;
        std::uint64_t start, end; // c's bytes in those blocks
    };
    for (const SpanRow& row : {SpanRow{0, 26, 2, 4, 0, 26}, SpanRow{9, 2, 2, 3, 0, 20}, SpanRow{10, 10, 3, 3, 10, 20},
                               SpanRow{24, 1, 4, 4, 20, 26}, SpanRow{5, 0, 2, 2, 0, 10}}) {
        const filedriver::BlockSpan span = info.blocksOfMember(c, row.offset, row.length);
        EXPECT_EQ(span.first, row.first) << row.offset << "+" << row.length;
        EXPECT_EQ(span.last, row.last) << row.offset << "+" << row.length;
        const filedriver::MemberBytes bytes = info.memberBytesOfBlocks(c, span);
        EXPECT_EQ(bytes.start, row.start) << row.offset << "+" << row.length;
        EXPECT_EQ(bytes.end, row.end) << row.offset << "+" << row.length;
    }
    // Blocks that hold none of a member give none of its bytes.
    const filedriver::MemberBytes none = info.memberBytesOfBlocks(info.members()[0], {3, 4});
    EXPECT_EQ(none.start, none.end);
}

// The extents lie one after another up to the end of the data, and hold the blocks' bytes: a stored
// archive's extents are the data stream itself.
TEST(ArchiveInfoContents, StoredExtentsHoldEachBlocksBytes)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"s.mca"), layout(), blocksOf(10, 0)));
    const ArchiveInfo info(dir.wide(L"s.mca"));
    const std::string file = testsupport::readFile(dir.path() / "s.mca");
    std::string stream;
    for (const auto& member : layout())
        stream.append(member.second.begin(), member.second.end());
    std::uint64_t next = info.storedBlock(0).offset;
    for (std::uint32_t k = 0; k < info.blockCount(); ++k) {
        const filedriver::StoredExtent extent = info.storedBlock(k);
        EXPECT_EQ(extent.offset, next) << k;
        EXPECT_EQ(file.substr(extent.offset, extent.size), stream.substr(10 * k, 10)) << k;
        next = extent.offset + extent.size;
    }
    EXPECT_EQ(next, file.size());
}

// A whole file ends where its blocks end; a copy cut short is shorter, by the bytes it lost.
TEST(ArchiveInfoContents, BlocksEndAtTheFilesEndUnlessItWasCutShort)
{
    for (const std::uint32_t compressionType : {0u, 1u}) {
        SCOPED_TRACE(compressionType);
        testsupport::TempDir dir;
        ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"w.mca"), layout(), blocksOf(10, compressionType)));
        const ArchiveInfo whole(dir.wide(L"w.mca"));
        const auto size = static_cast<std::int64_t>(std::filesystem::file_size(dir.path() / "w.mca"));
        EXPECT_EQ(whole.fileSize(), size);
        EXPECT_EQ(static_cast<std::int64_t>(whole.blocksEnd()), size);

        std::string bytes = testsupport::readFile(dir.path() / "w.mca");
        bytes.resize(bytes.size() - 3);
        dir.writeFile(L"cut.mca", bytes);
        const ArchiveInfo cut(dir.wide(L"cut.mca"));
        EXPECT_EQ(cut.fileSize(), size - 3);
        EXPECT_EQ(static_cast<std::int64_t>(cut.blocksEnd()), size);
    }
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"none.mca"), {}, blocksOf(10, 1)));
    const ArchiveInfo empty(dir.wide(L"none.mca"));
    EXPECT_EQ(static_cast<std::int64_t>(empty.blocksEnd()), empty.fileSize());
}

TEST(ArchiveInfoOpen, ANameWithTrailingSeparatorsOrAPathThroughItGivesTheArchive)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"t.mca"), layout(), blocksOf(10, 1)));
    EXPECT_EQ(ArchiveInfo(dir.wide(L"t.mca") + L"/").path(), dir.wide(L"t.mca"));
    EXPECT_EQ(ArchiveInfo(dir.wide(L"t.mca") + L"/b").memberCount(), 4u);
}

TEST(ArchiveInfoOpen, AMissingOrMalformedArchiveThrows)
{
    testsupport::TempDir dir;
    EXPECT_THROW(ArchiveInfo(dir.wide(L"none.mca")), orva::exception);
    dir.writeFile(L"junk.mca", std::string(100, 'x'));
    EXPECT_THROW(ArchiveInfo(dir.wide(L"junk.mca")), orva::exception);
}

// A released archive lives on for the ArchiveInfo that shares it; the next one reads the file afresh.
TEST(ArchiveInfoOpen, ReleasingLoadsTheRewrittenFileAfreshAndLeavesHoldersTheirs)
{
    testsupport::TempDir dir;
    const std::wstring path = dir.wide(L"r.mca");
    ASSERT_TRUE(filedriver::writeArchive(path, layout(), blocksOf(10, 1)));
    const ArchiveInfo before(path);
    {
        filedriver::FileDriver open(path + L"/a", filedriver::OpenRead);
        EXPECT_FALSE(filedriver::releaseArchive(path)) << "a member is open";
    }
    EXPECT_TRUE(filedriver::releaseArchive(path));
    EXPECT_FALSE(filedriver::releaseArchive(path)) << "nothing left to release";

    ASSERT_TRUE(filedriver::writeArchive(path, {{L"only", counting(3, 9)}}, blocksOf(10, 1)));
    EXPECT_EQ(ArchiveInfo(path).memberCount(), 1u);
    const ArchiveInfo copy = before;
    EXPECT_EQ(copy.memberCount(), 4u);
    EXPECT_EQ(before.members()[3].name, L"c");
    EXPECT_TRUE(filedriver::releaseArchive(path));
}

ByteBuffer readWhole(filedriver::AFileCore& member)
{
    ByteBuffer bytes(static_cast<std::size_t>(std::max(member.size(), 0)));
    if (!bytes.empty())
        bytes.resize(member.read(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    return bytes;
}

TEST(ArchiveInfoOpenMember, ReadsEachMemberByIndexForBothKindsOfBlocks)
{
    for (const std::uint32_t compressionType : {0u, 1u}) {
        testsupport::TempDir dir;
        ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"i.mca"), layout(), blocksOf(10, compressionType)));
        const ArchiveInfo info(dir.wide(L"i.mca"));
        for (std::uint32_t i = 0; i < info.memberCount(); ++i)
            EXPECT_EQ(readWhole(*info.openMember(i)), layout()[i].second) << compressionType << " " << i;
        EXPECT_THROW(info.openMember(info.memberCount()), orva::exception);
        filedriver::releaseArchive(dir.wide(L"i.mca"));
    }
}

// While a member is open, the file it opened is the one read: also after the path is replaced by
// another archive and then deleted (Windows refuses both while the file is open).
TEST(ArchiveInfoOpenMember, ReadsTheOpenedFileAfterItIsReplacedOrDeleted)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows refuses to replace or delete an open file";
#else
    testsupport::TempDir dir;
    const std::wstring path = dir.wide(L"kept.mca");
    ASSERT_TRUE(filedriver::writeArchive(path, layout(), blocksOf(10, 1)));
    const ArchiveInfo info(path);
    const std::unique_ptr<filedriver::AFileCore> held = info.openMember(0);

    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"other.mca"), {{L"a", counting(15, 77)}}, blocksOf(10, 1)));
    std::filesystem::rename(dir.path() / "other.mca", dir.path() / "kept.mca");
    EXPECT_EQ(readWhole(*info.openMember(3)), layout()[3].second);
    std::filesystem::remove(dir.path() / "kept.mca");
    EXPECT_EQ(readWhole(*info.openMember(2)), layout()[2].second);
    EXPECT_EQ(readWhole(*held), layout()[0].second);
    EXPECT_THROW(filedriver::FileDriver(path + L"/a", filedriver::OpenRead), orva::exception) << "by path: gone";
#endif
}

TEST(ArchiveInfoVerify, NamesEachDamagedBlockAndItsMembersForEveryThreadCount)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"good.mca"), layout(), blocksOf(10, 1)));
    std::filesystem::copy_file(dir.path() / "good.mca", dir.path() / "bad.mca");
    {
        const ArchiveInfo good(dir.wide(L"good.mca"));
        std::vector<std::uint32_t> checked;
        EXPECT_TRUE(good.verify([&](std::uint32_t block) { checked.push_back(block); }).empty());
        EXPECT_EQ(checked, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
        overwrite(dir.path() / "bad.mca", good.storedBlock(1));
    }
    const ArchiveInfo bad(dir.wide(L"bad.mca"));
    for (const unsigned threads : {1u, 2u, 0u}) {
        const std::vector<filedriver::DamagedBlock> damaged = bad.verify({}, threads);
        ASSERT_EQ(damaged.size(), 1u) << threads;
        EXPECT_EQ(damaged[0].block, 1u);
        EXPECT_EQ(damaged[0].members, (std::vector<std::wstring>{L"a", L"b"}));
        EXPECT_EQ(damaged[0].failure.rfind("orvana exception: ArchiveCursor.read: integrity failed ", 0), 0u)
            << damaged[0].failure;
    }
}

TEST(MemberReaderRead, GivesTheMembersBytesAndFailsAtADamagedBlock)
{
    testsupport::TempDir dir;
    const Members members{{L"big", counting(100000, 5)}};
    ASSERT_TRUE(filedriver::writeArchive(dir.wide(L"g.mca"), members, blocksOf(4096, 1)));
    {
        filedriver::MemberReader reader(dir.wide(L"g.mca") + L"/big", 2);
        EXPECT_EQ(reader.size(), 100000u);
        ByteBuffer got(100000), piece(3000);
        std::uint32_t at = 0;
        for (std::uint32_t n; (n = reader.read(piece.data(), 3000)) > 0; at += n)
            std::memcpy(got.data() + at, piece.data(), n);
        EXPECT_EQ(at, 100000u);
        EXPECT_EQ(got, members[0].second);
    }
    std::filesystem::copy_file(dir.path() / "g.mca", dir.path() / "d.mca");
    overwrite(dir.path() / "d.mca", ArchiveInfo(dir.wide(L"d.mca")).storedBlock(3));
    filedriver::MemberReader reader(dir.wide(L"d.mca") + L"/big", 2);
    ByteBuffer piece(1000);
    std::uint32_t at = 0;
    try {
        for (std::uint32_t n; (n = reader.read(piece.data(), 1000)) > 0;)
            at += n;
        ADD_FAILURE() << "the damaged block was read";
    } catch (const orva::exception&) {
    }
    EXPECT_GE(at, 12000u);
    EXPECT_LE(at, 3u * 4096) << "nothing of block 3";
    EXPECT_EQ(reader.tell(), 3u * 4096);
    EXPECT_THROW(reader.read(piece.data(), 1000), orva::exception);
    EXPECT_THROW(filedriver::MemberReader(dir.wide(L"d.mca") + L"/none", 1), orva::exception);
}

} // namespace
