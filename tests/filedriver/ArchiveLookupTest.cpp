#include "filedriver/ArchiveLookup.h"

#include "ArchiveTestHelpers.h"

#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using namespace archivetest;
using namespace filedriver;

TEST(ArchiveLookup, OutsideArchivesItAnswersAsTheFileSystemDoes)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file.txt", "x");
    std::filesystem::create_directory(tmp.path() / "dir");

    for (const wchar_t* name : {L"file.txt", L"dir", L"missing"}) {
        EXPECT_EQ(fileExistsAware(tmp.wide(name)), fileExists(tmp.wide(name))) << orva::toNative(name);
        EXPECT_EQ(directoryExistsAware(tmp.wide(name)), directoryExists(tmp.wide(name))) << orva::toNative(name);
    }
    EXPECT_TRUE(existsAware(tmp.wide(L"file.txt"), false));
    EXPECT_TRUE(existsAware(tmp.wide(L"dir"), true));
}

TEST(ArchiveLookup, ThroughArchivesTheArchiveIsAskedForTheMember)
{
    testsupport::TempDir tmp;
    writeSmallArchive(tmp.wide(L"x.mca"));
    tmp.writeFile(L"junk.mca", "garbage, never read");
    tmp.writeFile(L"dir.mca/roads.dat", "a real file inside a directory");
    struct Row {
        const wchar_t* path;
        bool directory, exists;
    } const rows[] = {
        {L"x.mca\\sub\\", true, true},     {L"junk.mca\\sub\\", true, true},      {L"x.mca/", true, true},
        {L"dir.mca\\sub\\", true, false},  {L"dir.mca\\roads.dat", false, false}, {L"x.mca\\roads.dat", false, true},
        {L"x.mca\\roads.dat", true, true}, {L"x.mca\\any\\dir\\roads.dat", false, true},
        {L"x.mca\\Names.txt", false, true}, {L"x.mca\\ROADS.DAT", false, false}, {L"x.mca\\names.txt", false, false},
        {L"x.mca\\sub\\", false, false},   {L"x.mca\\roads", false, false},       {L"missing.mca\\sub\\", true, false},
    };
    const std::string log = logOf([&] {
        for (const Row& row : rows) {
            const std::wstring path = tmp.wide() + Separators[0] + row.path;
            EXPECT_EQ(row.directory ? directoryExistsAware(path) : fileExistsAware(path), row.exists)
                << orva::toNative(row.path) << " directory " << row.directory;
            EXPECT_EQ(existsAware(path, row.directory), row.exists) << orva::toNative(row.path);
        }
    });
    EXPECT_EQ(log, ""); // neither the garbage archive nor the directory was opened
}

} // namespace
