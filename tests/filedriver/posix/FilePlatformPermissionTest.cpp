// Plain files where the system's permissions refuse: checked as an unprivileged user.
#include "filedriver/FilePlatform.h"

#include "orva/Log.h"
#include "support/TempDir.h"
#include "support/posix/Unprivileged.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Answers of the child.
enum : int { failedAsExpected = 0, opened = 1, otherMessage = 2, noLog = 3, directoryWritable = 4 };

TEST(FilePlatformPermissions, AnUnwritableTemporaryDirectoryFailsTheTemporaryModeWithItsMessage)
{
    testsupport::TempDir tmp;
    // Whatever the umask: the child must reach the directory and the log.
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                    | fs::perms::others_read | fs::perms::others_exec);
    const fs::path readOnly = tmp.path() / "read-only";
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read
                                  | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const fs::path logFile = tmp.path() / "log";
    std::ofstream(logFile).close();
    fs::permissions(logFile, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));

    const int answer = testsupport::runUnprivileged([&] {
        if (access(readOnly.c_str(), W_OK) == 0)
            return int(directoryWritable);
        setenv("TMPDIR", readOnly.c_str(), 1);
        orva::errorLog.file = std::fopen(logFile.c_str(), "wb");
        if (!orva::errorLog.file)
            return int(noLog);
        try {
            filedriver::FilePlatform file(L"", filedriver::Temporary);
            return int(opened);
        } catch (const orva::exception& ex) {
            std::fflush(orva::errorLog.file);
            return std::string(ex.what()) == "orvana exception: can't create temporary file" ? int(failedAsExpected)
                                                                                              : int(otherMessage);
        }
    });
    if (answer == testsupport::couldNotDropRights)
        GTEST_SKIP() << "this system lets no test process give up root's rights";
    EXPECT_EQ(answer, failedAsExpected);
    const std::string log = testsupport::readFile(logFile);
    EXPECT_TRUE(log.starts_with("ERR ") && log.ends_with("Exception thrown: .\\src\\filedriver\\posix\\FilePlatform.cpp(56)\n"))
        << log;
    EXPECT_TRUE(fs::is_empty(readOnly));
}

} // namespace
