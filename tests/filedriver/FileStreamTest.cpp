#include "filedriver/FileStream.h"

#include "filedriver/FilePlatform.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <optional>
#include <string>
#include <vector>

namespace {

using filedriver::SeekBegin;
using filedriver::SeekCurrent;
using filedriver::SeekEnd;

// What the stream hands the real file underneath.
struct Probe {
    std::vector<std::int32_t> seeks; // every refill and flush starts with one
    std::vector<std::uint32_t> writes;
    int writesLeft = -1; // writes that succeed before the file refuses them; -1 for all
} probe;

class ProbedFile : public filedriver::FilePlatform {
public:
    using FilePlatform::FilePlatform;
    std::int32_t seek(std::int32_t offset, std::int32_t origin) override
    {
        probe.seeks.push_back(offset);
        return FilePlatform::seek(offset, origin);
    }
    std::uint32_t write(const void* buffer, std::uint32_t length) override
    {
        if (probe.writesLeft == 0)
            return 0;
        probe.writesLeft -= probe.writesLeft > 0;
        probe.writes.push_back(length);
        return FilePlatform::write(buffer, length);
    }
};

std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 131 + i / 251);
    return bytes;
}

class FileStreamTest : public testing::Test {
protected:
    void SetUp() override { probe = Probe{}; }

    // A reading stream over `size` pattern bytes; the probe starts after its first window.
    FileStream<ProbedFile>& reader(std::size_t size)
    {
        stream.reset();
        tmp.writeFile(L"f", pattern(size));
        stream.emplace(tmp.wide(L"f"), filedriver::OpenReadBuffered);
        probe = Probe{};
        return *stream;
    }
    FileStream<ProbedFile>& writer() { return stream.emplace(tmp.wide(L"f"), filedriver::CreateWriteBuffered); }
    std::string read(std::uint32_t count)
    {
        std::string bytes(count, '\0');
        bytes.resize(stream->read(bytes.data(), count));
        return bytes;
    }
    std::string fetch4() { return std::string(reinterpret_cast<const char*>(stream->fetch(4)), 4); }
    // Closes the stream and gives the file.
    std::string file()
    {
        stream.reset();
        return testsupport::readFile(tmp.path() / "f");
    }

    testsupport::TempDir tmp;
    std::optional<FileStream<ProbedFile>> stream;
    const std::string data = pattern(10000);
    const std::string zeros = std::string(4, '\0');
};

TEST_F(FileStreamTest, WindowMovesOnlyWhenARequestReachesItsEnd)
{
    auto& s = reader(10000);
    EXPECT_EQ(read(5000), data.substr(0, 5000));
    probe = Probe{};
    EXPECT_EQ(read(3000), data.substr(5000, 3000));
    EXPECT_TRUE(probe.seeks.empty());
    EXPECT_EQ(read(200), data.substr(8000, 200));
    EXPECT_EQ(probe.seeks, std::vector<std::int32_t>{8000});

    EXPECT_EQ(s.seek(100, SeekBegin), 100);
    probe = Probe{};
    EXPECT_EQ(s.seek(10, SeekCurrent), 110);
    EXPECT_EQ(read(4), data.substr(110, 4));
    EXPECT_TRUE(probe.seeks.empty());

    // Exactly reaching the end reloads first.
    reader(10000);
    EXPECT_EQ(read(4000), data.substr(0, 4000));
    EXPECT_EQ(read(96), data.substr(4000, 96));
    EXPECT_EQ(probe.seeks, std::vector<std::int32_t>{4000});
}

TEST_F(FileStreamTest, EndsOriginsAndHugeLengths)
{
    auto& empty = reader(0);
    EXPECT_EQ(empty.size(), 0);
    EXPECT_EQ(read(4), "");
    EXPECT_EQ(empty.tell(), 0);

    auto& s = reader(10000);
    std::string all(10000, '\0');
    EXPECT_EQ(s.read(all.data(), 0xFFFFFFFF), 10000u);
    EXPECT_EQ(all, data);
    EXPECT_EQ(s.seek(-10, SeekEnd), 9990);
    EXPECT_EQ(s.read(all.data(), 0xFFFFFFFF), 10u);
    EXPECT_EQ(all.substr(0, 10), data.substr(9990));
    EXPECT_EQ(s.seek(0, SeekEnd), 10000);
    EXPECT_EQ(read(1), "");
    EXPECT_EQ(s.seek(20000, SeekBegin), 20000);
    EXPECT_EQ(read(1), "");
    for (std::int32_t origin : {-1, 3}) {
        EXPECT_EQ(s.seek(0, origin), -1) << origin;
        EXPECT_EQ(s.tell(), 20000) << origin;
    }
}

TEST_F(FileStreamTest, FetchGivesZerosPastTheEnd)
{
    // Reached in the window's middle, at its end, just before it, and in a window holding the whole file.
    const std::pair<std::size_t, std::uint32_t> cases[] = {{10000, 9998}, {4098, 4096}, {4098, 4094}, {2, 0}};
    for (const auto& [size, at] : cases) {
        SCOPED_TRACE(size);
        reader(size);
        const std::string all = pattern(size);
        EXPECT_EQ(read(at), all.substr(0, at));
        EXPECT_EQ(fetch4(), all.substr(at) + std::string(at + 4 - size, '\0'));
    }
}

TEST_F(FileStreamTest, FailedRefillDeliversNoStaleBytes)
{
    auto& s = reader(10000);
    EXPECT_EQ(read(16), data.substr(0, 16));
    s.seek(-100, SeekBegin);
    EXPECT_EQ(read(8), "");
    EXPECT_EQ(fetch4(), zeros);
    EXPECT_EQ(s.seek(20000, SeekBegin), 20000);
    EXPECT_EQ(fetch4(), zeros);

    // Cut short behind the stream's back: the size it took no longer holds, and no zeros stand in.
    {
        filedriver::FilePlatform cut(tmp.wide(L"f"), filedriver::CreateWrite);
        EXPECT_EQ(cut.write(data.data(), 6000), 6000u);
    }
    EXPECT_EQ(s.seek(5000, SeekBegin), 5000);
    EXPECT_EQ(read(2000).size(), 0u);
    EXPECT_EQ(read(5000).size(), 0u);
}

TEST_F(FileStreamTest, FailedReadLeavesThePositionAtItsStart)
{
    // Cut short under the stream after 10 bytes were read: to 20 bytes the whole windows fail, to 4200
    // the tail after them.
    for (const std::uint32_t cutTo : {20u, 4200u}) {
        SCOPED_TRACE(cutTo);
        auto& s = reader(10000);
        EXPECT_EQ(read(10), data.substr(0, 10));
        {
            filedriver::FilePlatform cut(tmp.wide(L"f"), filedriver::CreateWrite);
            EXPECT_EQ(cut.write(data.data(), cutTo), cutTo);
        }
        for (const std::uint32_t count : {5000u, 8192u, 4200u}) {
            EXPECT_EQ(read(count), "") << count;
            EXPECT_EQ(s.tell(), 10) << count;
        }
        // Whole again: reading goes on where it stopped.
        {
            filedriver::FilePlatform whole(tmp.wide(L"f"), filedriver::CreateWrite);
            EXPECT_EQ(whole.write(data.data(), 10000), 10000u);
        }
        EXPECT_EQ(read(5000), data.substr(10, 5000));
        EXPECT_EQ(s.tell(), 5010);
    }
}

TEST_F(FileStreamTest, WritesGoThroughInWholeWindows)
{
    auto& s = writer();
    EXPECT_EQ(s.write(data.data(), 10000), 10000u);
    EXPECT_EQ(probe.writes, (std::vector<std::uint32_t>{4096, 4096}));
    EXPECT_EQ(s.size(), 10000);
    EXPECT_EQ(s.seek(0, SeekBegin), 0);
    EXPECT_EQ(s.write("WXYZ", 4), 4u);
    // A position the file would refuse only at the flush.
    EXPECT_EQ(s.seek(-8, SeekCurrent), -1);
    EXPECT_EQ(s.write("!", 1), 1u);
    EXPECT_EQ(s.size(), 10000);
    EXPECT_EQ(file(), "WXYZ!" + data.substr(5));
}

TEST_F(FileStreamTest, EachDirectionRefusesTheOther)
{
    auto& w = writer();
    w.put("abc", 3);
    char buffer[4];
    EXPECT_EQ(w.read(buffer, 3), 0u);
    EXPECT_EQ(fetch4(), zeros);
    EXPECT_EQ(file(), "abc");

    auto& r = reader(10);
    EXPECT_EQ(r.write("xy", 2), 0u);
    r.put("xy", 2);
    EXPECT_EQ(r.size(), 10);
    EXPECT_EQ(file(), pattern(10));
}

TEST_F(FileStreamTest, FailedFlushKeepsEveryTakenByteAndTakesNoMore)
{
    auto& s = writer();
    probe.writesLeft = 0;
    const std::string a(4000, 'a'), b(96, 'b');
    EXPECT_EQ(s.write(a.data(), 4000), 4000u);
    // Exactly full still fits.
    EXPECT_EQ(s.write(b.data(), 96), 96u);
    EXPECT_EQ(s.write("c", 1), 0u);
    s.put("d", 1);
    EXPECT_EQ(s.write(data.data(), 5000), 0u);
    s.put(data.data(), 5000);
    EXPECT_EQ(s.seek(0, SeekBegin), -1);
    EXPECT_EQ(s.tell(), 4096);
    EXPECT_EQ(s.size(), 4096);

    probe.writesLeft = -1;
    EXPECT_EQ(s.seek(0, SeekBegin), 0);
    EXPECT_EQ(file(), a + b);
}

TEST_F(FileStreamTest, LongWriteCutShortReportsWhatTheFileTook)
{
    auto& s = writer();
    probe.writesLeft = 1;
    // The second piece could not follow the first into the file: it is neither counted nor kept.
    EXPECT_EQ(s.write(data.data(), 10000), 4096u);
    EXPECT_EQ(s.tell(), 4096);
    probe.writesLeft = -1;
    EXPECT_EQ(file(), data.substr(0, 4096));
}

TEST(FileStreamOnAFullDisk, NothingIsReportedWrittenThatWasNot)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const std::string bytes(10000, 'x');
    {
        FileStream<filedriver::FilePlatform> full(L"/dev/full", filedriver::CreateWriteBuffered);
        EXPECT_EQ(full.write(bytes.data(), 10000), 0u);
        EXPECT_EQ(full.write(bytes.data(), 100), 100u);
        // Handing the pending bytes on fails, and says so.
        EXPECT_EQ(full.seek(0, SeekBegin), -1);
        EXPECT_EQ(full.tell(), 100);
    } // and its destruction, with bytes still pending, is quiet
}

} // namespace
