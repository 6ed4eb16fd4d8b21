#include "filedriver/ParallelBlockReader.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "orva/exception.h"
#include "support/SampleBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace filedriver;
using Members = std::vector<std::pair<std::wstring, ByteBuffer>>;

constexpr std::uint32_t blockSize = 4096;

const auto sample = testsupport::sampleBytes;

// Members that start and end mid-block, an empty one, one within a single block.
const Members& members()
{
    static const Members made = {{L"first", sample(5 * blockSize + 100, 1)},
                                 {L"empty", {}},
                                 {L"middle", sample(9 * blockSize + 3000, 2)},
                                 {L"small", sample(10, 3)},
                                 {L"last", sample(blockSize - 10, 4)}};
    return made;
}

ByteBuffer dataStream()
{
    ByteBuffer all;
    for (const auto& member : members())
        all.insert(all.end(), member.second.begin(), member.second.end());
    return all;
}

std::wstring memberPath(const std::wstring& archive, const std::wstring& name)
{
    return archive + Separators[0] + name;
}

// An archive of members() in `tmp`; with `damagedBlock`, that block's last byte (its checksum) flipped.
std::wstring makeArchive(const testsupport::TempDir& tmp, std::uint32_t compressionType, int damagedBlock = -1)
{
    ArchiveWriterOptions options;
    options.blockSize = blockSize;
    options.compressionType = compressionType;
    const std::wstring path = tmp.wide(L"a.mca");
    EXPECT_TRUE(writeArchive(path, members(), options));
    if (damagedBlock >= 0) {
        const OrvaArchive index(path, &archiveManager);
        const StoredBlock& block = index.blocks().stored()[static_cast<std::size_t>(damagedBlock)];
        std::string bytes = testsupport::readFile(tmp.path() / "a.mca");
        bytes[index.archiveHeader().blocksOffset + block.storedOffset + block.storedSize - 1] ^= 1;
        tmp.writeFile(L"a.mca", bytes);
    }
    return path;
}

std::string whatOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const orva::exception& error) {
        return error.what();
    } catch (...) {
        return "not an orva::exception";
    }
}

std::int64_t blockOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const orva::exception& error) {
        EXPECT_EQ(error.kind(), orva::ErrorKind::Damaged);
        return error.block();
    } catch (...) {
        return -2;
    }
}

ByteBuffer slice(const ByteBuffer& bytes, std::size_t at, std::size_t length)
{
    return ByteBuffer(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + length)));
}

TEST(ParallelBlockReaderThreads, HandsEveryBlockInOrderAsItsDataHolds)
{
    const ByteBuffer stream = dataStream();
    const auto blockCount = static_cast<std::uint32_t>((stream.size() + blockSize - 1) / blockSize);
    for (std::uint32_t type : {0u, 1u}) {
        testsupport::TempDir tmp;
        const std::wstring archive = makeArchive(tmp, type);
        for (unsigned threads : {1u, 2u, 8u, 0u})
            for (const auto& [first, end] : {std::pair<std::uint32_t, std::uint32_t>{0, blockCount}, {3, 7}, {5, 5}}) {
                SCOPED_TRACE(testing::Message() << "type " << type << ", " << threads << " threads, blocks " << first
                                                << " to " << end);
                ParallelBlockReader reader(archiveManager.shareArchive(archive), {first, end}, threads);
                std::uint32_t expected = first;
                for (DecodedBlock block; reader.next(block); ++expected) {
                    ASSERT_EQ(block.index, expected);
                    EXPECT_FALSE(block.failure);
                    EXPECT_EQ(*block.bytes, slice(stream, std::size_t(expected) * blockSize, blockSize));
                }
                EXPECT_EQ(expected, end);
                DecodedBlock after;
                EXPECT_FALSE(reader.next(after));
            }
    }
}

TEST(ParallelBlockReaderThreads, ADamagedBlockComesInItsTurnWithTheCursorsFailureAndTheRestStayGood)
{
    const ByteBuffer stream = dataStream();
    const auto blockCount = static_cast<std::uint32_t>((stream.size() + blockSize - 1) / blockSize);
    testsupport::TempDir tmp;
    const std::wstring archive = makeArchive(tmp, 1, 2);
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        // Two blocks past the archive's last: a reader asked for them gets the cursor's failure too.
        ParallelBlockReader reader(archiveManager.shareArchive(archive), {0, blockCount + 2}, threads);
        std::uint32_t count = 0;
        for (DecodedBlock block; reader.next(block); ++count) {
            ASSERT_EQ(block.index, count);
            if (count == 2 || count >= blockCount) {
                EXPECT_EQ(whatOf(block.failure), "orvana exception: ArchiveCursor.read: integrity failed "
                                                     + std::string(count == 2 ? "7" : "2"));
                EXPECT_EQ(blockOf(block.failure), count == 2 ? 2 : -1);
                EXPECT_TRUE(block.bytes->empty());
            } else {
                EXPECT_FALSE(block.failure) << count;
                EXPECT_EQ(*block.bytes, slice(stream, std::size_t(count) * blockSize, blockSize));
            }
        }
        EXPECT_EQ(count, blockCount + 2);
    }
}

TEST(ParallelMemberReaderThreads, ReadsEveryMembersBytesInAnyPieceSize)
{
    for (std::uint32_t type : {0u, 1u}) {
        testsupport::TempDir tmp;
        const std::wstring archive = makeArchive(tmp, type);
        for (unsigned threads : {1u, 2u, 8u})
            for (std::uint32_t piece : {1u, 777u, blockSize, 1u << 20})
                for (const auto& [name, bytes] : members()) {
                    SCOPED_TRACE(testing::Message() << "type " << type << ", " << threads << " threads, pieces of "
                                                    << piece << ", member " << std::string(name.begin(), name.end()));
                    ParallelMemberReader reader(memberPath(archive, name), threads);
                    EXPECT_EQ(reader.size(), bytes.size());
                    ByteBuffer got, buffer(piece);
                    while (const std::uint32_t n = reader.read(buffer.data(), piece))
                        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
                    EXPECT_EQ(got, bytes);
                    EXPECT_EQ(reader.read(buffer.data(), piece), 0u);
                }
    }
}

TEST(ParallelMemberReaderThreads, ADamagedBlockFailsTheReadThatReachesItAndEveryLaterOne)
{
    testsupport::TempDir tmp;
    // Block 2 lies inside the member "first".
    const std::wstring archive = makeArchive(tmp, 1, 2);
    const ByteBuffer& bytes = members()[0].second;
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        ParallelMemberReader reader(memberPath(archive, L"first"), threads);
        ByteBuffer buffer(blockSize);
        for (std::uint32_t block = 0; block < 2; ++block) {
            ASSERT_EQ(reader.read(buffer.data(), blockSize), blockSize);
            EXPECT_EQ(buffer, slice(bytes, std::size_t(block) * blockSize, blockSize));
        }
        for (int attempt = 0; attempt < 2; ++attempt)
            try {
                reader.read(buffer.data(), blockSize);
                ADD_FAILURE() << "a damaged block was read";
            } catch (const orva::exception& error) {
                EXPECT_STREQ(error.what(), "orvana exception: ArchiveCursor.read: integrity failed 7");
                EXPECT_EQ(error.block(), 2);
            }
    }
}

TEST(ParallelMemberReaderThreads, AMissingMemberFailsAsACursorDoes)
{
    testsupport::TempDir tmp;
    const std::wstring archive = makeArchive(tmp, 1);
    EXPECT_THROW(ParallelMemberReader(memberPath(archive, L"none"), 2), orva::exception);
}

} // namespace
