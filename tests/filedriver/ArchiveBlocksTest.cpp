#include "filedriver/ArchiveBlocks.h"

#include "filedriver/ArchiveWriter.h"
#include "filedriver/LocalArchiveSource.h"
#include "filedriver/OrvaArchive.h"
#include "orva/WideText.h"
#include "support/Caught.h"
#include "support/SampleBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace filedriver;

ArchiveBlocks layout(std::uint32_t blockSize, std::uint32_t dataLength)
{
    ArchiveHeader header{};
    header.blockSize = blockSize;
    header.dataLength = dataLength;
    header.blockCount = static_cast<std::uint32_t>(ArchiveBlocks::countFor(dataLength, blockSize));
    return ArchiveBlocks(header, std::vector<StoredBlock>(header.blockCount, StoredBlock{1, 0}), nullptr, nullptr);
}

TEST(ArchiveBlocksArithmetic, CountsLengthsAndTheBlocksHoldingAnyBytes)
{
    EXPECT_EQ(ArchiveBlocks::countFor(0, 10), 0u);
    EXPECT_EQ(ArchiveBlocks::countFor(10, 10), 1u);
    EXPECT_EQ(ArchiveBlocks::countFor(11, 10), 2u);
    EXPECT_EQ(ArchiveBlocks::countFor(0xFFFFFFFFull, 1), 0xFFFFFFFFull);

    // Blocks of 10 bytes over 46: the last holds 6.
    const ArchiveBlocks blocks = layout(10, 46);
    ASSERT_EQ(blocks.count(), 5u);
    EXPECT_EQ(blocks.lengthOf(0), 10u);
    EXPECT_EQ(blocks.lengthOf(4), 6u);
    EXPECT_EQ(blocks.startOf(4), 40u);
    struct Row {
        std::uint64_t start, length;
        std::uint32_t first, end;
    } const rows[] = {
        {0, 46, 0, 5},  {0, 10, 0, 1}, {9, 2, 0, 2},   {10, 10, 1, 2}, {45, 1, 4, 5},
        {45, 100, 4, 5}, // clipped to the data
        {20, 0, 2, 2},   // nothing
        {46, 5, 4, 4},   // past the data: nothing
    };
    for (const Row& row : rows) {
        const BlockRange range = blocks.blocksHolding(row.start, row.length);
        EXPECT_EQ(range.first, row.first) << row.start << "+" << row.length;
        EXPECT_EQ(range.end, row.end) << row.start << "+" << row.length;
    }
}

TEST(ArchiveBlocksArithmetic, PositionsPastTheDataFailAsAReadOfThemDoes)
{
    const ArchiveBlocks blocks = layout(10, 46);
    EXPECT_EQ(blocks.blockAt(45), 4u);
    const testsupport::Caught failure = testsupport::caught([&] { blocks.blockAt(46); });
    EXPECT_EQ(failure.what, "orvana exception: ArchiveCursor.read: integrity failed 1");
    EXPECT_EQ(failure.kind, orva::ErrorKind::Damaged);
    EXPECT_EQ(failure.block, -1);
}

// Counts the reads that reach the source: what a source far away pays for.
class CountingSource : public ArchiveSource {
public:
    explicit CountingSource(const FilePath& path) : file(path) {}
    std::uint64_t size() const override { return file.size(); }
    std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t length) override
    {
        ++reads;
        return file.readAt(offset, buffer, length);
    }
    void willNeed(std::uint64_t offset, std::uint64_t length) override
    {
        ++hints;
        file.willNeed(offset, length);
    }
    std::string version() const override { return file.version(); }

    LocalArchiveSource file;
    int reads = 0;
    int hints = 0;
};

TEST(ArchiveBlocksSource, AnIndexInTheFirst64KiBLoadsInOneReadALargerOneInTwo)
{
    testsupport::TempDir tmp;
    std::vector<std::pair<std::wstring, ByteBuffer>> few = {{L"a", testsupport::sampleBytes(300000, 1)}};
    std::vector<std::pair<std::wstring, ByteBuffer>> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({L"member-" + std::to_wstring(i) + L".dat", ByteBuffer(3, 'x')});
    for (const auto& [name, members, reads] : {std::make_tuple(L"few.mca", few, 1), std::make_tuple(L"many.mca", many, 2)}) {
        ArchiveWriterOptions options;
        options.properties = {{L"k", L"v"}};
        ASSERT_TRUE(writeArchive(tmp.wide(name), members, options));
        CountingSource source(tmp.wide(name));
        const OrvaArchive archive(source, tmp.wide(name));
        EXPECT_EQ(archive.members().size(), members.size());
        EXPECT_EQ(source.reads, reads) << orva::toNative(name) << ": index of "
                                       << archive.archiveHeader().blocksOffset << " bytes";
    }
}

// A span of blocks that follow each other in the file is one read of the source.
TEST(ArchiveBlocksSource, ARunOfBlocksIsReadInOneCall)
{
    testsupport::TempDir tmp;
    ArchiveWriterOptions options;
    options.blockSize = 4096;
    const ByteBuffer bytes = testsupport::sampleBytes(10 * 4096, 2);
    ASSERT_TRUE(writeArchive(tmp.wide(L"run.mca"), {{L"m", bytes}}, options));
    auto counting = std::make_unique<CountingSource>(tmp.wide(L"run.mca"));
    CountingSource& source = *counting;
    OrvaArchive archive(source, tmp.wide(L"run.mca"));
    const int loadReads = source.reads;
    archive.blocks().open(std::move(counting));
    BlockDecoder decoder(archive.archiveHeader().compressionType);
    ByteBuffer out(8 * 4096);
    std::uint32_t decoded = 0;
    std::size_t produced = 0;
    EXPECT_EQ(archive.blocks().decodeRun(1, 8, out.data(), decoder, decoded, produced), 0);
    EXPECT_EQ(decoded, 8u);
    EXPECT_EQ(produced, out.size());
    EXPECT_EQ(out, ByteBuffer(bytes.begin() + 4096, bytes.begin() + 9 * 4096));
    EXPECT_EQ(source.reads - loadReads, 1);
    // The read-ahead hint reaches the source while it is open, and nothing after.
    archive.willNeed(archive.blocks().storedOffset(9), 4096);
    EXPECT_EQ(source.hints, 1);
    archive.blocks().close();
    archive.willNeed(0, 4096);
}

} // namespace
