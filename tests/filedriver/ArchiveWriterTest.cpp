#include "filedriver/ArchiveWriter.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"
#include "orva/exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

namespace {

using filedriver::ArchiveWriter;
using filedriver::ByteBuffer;
using Members = std::vector<std::pair<std::wstring, ByteBuffer>>;

filedriver::ArchiveWriterOptions options(std::uint32_t blockSize, std::uint32_t compressionType = 1,
                                         std::int32_t level = -1)
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = blockSize;
    options.compressionType = compressionType;
    options.level = level;
    return options;
}

ByteBuffer sample(std::size_t size, std::uint32_t seed)
{
    ByteBuffer bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = i % 3 ? static_cast<std::uint8_t>('a' + i % 5) : static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

std::uint64_t textBytes(const std::wstring& text)
{
    return 2 * (orva::toUtf16(text).size() + 1);
}

ByteBuffer readMember(const std::wstring& path, std::uint32_t mode)
{
    filedriver::FileDriver file(path, mode);
    ByteBuffer bytes;
    std::uint8_t chunk[5000];
    while (const std::uint32_t got = file.read(chunk, sizeof chunk))
        bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

TEST(ArchiveWriter, RoundTripsThroughTheLoaderAndReaders)
{
    const filedriver::ArchiveWriterOptions rows[] = {options(1, 1, 9),     options(1, 0, -1),   options(4096, 0, -1),
                                                     options(4096, 1, 0), options(65536, 1, 9), options(65536, 0, 0)};
    for (filedriver::ArchiveWriterOptions row : rows) {
        SCOPED_TRACE(testing::Message() << row.blockSize << " " << row.compressionType << " " << row.level);
        // Empty members, one over several blocks ending in a partial one, members starting mid-block.
        const std::uint32_t unit = row.blockSize;
        const Members members = {{L"empty.dat", {}},
                                 {L"Stra\u00dfe-\u9053\u8def.dat", sample(2 * unit + unit / 2 + 1, 1)},
                                 {L"\U0001F600", sample(7, 2)},
                                 // A long name, a surrogate pair at its 256th unit.
                                 {std::wstring(255, L'n') + L"\U0001F600-end", sample(5, 7)},
                                 {L"tail", sample(unit + 3, 3)},
                                 {L"last-empty", {}}};
        row.properties = {{L"Gr\u00f6\u00dfe", L"\u5024"}, {L"", L""}, {L"face", L"\U0001F600"}};
        testsupport::TempDir tmp;
        const std::wstring path = tmp.wide(L"round.mca");
        ASSERT_TRUE(filedriver::writeArchive(path, members, row));

        filedriver::OrvaArchive archive(path, &filedriver::archiveManager);
        const filedriver::ArchiveHeader& header = archive.archiveHeader();
        std::uint64_t dataLength = 0, names = 0, properties = 0;
        for (const auto& [name, bytes] : members) {
            dataLength += bytes.size();
            names += textBytes(name);
        }
        for (const auto& [key, value] : row.properties)
            properties += textBytes(key) + textBytes(value);
        EXPECT_EQ(header.fileCount, members.size());
        EXPECT_EQ(header.compressionType, row.compressionType);
        EXPECT_EQ(header.blockSize, row.blockSize);
        EXPECT_EQ(header.dataLength, dataLength);
        EXPECT_EQ(header.blockCount, (dataLength + row.blockSize - 1) / row.blockSize);
        EXPECT_EQ(header.propertyCount, row.properties.size());
        EXPECT_EQ(header.fileNamesOffset, 60 + 4 * members.size());
        EXPECT_EQ(header.propertiesOffset, header.fileNamesOffset + names);
        EXPECT_EQ(header.blockSizesOffset, header.propertiesOffset + properties);
        EXPECT_EQ(header.blocksOffset, header.blockSizesOffset + 4 * header.blockCount);
        EXPECT_EQ(header.dataEnd, std::filesystem::file_size(tmp.path() / "round.mca"));
        EXPECT_EQ(archive.propertyTable(), row.properties);

        std::uint32_t stored = 0, largest = 0;
        for (const filedriver::StoredBlock& block : archive.blocks().stored()) {
            EXPECT_EQ(block.storedOffset, stored);
            stored += block.storedSize;
            largest = std::max(largest, block.storedSize);
        }
        EXPECT_EQ(header.dataEnd, header.blocksOffset + stored);
        EXPECT_EQ(header.maxStoredBlockSize, largest);

        ASSERT_EQ(archive.members().size(), members.size());
        std::uint32_t offset = 0;
        for (std::size_t i = 0; i < members.size(); ++i) {
            const auto& [name, bytes] = members[i];
            SCOPED_TRACE(orva::toUtf8(name));
            EXPECT_EQ(archive.members()[i].name, name);
            EXPECT_EQ(archive.members()[i].dataSize, bytes.size());
            EXPECT_EQ(archive.members()[i].dataOffset, offset);
            offset += static_cast<std::uint32_t>(bytes.size());
            for (std::uint32_t mode : {filedriver::OpenRead, filedriver::OpenReadBuffered})
                EXPECT_EQ(readMember(path + filedriver::Separators[0] + name, mode), bytes) << mode;
        }
    }
}

TEST(ArchiveWriter, BlockSizeBeyondTheDataIsHeldOnlyAsFarAsNeeded)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"one.mca");
    ASSERT_TRUE(filedriver::writeArchive(path, {{L"a", sample(100, 6)}}, options(0xFFFFFFFF)));
    filedriver::OrvaArchive archive(path, &filedriver::archiveManager);
    EXPECT_EQ(archive.archiveHeader().blockCount, 1u);
    EXPECT_EQ(archive.archiveHeader().dataEnd, std::filesystem::file_size(tmp.path() / "one.mca"));
}

TEST(ArchiveWriter, StreamedChunksGiveTheSameFileAsWholeMembers)
{
    const Members members = {{L"a", sample(10000, 4)}, {L"b", {}}, {L"c", sample(5000, 5)}};
    testsupport::TempDir tmp;
    ASSERT_TRUE(filedriver::writeArchive(tmp.wide(L"whole.mca"), members, options(4096)));

    ByteBuffer stream;
    std::vector<filedriver::ArchiveMemberPlan> plan;
    for (const auto& [name, bytes] : members) {
        plan.push_back({name, static_cast<std::uint32_t>(bytes.size())});
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    {
        ArchiveWriter writer(tmp.wide(L"chunks.mca"), plan, options(4096));
        // Chunks that straddle member and block boundaries.
        for (std::size_t at = 0; at < stream.size(); at += 777)
            ASSERT_TRUE(writer.append(stream.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(777, stream.size() - at))));
        ASSERT_TRUE(writer.finish());
    }
    EXPECT_EQ(testsupport::readFile(tmp.path() / "chunks.mca"), testsupport::readFile(tmp.path() / "whole.mca"));
}

TEST(ArchiveWriter, BytesThatDoNotMatchThePlanFail)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes(11, 'x');
    {
        ArchiveWriter writer(tmp.wide(L"over.mca"), {{L"a", 4}, {L"b", 6}}, {});
        EXPECT_TRUE(writer.append(bytes.data(), 6));
        EXPECT_FALSE(writer.append(bytes.data(), 5));
        // The failure sticks, even for bytes that would fit.
        EXPECT_FALSE(writer.append(bytes.data(), 4));
        EXPECT_FALSE(writer.finish());
    }
    ArchiveWriter writer(tmp.wide(L"under.mca"), {{L"a", 4}, {L"b", 6}}, {});
    EXPECT_TRUE(writer.append(bytes.data(), 9));
    EXPECT_FALSE(writer.finish());
    EXPECT_TRUE(writer.append(bytes.data(), 1));
    EXPECT_TRUE(writer.finish());
    // Once finished, nothing more is taken.
    EXPECT_FALSE(writer.finish());
    EXPECT_FALSE(writer.append(bytes.data(), 1));
}

TEST(ArchiveWriter, RefusedOptionsThrowBeforeCreatingTheFile)
{
    const std::pair<filedriver::ArchiveWriterOptions, std::vector<filedriver::ArchiveMemberPlan>> rows[] = {
        {options(0), {}},          {options(4096, 2), {}},    {options(4096, 1, 10), {}},
        {options(4096, 1, -2), {}}, {options(4096, 0, 10), {}}, {options(4096), {{L"a", 0xFFFFFFFF}, {L"b", 1}}},
        {options(4096, 0), {{L"a", 0x40000000}, {L"b", 0x40000000}}}};
    for (const auto& [refused, plan] : rows) {
        SCOPED_TRACE(testing::Message() << refused.blockSize << " " << refused.compressionType << " " << refused.level);
        testsupport::TempDir tmp;
        EXPECT_THROW(ArchiveWriter(tmp.wide(L"x.mca"), plan, refused), orva::exception);
        EXPECT_FALSE(std::filesystem::exists(tmp.path() / "x.mca"));
    }
    testsupport::TempDir tmp;
    EXPECT_THROW(ArchiveWriter(tmp.wide(L"missing/x.mca"), {}, {}), orva::exception);
}

// A stored archive's size is known from its plan: one byte past the format's 2 GiB - 1 is refused
// before the file is made, while the largest that fits is written.
TEST(ArchiveWriter, AStoredArchiveIsRefusedUpFrontOnlyPastTheLimit)
{
    constexpr std::uint64_t limit = 0x7FFFFFFF;
    // Header, one size, the name "a" and its terminator, then a size per block of 4096 bytes.
    const auto archiveSize = [](std::uint64_t data) { return 60 + 4 + 4 + 4 * ((data + 4095) / 4096) + data; };
    std::uint64_t fits = limit - 60;
    while (archiveSize(fits) > limit)
        --fits;
    testsupport::TempDir tmp;
    EXPECT_THROW(ArchiveWriter(tmp.wide(L"x.mca"), {{L"a", static_cast<std::uint32_t>(fits + 1)}}, options(4096, 0)),
                 orva::exception);
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "x.mca"));
    EXPECT_NO_THROW(ArchiveWriter(tmp.wide(L"x.mca"), {{L"a", static_cast<std::uint32_t>(fits)}}, options(4096, 0)));
}

std::uint32_t u32At(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(b)]);
    return value;
}

// Text of three words repeated at random: blocks on which libdeflate alone would lose to compress2.
ByteBuffer threeWords(std::size_t size)
{
    static const char* const words[] = {"red ", "green ", "blue "};
    std::mt19937 random(5);
    ByteBuffer text;
    while (text.size() < size)
        for (const char* c = words[random() % 3]; *c; ++c)
            text.push_back(static_cast<std::uint8_t>(*c));
    text.resize(size);
    return text;
}

// Members over many blocks, so that every thread has several to encode, some of them blocks whose
// stream comes from compress2 rather than libdeflate.
Members manyBlocks()
{
    return {{L"a", sample(37 * 4096 + 5, 11)}, {L"b", {}}, {L"c", sample(4096 * 3 + 1, 12)},
            {L"d", threeWords(4096 * 9 + 7)}};
}

TEST(ArchiveWriterThreads, EveryThreadCountWritesTheSameFile)
{
    const Members members = manyBlocks();
    for (std::int32_t level : {-1, 0, 1, 9}) {
        testsupport::TempDir tmp;
        std::string first;
        for (unsigned threads : {1u, 2u, 8u, 0u}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << threads << " threads");
            filedriver::ArchiveWriterOptions row = options(4096, 1, level);
            row.threads = threads;
            ASSERT_TRUE(filedriver::writeArchive(tmp.wide(L"t.mca"), members, row));
            const std::string bytes = testsupport::readFile(tmp.path() / "t.mca");
            if (first.empty())
                first = bytes;
            EXPECT_TRUE(bytes == first);
        }
    }
}

TEST(ArchiveWriterThreads, EveryLevelIsReadBackByInflateAloneAndNoLargerThanCompress2)
{
    const Members members = manyBlocks();
    ByteBuffer stream;
    for (const auto& [name, bytes] : members)
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    for (std::int32_t level = -1; level <= 9; ++level) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        testsupport::TempDir tmp;
        filedriver::ArchiveWriterOptions row = options(4096, 1, level);
        row.threads = 3;
        ASSERT_TRUE(filedriver::writeArchive(tmp.wide(L"l.mca"), members, row));
        // The file as bytes, with no help from the library: its header, stored sizes and blocks.
        const std::string file = testsupport::readFile(tmp.path() / "l.mca");
        const std::uint32_t blockCount = u32At(file, 24), blockSizesOffset = u32At(file, 48);
        std::size_t at = u32At(file, 52), stored = 0, reference = 0;
        ASSERT_EQ(blockCount, (stream.size() + 4095) / 4096);
        for (std::uint32_t k = 0; k < blockCount; ++k) {
            const std::uint32_t size = u32At(file, blockSizesOffset + 4 * k);
            const ByteBuffer expected(stream.begin() + k * 4096, stream.begin() + std::min<std::size_t>(stream.size(), (k + 1) * 4096));
            z_stream inflater{};
            ASSERT_EQ(inflateInit(&inflater), Z_OK);
            ByteBuffer out(4097);
            inflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at));
            inflater.avail_in = size;
            inflater.next_out = out.data();
            inflater.avail_out = static_cast<uInt>(out.size());
            EXPECT_EQ(inflate(&inflater, Z_FINISH), Z_STREAM_END) << k;
            EXPECT_EQ(inflater.avail_in, 0u) << k;
            out.resize(out.size() - inflater.avail_out);
            inflateEnd(&inflater);
            EXPECT_TRUE(out == expected) << k;
            uLongf length = compressBound(4096);
            ByteBuffer again(length);
            compress2(again.data(), &length, expected.data(), static_cast<uLong>(expected.size()), level);
            reference += length;
            stored += size;
            at += size;
        }
        EXPECT_EQ(at, file.size());
        EXPECT_LE(stored, reference * 1.02);
    }
}

TEST(ArchiveWriterThreads, AFailedOrUnfinishedWriterLeavesNoFile)
{
    const Members members = manyBlocks();
    const std::vector<filedriver::ArchiveMemberPlan> plan = {{L"a", static_cast<std::uint32_t>(members[0].second.size())}};
    const ByteBuffer& bytes = members[0].second;
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        filedriver::ArchiveWriterOptions row = options(4096);
        row.threads = threads;
        testsupport::TempDir tmp;
        const auto exists = [&] { return std::filesystem::exists(tmp.path() / "f.mca"); };
        {
            // More bytes than planned: the file goes at once.
            ArchiveWriter writer(tmp.wide(L"f.mca"), plan, row);
            ASSERT_TRUE(writer.append(bytes.data(), 20000));
            EXPECT_FALSE(writer.append(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
            EXPECT_FALSE(exists());
            EXPECT_FALSE(writer.finish());
        }
        {
            // The input failed halfway: the caller gives up, blocks still being encoded.
            ArchiveWriter writer(tmp.wide(L"f.mca"), plan, row);
            ASSERT_TRUE(writer.append(bytes.data(), 30000));
            EXPECT_TRUE(exists());
        }
        EXPECT_FALSE(exists());
        {
            // Bytes missing at finish: not yet a failure, but a writer never finished leaves nothing.
            ArchiveWriter writer(tmp.wide(L"f.mca"), plan, row);
            ASSERT_TRUE(writer.append(bytes.data(), 100));
            EXPECT_FALSE(writer.finish());
            EXPECT_TRUE(exists());
        }
        EXPECT_FALSE(exists());
    }
}

} // namespace
