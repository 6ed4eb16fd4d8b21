// System failures as Linux reports them: their kind and errno.
#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "support/Caught.h"
#include "support/TempDir.h"
#include "support/posix/Unprivileged.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using namespace filedriver;

TEST(FailureKindsPosix, ADirectoryOpenedAsAFileIsEISDIR)
{
    testsupport::TempDir tmp;
    fs::create_directory(tmp.path() / "dir");
    const testsupport::Caught failure = testsupport::caught([&] { FileDriver file(tmp.wide(L"dir"), OpenRead); });
    EXPECT_EQ(failure.kind, orva::ErrorKind::System);
    EXPECT_EQ(failure.systemError, EISDIR);
}

// Answers of the child.
enum : int { permissionDenied = 0, opened = 1, otherFailure = 2, readable = 3 };

TEST(FailureKindsPosix, AnArchiveTheUserMayNotReadIsEACCESForItsMembersAndItsInfo)
{
    testsupport::TempDir tmp;
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                    | fs::perms::others_read | fs::perms::others_exec);
    const std::wstring archive = tmp.wide(L"secret.mca");
    ASSERT_TRUE(writeArchive(archive, {{L"roads.dat", ByteBuffer(100, 'r')}}, {}));
    fs::permissions(tmp.path() / "secret.mca", fs::perms::owner_write);
    const auto denied = [](const std::function<void()>& open) {
        const testsupport::Caught failure = testsupport::caught(open);
        if (!failure.thrown)
            return int(opened);
        return failure.kind == orva::ErrorKind::System && failure.systemError == EACCES
                       && failure.what.find("can't open file") != std::string::npos
                   ? int(permissionDenied)
                   : int(otherFailure);
    };
    const int answer = testsupport::runUnprivileged([&] {
        if (access((tmp.path() / "secret.mca").c_str(), R_OK) == 0)
            return int(readable);
        const int member = denied([&] { FileDriver file(archive + L"/roads.dat", OpenReadBuffered); });
        return member != permissionDenied ? member : denied([&] { ArchiveInfo info(archive); });
    });
    if (answer == testsupport::couldNotDropRights)
        GTEST_SKIP() << "this system lets no test process give up root's rights";
    EXPECT_EQ(answer, permissionDenied);
}

} // namespace
