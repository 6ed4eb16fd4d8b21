#include "filedriver/ArchiveCursor.h"

#include "ArchiveTestHelpers.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"
#include "support/SampleBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

// Declared in ArchiveTestHelpers.h.
namespace archivetest {

std::wstring makeArchive(const testsupport::TempDir& tmp, const std::wstring& file, const Members& members,
                         std::uint32_t blockSize, std::uint32_t compressionType)
{
    filedriver::ArchiveWriterOptions options;
    options.blockSize = blockSize;
    options.compressionType = compressionType;
    EXPECT_TRUE(filedriver::writeArchive(tmp.wide(file), members, options));
    return tmp.wide(file);
}

std::wstring memberPath(const std::wstring& archive, const std::wstring& name)
{
    return archive + filedriver::Separators[0] + name;
}

bool cacheHolds(filedriver::OrvaArchive* archive, std::int32_t block)
{
    bool filled = false;
    filedriver::archiveManager.acquireBlock(archive, block, filled);
    if (filled)
        filedriver::archiveManager.releaseBlock(archive, block);
    else
        filedriver::archiveManager.abandonBlock(archive, block);
    return filled;
}

filedriver::ByteBuffer readInOrder(const std::wstring& path, std::uint32_t pieceSize)
{
    filedriver::FileDriver file(path, filedriver::OpenRead);
    filedriver::ByteBuffer got;
    filedriver::ByteBuffer piece(pieceSize);
    for (std::uint32_t n; (n = file.read(piece.data(), pieceSize)) > 0;)
        got.insert(got.end(), piece.begin(), piece.begin() + n);
    return got;
}

} // namespace archivetest

namespace {

using namespace archivetest;
using namespace filedriver;

const auto sample = testsupport::sampleBytes;

ByteBuffer readAt(FileDriver& file, std::int32_t offset, std::uint32_t length)
{
    EXPECT_EQ(file.seek(offset, SeekBegin), offset);
    ByteBuffer bytes(length);
    bytes.resize(file.read(bytes.data(), length));
    return bytes;
}

ByteBuffer slice(const ByteBuffer& bytes, std::size_t offset, std::size_t length)
{
    return ByteBuffer(bytes.begin() + offset, bytes.begin() + std::min(bytes.size(), offset + length));
}

TEST(ArchiveCursorRead, RoundTripsEveryLayoutCodecAndMode)
{
    struct Layout {
        std::uint32_t blockSize;
        std::vector<std::uint32_t> sizes;
    } const layouts[] = {{4096, {10000, 0, 4096, 5000}}, {1, {300, 0, 5}}, {65536, {70000, 3, 0}}};
    const std::wstring names[] = {L"first.dat", L"stra\u00dfe \u65e5\u672c.bin", L"THIRD", L"last.x"};
    testsupport::TempDir tmp;
    std::mt19937 random(7);
    for (const Layout& layout : layouts)
        for (std::uint32_t type : {0u, 1u}) {
            Members members;
            for (std::size_t i = 0; i < layout.sizes.size(); ++i)
                members.emplace_back(names[i], sample(layout.sizes[i], unsigned(i + 1)));
            const std::wstring file = std::to_wstring(layout.blockSize) + L"-" + std::to_wstring(type) + L".mca";
            const std::wstring archive = makeArchive(tmp, file, members, layout.blockSize, type);
            for (std::uint32_t mode : {OpenRead, OpenReadBuffered})
                for (const auto& [name, source] : members) {
                    SCOPED_TRACE(orva::toNative(name) + " block " + std::to_string(layout.blockSize) + " type "
                                 + std::to_string(type) + " mode " + std::to_string(mode));
                    // Directories between the archive and the name do not count.
                    FileDriver file(memberPath(archive, L"sub" + std::wstring(1, Separators[1]) + name), mode);
                    ASSERT_EQ(file.size(), std::int32_t(source.size()));
                    ByteBuffer whole(source.size() + 777);
                    std::uint32_t at = 0;
                    for (std::uint32_t got = 1; got > 0; at += got)
                        got = file.read(whole.data() + at, 777);
                    EXPECT_EQ(slice(whole, 0, at), source);
                    for (int i = 0; i < 12; ++i) {
                        const auto offset = std::int32_t(random() % (source.size() + 1));
                        const std::uint32_t length = random() % 9000;
                        EXPECT_EQ(readAt(file, offset, length), slice(source, offset, length))
                            << offset << '+' << length;
                    }
                }
        }
}

TEST(ArchiveCursorRead, ReadsThatFollowEachOtherAndSeeksBetweenThemGiveTheMembersBytes)
{
    // Reads that follow each other keep the rest of their block: seeks into it, out of it and back.
    constexpr std::uint32_t blockSize = 4096;
    const ByteBuffer source = sample(3 * blockSize + 123, 4);
    struct Step {
        std::int32_t seekTo; // -1: go on from where the previous read ended
        std::uint32_t length;
    } const steps[] = {{0, 100},    {-1, 100},  {-1, 5000}, {150, 50},   {-1, 4000}, {8000, 10}, {-1, 10},
                       {4095, 2},   {-1, 4096}, {0, 1},     {-1, 20000}, {12300, 1}, {-1, 1000}, {4200, 3},
                       {-1, 3},     {100, 3},   {-1, 9000}};
    testsupport::TempDir tmp;
    for (std::uint32_t type : {0u, 1u}) {
        const std::wstring archive =
            makeArchive(tmp, L"t" + std::to_wstring(type) + L".mca", {{L"a", sample(1000, 3)}, {L"m", source}}, blockSize, type);
        for (std::uint32_t mode : {OpenRead, OpenReadBuffered}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " mode " << mode);
            FileDriver file(memberPath(archive, L"m"), mode);
            std::int32_t at = 0;
            for (const Step& step : steps) {
                if (step.seekTo >= 0)
                    at = file.seek(step.seekTo, SeekBegin);
                ByteBuffer got(step.length);
                got.resize(file.read(got.data(), step.length));
                EXPECT_EQ(got, slice(source, std::size_t(at), step.length)) << at << '+' << step.length;
                at += std::int32_t(got.size());
            }
        }
    }
}

TEST(ArchiveCursorOpen, DataFileOpenWhileAnyCursorIsThenItsBlocksAreForgotten)
{
    testsupport::TempDir tmp;
    ByteBuffer first = sample(40, 1);
    const std::wstring archive = makeArchive(tmp, L"s.mca", {{L"a.dat", first}, {L"b.dat", sample(8, 2)}}, 16, 0);
    const OrvaArchive* const loaded = archiveManager.getArchive(archive);
    // A member that is not there leaves no cursor behind, beside another cursor or not.
    const auto openMissing = [&](bool othersOpen) {
        for (const wchar_t* name : {L"A.dat", L"missing.dat", L"a.dat\\"}) {
            const std::wstring path = memberPath(archive, name);
            std::string what;
            const std::string log = logOf([&] { what = whatOf([&] { FileDriver file(path, OpenReadBuffered); }); });
            EXPECT_EQ(what, "orvana exception: ArchiveCursor: file '" + orva::toNative(path)
                                + "' not found in archive '" + orva::toNative(archive) + "'");
            EXPECT_EQ(occurrences(log, "Exception thrown: .\\src\\filedriver\\ArchiveCursor.cpp(28)"), 1u) << log;
            EXPECT_EQ(loaded->isSourceOpen(), othersOpen);
        }
    };
    openMissing(false);
    {
        FileDriver a(memberPath(archive, L"a.dat"), OpenRead);
        {
            FileDriver b(memberPath(archive, L"b.dat"), OpenReadBuffered);
            EXPECT_EQ(readAt(b, 0, 8), sample(8, 2));
        }
        openMissing(true);
        EXPECT_EQ(readAt(a, 0, 40), first);
    }
    EXPECT_FALSE(loaded->isSourceOpen());
    // Other stored bytes of the same sizes, written while no cursor is open, are what the next one reads.
    std::string bytes = testsupport::readFile(tmp.path() / "s.mca");
    for (std::size_t i = bytes.size() - 48; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(~bytes[i]);
    tmp.writeFile(L"s.mca", bytes);
    for (std::uint8_t& byte : first)
        byte = static_cast<std::uint8_t>(~byte);
    FileDriver again(memberPath(archive, L"a.dat"), OpenRead);
    EXPECT_EQ(readAt(again, 0, 40), first);
}

TEST(ArchiveCursorOpen, StoredAndZlibArchivesKeepTheSameCacheRules)
{
    for (const std::uint32_t type : {0u, 1u}) {
        SCOPED_TRACE("compressionType " + std::to_string(type));
        testsupport::TempDir tmp;
        const std::wstring archive = tmp.wide(L"rules.mca");
        const std::wstring member = memberPath(archive, L"m");
        ArchiveWriterOptions options;
        options.blockSize = 4096;
        options.compressionType = type;
        // zlib at level 0: other bytes of the same length give the same stored sizes, the same index.
        options.level = 0;
        const auto write = [&](const ByteBuffer& bytes) {
            ASSERT_TRUE(writeArchive(archive, {{L"m", bytes}}, options));
        };
        const ByteBuffer first = sample(10000, 1), second = sample(10000, 2), longer = sample(12000, 3);
        write(first);
        const std::uintmax_t length = std::filesystem::file_size(std::filesystem::path(archive));
        {
            FileDriver a(member, OpenRead);
            FileDriver b(member, OpenReadBuffered);
            EXPECT_EQ(readAt(a, 0, 10000), first);
            EXPECT_EQ(readAt(b, 0, 10000), first);
        }
        // Once the last cursor has gone, the next reads the file afresh: no block of the old bytes stays.
        write(second);
        ASSERT_EQ(std::filesystem::file_size(std::filesystem::path(archive)), length);
        {
            FileDriver again(member, OpenRead);
            EXPECT_EQ(readAt(again, 0, 10000), second);
            EXPECT_EQ(readAt(again, 5000, 100), slice(second, 5000, 100));
        }
        // Another index: no cursor reads it through the old one, until the archive is released.
        write(longer);
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_EQ(whatOf([&] { FileDriver stale(member, OpenRead); }),
                      "orvana exception: " + orva::toNative(archive) + " : file changed since its index was loaded");
        EXPECT_TRUE(archiveManager.releaseArchive(archive));
        FileDriver fresh(member, OpenReadBuffered);
        EXPECT_EQ(readAt(fresh, 0, 12000), longer);
    }
}

TEST(ArchiveCursorRead, ReadingThroughAMemberLeavesTheCacheToRandomReaders)
{
    testsupport::TempDir tmp;
    constexpr std::uint32_t blockSize = 4096;
    const ByteBuffer bytes = sample(300 * blockSize, 5);
    const std::wstring archive = makeArchive(tmp, L"z.mca", {{L"m", bytes}}, blockSize, 1);
    OrvaArchive* const loaded = archiveManager.getArchive(archive);
    // A random read enters its block; holding the archive open keeps it there.
    FileDriver random(memberPath(archive, L"m"), OpenRead);
    EXPECT_EQ(readAt(random, 3 * blockSize + 10, 100), ByteBuffer(bytes.begin() + 3 * blockSize + 10, bytes.begin() + 3 * blockSize + 110));
    // More blocks than the cache holds, read in order, in reads of every size.
    FileDriver sequential(memberPath(archive, L"m"), OpenReadBuffered);
    ByteBuffer got;
    for (std::uint32_t size = 1; got.size() < bytes.size(); size = size * 3 % 70001 + 1) {
        ByteBuffer part(size);
        part.resize(sequential.read(part.data(), size));
        ASSERT_FALSE(part.empty()) << got.size();
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == bytes);
    bool filled = false;
    archiveManager.acquireBlock(loaded, 3, filled);
    EXPECT_TRUE(filled);
    archiveManager.releaseBlock(loaded, 3);
    // Where blocks are decoded ahead, readers in order take them from a ring of their own: what follows
    // is the rule of a reader decoding alone.
    if (loaded->blocks().decodingAhead())
        return;
    archiveManager.acquireBlock(loaded, 200, filled);
    EXPECT_FALSE(filled);
    archiveManager.abandonBlock(loaded, 200);
    // Readers in order ask the cache only where a cursor has entered a block.
    EXPECT_TRUE(loaded->blocks().mayBeCached(0, 4));
    EXPECT_TRUE(loaded->blocks().mayBeCached(3, 1));
    EXPECT_FALSE(loaded->blocks().mayBeCached(4, 200));
}

TEST(ArchiveCursorRead, AMembersLastBlockSharedWithTheNextGoesThroughTheCache)
{
    testsupport::TempDir tmp;
    constexpr std::uint32_t blockSize = 4096;
    // Blocks 0-2, 2-4 and 4-11: the first two end inside a block the next one begins in; the last ends
    // with the data.
    const Members members = {{L"a", sample(10000, 1)}, {L"b", sample(9000, 2)}, {L"c", sample(30000, 3)}};
    const std::wstring archive = makeArchive(tmp, L"s.mca", members, blockSize, 1);
    OrvaArchive* const loaded = archiveManager.getArchive(archive);
    const FileDriver held(memberPath(archive, L"c"), OpenRead);
    // Where blocks are decoded ahead, the next member's reader takes the shared block from their ring.
    if (loaded->blocks().decodingAhead())
        GTEST_SKIP() << "this machine decodes ahead: the rule of a reader decoding alone does not apply";
    for (const std::uint32_t piece : {1000u, 4096u}) {
        SCOPED_TRACE(piece);
        EXPECT_TRUE(readInOrder(memberPath(archive, L"a"), piece) == members[0].second);
        EXPECT_TRUE(cacheHolds(loaded, 2));
        EXPECT_TRUE(readInOrder(memberPath(archive, L"b"), piece) == members[1].second);
        EXPECT_TRUE(cacheHolds(loaded, 4));
        EXPECT_TRUE(readInOrder(memberPath(archive, L"c"), piece) == members[2].second);
        // A block of one member alone stays out of the cache when read in order.
        EXPECT_FALSE(cacheHolds(loaded, 7));
    }
}

TEST(ArchiveCursorRead, TheHintOfCachedBlocksGoesWithTheLastCursor)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = sample(40 * 4096, 6);
    const std::wstring archive = makeArchive(tmp, L"h.mca", {{L"m", bytes}}, 4096, 1);
    const OrvaArchive* const loaded = archiveManager.getArchive(archive);
    {
        FileDriver file(memberPath(archive, L"m"), OpenRead);
        EXPECT_EQ(readAt(file, 9 * 4096 + 5, 10), slice(bytes, 9 * 4096 + 5, 10));
        EXPECT_TRUE(loaded->blocks().mayBeCached(8, 2));
        EXPECT_FALSE(loaded->blocks().mayBeCached(0, 9));
    }
    EXPECT_FALSE(loaded->blocks().mayBeCached(0, 40));
    FileDriver again(memberPath(archive, L"m"), OpenReadBuffered);
    ByteBuffer whole(bytes.size());
    EXPECT_EQ(again.read(whole.data(), static_cast<std::uint32_t>(whole.size())), whole.size());
    EXPECT_TRUE(whole == bytes);
}

TEST(ArchiveCursorSeek, EdgesOfTheMember)
{
    testsupport::TempDir tmp;
    const ByteBuffer source = sample(100, 3);
    const std::wstring archive = makeArchive(tmp, L"e.mca", {{L"empty", {}}, {L"data", source}}, 16, 1);
    const std::string before = testsupport::readFile(tmp.path() / "e.mca");
    std::uint8_t buffer[16] = {};
    {
        FileDriver empty(memberPath(archive, L"empty"), OpenRead);
        EXPECT_EQ(empty.size(), 0);
        EXPECT_EQ(empty.read(buffer, 10), 0u);
        EXPECT_EQ(empty.seek(0, SeekEnd), 0);
        EXPECT_EQ(empty.seek(1, SeekBegin), -1);

        FileDriver file(memberPath(archive, L"data"), OpenRead);
        FileDriver other(memberPath(archive, L"data"), OpenRead);
        const std::pair<int, int> refused[] = {{-1, SeekCurrent}, {101, SeekBegin}, {1, SeekEnd}, {5, 7}};
        for (auto [offset, origin] : refused)
            EXPECT_EQ(file.seek(offset, origin), -1) << offset << " from " << origin;
        EXPECT_EQ(file.tell(), 0);
        EXPECT_EQ(file.seek(0, SeekEnd), 100);
        EXPECT_EQ(file.read(buffer, 10), 0u);
        EXPECT_EQ(readAt(file, 90, 16), slice(source, 90, 10));
        EXPECT_EQ(file.read(buffer, 10), 0u);
        EXPECT_EQ(file.seek(-95, SeekCurrent), 5);
        EXPECT_EQ(file.read(buffer, 0), 0u);
        EXPECT_EQ(file.tell(), 5);

        EXPECT_EQ(file.seek(-2, SeekEnd), 98);
        const std::uint8_t* fetched = file.fetch(4);
        EXPECT_EQ(ByteBuffer(fetched, fetched + 4), ByteBuffer({source[98], source[99], 0, 0}));
        EXPECT_EQ(file.tell(), 100);
        EXPECT_EQ(file.write(buffer, 10), 0u);
        file.put(buffer, 10);
        EXPECT_EQ(readAt(other, 10, 1), slice(source, 10, 1));
        EXPECT_EQ(file.tell(), 100);
    }
    EXPECT_EQ(testsupport::readFile(tmp.path() / "e.mca"), before);
}

// The stored file's uint32 fields: header fields at 4 * index, stored sizes from blockSizesOffset.
std::uint32_t u32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int b = 3; b >= 0; --b)
        value = value << 8 | std::uint8_t(bytes[at + b]);
    return value;
}
void setU32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int b = 0; b < 4; ++b)
        bytes[at + b] = static_cast<char>(value >> (8 * b));
}
constexpr std::size_t maxStoredAt = 4 * 5, dataEndAt = 4 * 14;
std::size_t sizeAt(const std::string& bytes, int block) { return u32(bytes, 4 * 12) + 4 * block; }
std::size_t blockStart(const std::string& bytes, int block)
{
    std::size_t at = u32(bytes, 4 * 13);
    for (int k = 0; k < block; ++k)
        at += u32(bytes, sizeAt(bytes, k));
    return at;
}

TEST(ArchiveCursorRead, DamagedBlockFailsEveryTimeItIsNeeded)
{
    struct Row {
        const char* damage;
        std::uint32_t type;
        int check, site, damagedBlock;
        std::function<void(std::string&)> apply;
    } const rows[] = {
        {"block starts at dataEnd", 1, 3, 129, 2,
         [](std::string& f) { setU32(f, dataEndAt, std::uint32_t(blockStart(f, 2))); }},
        {"stored size above the maximum", 1, 4, 135, 2,
         [](std::string& f) { setU32(f, sizeAt(f, 2), u32(f, maxStoredAt) + 1); }},
        {"file cut short", 1, 5, 144, 2, [](std::string& f) { f.pop_back(); }},
        {"stored size 0", 1, 6, 146, 2, [](std::string& f) { setU32(f, sizeAt(f, 2), 0); }},
        {"checksum byte flipped", 1, 7, 150, 1, [](std::string& f) { f[blockStart(f, 2) - 1] ^= 1; }},
        {"stored block cut short", 0, 8, 155, 2, [](std::string& f) { setU32(f, sizeAt(f, 2), 950); }},
        {"zlib stream of another length", 1, 8, 155, 2,
         [](std::string& f) {
             const ByteBuffer other = ZlibCompression().compress(sample(999, 9));
             f.resize(blockStart(f, 2));
             f.append(other.begin(), other.end());
             setU32(f, sizeAt(f, 2), std::uint32_t(other.size()));
             setU32(f, dataEndAt, std::uint32_t(f.size()));
         }},
    };
    constexpr std::uint32_t blockSize = 4096;
    const ByteBuffer source = sample(2 * blockSize + 1000, 5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.damage);
        testsupport::TempDir tmp;
        const std::wstring archive = makeArchive(tmp, L"d.mca", {{L"m.dat", source}}, blockSize, row.type);
        std::string bytes = testsupport::readFile(tmp.path() / "d.mca");
        row.apply(bytes);
        tmp.writeFile(L"d.mca", bytes);

        FileDriver file(memberPath(archive, L"m.dat"), OpenRead);
        std::string whats;
        const std::string log = logOf([&] {
            for (int attempt = 0; attempt < 2; ++attempt)
                whats += whatOf([&] { readAt(file, row.damagedBlock * blockSize, 10); }) + "\n";
        });
        const std::string what = "orvana exception: ArchiveCursor.read: integrity failed " + std::to_string(row.check);
        EXPECT_EQ(whats, what + "\n" + what + "\n");
        EXPECT_EQ(occurrences(log, "ArchiveCursor.cpp(" + std::to_string(row.site) + ")"), 2u) << log;
        for (int block = 0; block < 3; ++block)
            EXPECT_TRUE(block == row.damagedBlock
                        || readAt(file, block * blockSize, blockSize) == slice(source, block * blockSize, blockSize))
                << block;

        // Reads that follow each other take the blocks after theirs at once: the damaged one among
        // them fails, and is logged, only when a read needs it.
        FileDriver sequential(memberPath(archive, L"m.dat"), OpenRead);
        ByteBuffer got;
        const std::string sequentialLog = logOf([&] {
            const std::string failure = whatOf([&] {
                for (ByteBuffer piece(1000);; got.insert(got.end(), piece.begin(), piece.end()))
                    if (sequential.read(piece.data(), 1000) != 1000)
                        break;
            });
            EXPECT_EQ(failure, what);
        });
        EXPECT_EQ(occurrences(sequentialLog, "ArchiveCursor.cpp("), 1u) << sequentialLog;
        EXPECT_EQ(got, slice(source, 0, row.damagedBlock * blockSize / 1000 * 1000));
    }
}

TEST(ArchiveCursorRead, ABufferedReadThatMeetsADamagedBlockLeavesThePosition)
{
    constexpr std::uint32_t blockSize = 4096;
    const ByteBuffer source = sample(2 * blockSize + 1000, 5);
    testsupport::TempDir tmp;
    const std::wstring archive = makeArchive(tmp, L"d.mca", {{L"m.dat", source}}, blockSize, 1);
    std::string bytes = testsupport::readFile(tmp.path() / "d.mca");
    bytes.pop_back(); // the last block
    tmp.writeFile(L"d.mca", bytes);

    FileDriver file(memberPath(archive, L"m.dat"), OpenReadBuffered);
    // Whole windows come first and are good; the tail needs the damaged block.
    ByteBuffer out(2 * blockSize + 8);
    logOf([&] {
        EXPECT_EQ(whatOf([&] { file.read(out.data(), std::uint32_t(out.size())); }),
                  "orvana exception: ArchiveCursor.read: integrity failed 5");
    });
    EXPECT_EQ(file.tell(), 0);
    EXPECT_EQ(readAt(file, 0, 100), slice(source, 0, 100));
}

TEST(ArchiveCursorRead, CursorsOfSeveralThreadsOnFreshArchives)
{
    constexpr int threadCount = 6, archiveCount = 16;
    constexpr std::uint32_t size = 3000;
    testsupport::TempDir tmp;
    Members members;
    for (int t = 0; t < threadCount; ++t)
        members.emplace_back(std::to_wstring(t), sample(size, unsigned(t)));
    // Tiny blocks, far more than the cache holds: nearly every read decodes.
    std::vector<std::wstring> archives;
    for (int i = 0; i < archiveCount; ++i)
        archives.push_back(makeArchive(tmp, L"t" + std::to_wstring(i) + L".mca", members, 7, 1));
    std::string results[threadCount];
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            // Started together, so that they also ask for each archive first together.
            for (++ready; ready < threadCount;)
                std::this_thread::yield();
            results[t] = whatOf([&] {
                std::vector<std::unique_ptr<FileDriver>> files;
                for (const std::wstring& archive : archives)
                    files.push_back(std::make_unique<FileDriver>(memberPath(archive, members[t].first), OpenRead));
                std::vector<ByteBuffer> wholes(archiveCount, ByteBuffer(size));
                for (std::uint32_t at = 0; at < size; at += 13)
                    for (int k = 0; k < archiveCount; ++k)
                        files[k]->read(wholes[k].data() + at, std::min(13u, size - at));
                for (const ByteBuffer& whole : wholes)
                    EXPECT_EQ(whole, members[t].second);
            });
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& result : results)
        EXPECT_EQ(result, "nothing thrown");
}

TEST(ArchiveCursorRead, EightThreadsOfRandomReadsSeeNoWrongByte)
{
    constexpr int threadCount = 8;
    constexpr std::uint32_t size = 200000;
    testsupport::TempDir tmp;
    Members members{{L"a", sample(size, 1)}, {L"b", sample(size, 2)}};
    // Small zlib blocks, more of them than the cache holds: threads keep decoding and replacing blocks.
    const std::wstring archive = makeArchive(tmp, L"stress.mca", members, 512, 1);
    std::string results[threadCount];
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            results[t] = whatOf([&] {
                const auto& [name, bytes] = members[static_cast<std::size_t>(t % 2)];
                FileDriver file(memberPath(archive, name), t < 4 ? OpenRead : OpenReadBuffered);
                std::uint32_t seed = 977u * static_cast<std::uint32_t>(t + 1);
                ByteBuffer got(3000);
                for (int i = 0; i < 300; ++i) {
                    seed = seed * 1664525u + 1013904223u;
                    const std::uint32_t at = seed % (size - 3000);
                    file.seek(static_cast<std::int32_t>(at), SeekBegin);
                    ASSERT_EQ(file.read(got.data(), 3000), 3000u);
                    ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + at)) << "thread " << t << " at " << at;
                }
            });
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& result : results)
        EXPECT_EQ(result, "nothing thrown");
}

TEST(ArchiveCursorRead, AnArchiveShortenedWhileOpenFailsItsMissingBlocksAndNothingElse)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = sample(40000, 5);
    for (const std::uint32_t type : {0u, 1u}) {
        const std::wstring archive = makeArchive(tmp, L"shrinks" + std::to_wstring(type) + L".mca", {{L"m", bytes}}, 4096, type);
        FileDriver file(memberPath(archive, L"m"), OpenRead);
        EXPECT_EQ(readAt(file, 0, 100), slice(bytes, 0, 100));
        std::filesystem::resize_file(std::filesystem::path(archive), std::filesystem::file_size(archive) / 2);
        EXPECT_EQ(whatOf([&] { readAt(file, 39000, 100); }), "orvana exception: ArchiveCursor.read: integrity failed 5");
        EXPECT_EQ(readAt(file, 0, 100), slice(bytes, 0, 100)) << "what is still there stays readable";
    }
}

TEST(ArchiveCursorRead, AnArchiveReplacedWhileOpenIsReadOldUntilReleasedAndNeverWithTheOldIndex)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = sample(20000, 7);
    // Stored blocks: nothing in the data itself would show a wrong layout.
    const std::wstring archive = makeArchive(tmp, L"swap.mca", {{L"m", bytes}}, 4096, 0);
    const std::wstring other =
        makeArchive(tmp, L"other.mca", {{L"x", sample(100, 8)}, {L"m", sample(30000, 9)}}, 4096, 0);
    std::error_code refused;
    {
        FileDriver file(memberPath(archive, L"m"), OpenRead);
        EXPECT_EQ(readAt(file, 0, 100), slice(bytes, 0, 100));
        std::filesystem::rename(std::filesystem::path(other), std::filesystem::path(archive), refused);
        if (!refused) {
            EXPECT_EQ(readAt(file, 15000, 5000), slice(bytes, 15000, 5000)) << "the open file is the old one";
        }
    }
    // Windows keeps an open file from being replaced: there it is replaced once no cursor has it open.
    if (refused)
        std::filesystem::rename(std::filesystem::path(other), std::filesystem::path(archive));
    EXPECT_EQ(whatOf([&] { FileDriver again(memberPath(archive, L"m"), OpenRead); }),
              "orvana exception: " + orva::toNative(archive) + " : file changed since its index was loaded");
    EXPECT_TRUE(archiveManager.releaseArchive(archive));
    FileDriver fresh(memberPath(archive, L"m"), OpenRead);
    EXPECT_EQ(readAt(fresh, 0, 30000), sample(30000, 9));
}

TEST(ArchiveCursorRead, AnArchiveDeletedWhileOpenIsReadFromTheOpenFile)
{
    testsupport::TempDir tmp;
    const ByteBuffer bytes = sample(20000, 6);
    const std::wstring archive = makeArchive(tmp, L"goes.mca", {{L"m", bytes}}, 4096, 1);
    FileDriver file(memberPath(archive, L"m"), OpenRead);
    std::error_code refused;
    if (!std::filesystem::remove(std::filesystem::path(archive), refused))
        GTEST_SKIP() << "this system keeps an open file from being deleted";
    EXPECT_EQ(readAt(file, 15000, 5000), slice(bytes, 15000, 5000));
    // A new cursor needs the file itself.
    EXPECT_EQ(whatOf([&] { FileDriver again(memberPath(archive, L"m"), OpenRead); }).rfind("orvana exception: ArchiveManager: archive", 0), 0u);
}

} // namespace
