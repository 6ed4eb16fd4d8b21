// Plain files on a real full disk: a small tmpfs mounted for the test (which needs root).
#include "filedriver/FilePlatform.h"

#include "filedriver/SystemError.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <vector>

namespace {

class SmallDisk {
public:
    explicit SmallDisk(const std::filesystem::path& at) : at(at)
    {
        std::filesystem::create_directory(at);
        mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") == 0;
        why = mounted ? "" : std::strerror(errno);
    }
    ~SmallDisk()
    {
        if (mounted)
            umount(at.c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted;
    std::string why;

private:
    std::filesystem::path at;
};

// A write larger than the room left takes what fits and says nothing; asked again, the system
// refuses with ENOSPC. The count falls short and the reason is that refusal, not a stale errno.
TEST(FilePlatformFullDisk, AShortWriteEndsAtTheRefusalAndKeepsItsReason)
{
    testsupport::TempDir tmp;
    SmallDisk disk(tmp.path() / "small");
    if (!disk.mounted)
        GTEST_SKIP() << "a 1 MiB tmpfs cannot be mounted here: " << disk.why;
    filedriver::FilePlatform file(orva::fromNative((tmp.path() / "small" / "f").string()), filedriver::CreateWrite);
    const std::vector<char> bytes(3u << 20, 'x');
    errno = ENOTTY; // what an unrelated call may have left
    const std::uint32_t written = file.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, bytes.size());
    EXPECT_EQ(filedriver::lastSystemError(), std::strerror(ENOSPC));
    EXPECT_EQ(file.size(), static_cast<std::int32_t>(written));
}

} // namespace
