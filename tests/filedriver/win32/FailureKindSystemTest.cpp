// System failures as Windows reports them: their kind and GetLastError's number. A file that another
// handle holds without sharing stands in for a file the user may not read, which Wine cannot refuse to a
// process of root's.
#include "filedriver/ArchiveInfo.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "support/Caught.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <windows.h>

namespace {

using namespace filedriver;

TEST(FailureKindsWin32, ADirectoryOpenedAsAFileIsAccessDenied)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "dir");
    const testsupport::Caught failure = testsupport::caught([&] { FileDriver file(tmp.wide(L"dir"), OpenRead); });
    EXPECT_EQ(failure.kind, orva::ErrorKind::System);
    EXPECT_EQ(failure.systemError, ERROR_ACCESS_DENIED);
}

TEST(FailureKindsWin32, AnArchiveHeldWithoutSharingIsASharingViolationForItsMembersAndItsInfo)
{
    testsupport::TempDir tmp;
    const std::wstring archive = tmp.wide(L"held.mca");
    ASSERT_TRUE(writeArchive(archive, {{L"roads.dat", ByteBuffer(100, 'r')}}, {}));
    const HANDLE held = CreateFileW(archive.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (const auto& open : {std::function<void()>([&] { FileDriver file(archive + L"\\roads.dat", OpenReadBuffered); }),
                             std::function<void()>([&] { ArchiveInfo info(archive); })}) {
        const testsupport::Caught failure = testsupport::caught(open);
        EXPECT_EQ(failure.kind, orva::ErrorKind::System) << failure.what;
        EXPECT_EQ(failure.systemError, ERROR_SHARING_VIOLATION);
        EXPECT_NE(failure.what.find("can't open file"), std::string::npos) << failure.what;
    }
    CloseHandle(held);
    EXPECT_EQ(ArchiveInfo(archive).memberCount(), 1u);
}

} // namespace
