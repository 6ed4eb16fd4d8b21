// A real write failure halfway through an archive: the file size limit of the process (RLIMIT_FSIZE)
// makes the system refuse the bytes beyond it.
#include "filedriver/ArchiveWriter.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <random>

namespace {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        applied = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previousHandler);
    }
    bool applied = false;

private:
    rlimit saved{};
    void (*previousHandler)(int) = SIG_DFL;
};

TEST(ArchiveWriterThreads, AWriteRefusedHalfwayRemovesTheFile)
{
    filedriver::ByteBuffer noise(1u << 20);
    std::mt19937 random(3);
    for (std::uint8_t& b : noise)
        b = static_cast<std::uint8_t>(random());
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        testsupport::TempDir tmp;
        filedriver::ArchiveWriterOptions options;
        options.blockSize = 4096;
        options.threads = threads;
        bool appended = true;
        {
            FileSizeLimit limit(256 << 10);
            if (!limit.applied)
                GTEST_SKIP() << "the file size limit cannot be set here";
            filedriver::ArchiveWriter writer(tmp.wide(L"full.mca"), {{L"noise", static_cast<std::uint32_t>(noise.size())}},
                                             options);
            for (std::size_t at = 0; appended && at < noise.size(); at += 65536)
                appended = writer.append(noise.data() + at, 65536);
            EXPECT_FALSE(appended && writer.finish());
            EXPECT_FALSE(std::filesystem::exists(tmp.path() / "full.mca"));
        }
        EXPECT_FALSE(appended);
        EXPECT_FALSE(std::filesystem::exists(tmp.path() / "full.mca"));
    }
}

} // namespace
