#include "filedriver/NewFile.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"
#include "orva/exception.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using filedriver::NewFile;
namespace fs = std::filesystem;

std::vector<std::string> entries(const fs::path& directory)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool writeText(NewFile& file, const std::string& text)
{
    return file.write(text.data(), static_cast<std::uint32_t>(text.size())) == text.size();
}

TEST(NewFile, TakesTheTargetsNameOnlyWhenCommitted)
{
    testsupport::TempDir dir;
    dir.writeFile(L"target", "old");
    {
        NewFile file(dir.wide(L"target"), L".~test-");
        ASSERT_TRUE(writeText(file, "new bytes"));
        EXPECT_EQ(testsupport::readFile(dir.path() / "target"), "old");
        EXPECT_EQ(entries(dir.path()).size(), 2u);
        ASSERT_TRUE(file.commit(true));
    }
    EXPECT_EQ(testsupport::readFile(dir.path() / "target"), "new bytes");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"target"});
}

TEST(NewFile, LeavesNothingWhenNotCommitted)
{
    testsupport::TempDir dir;
    dir.writeFile(L"target", "old");
    {
        NewFile file(dir.wide(L"target"), L".~test-");
        writeText(file, "half");
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"target"});
    EXPECT_EQ(testsupport::readFile(dir.path() / "target"), "old");
}

TEST(NewFile, WithoutReplaceKeepsAnExistingEntry)
{
    testsupport::TempDir dir;
    dir.writeFile(L"target", "old");
    NewFile file(dir.wide(L"target"), L".~test-");
    writeText(file, "new");
    EXPECT_FALSE(file.commit(false));
    EXPECT_EQ(testsupport::readFile(dir.path() / "target"), "old");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"target"});

    NewFile fresh(dir.wide(L"other"), L".~test-");
    writeText(fresh, "made");
    EXPECT_TRUE(fresh.commit(false));
    EXPECT_EQ(testsupport::readFile(dir.path() / "other"), "made");
}

TEST(NewFile, NamesItsFileUniquelyAndNeverAsAnArchive)
{
    testsupport::TempDir dir;
    std::vector<std::unique_ptr<NewFile>> files;
    std::set<std::wstring> names;
    for (int i = 0; i < 50; ++i) {
        files.push_back(std::make_unique<NewFile>(dir.wide(L"x.mca"), L"x.~pack-"));
        const filedriver::FilePath& name = files.back()->temporaryPath();
        names.insert(name);
        EXPECT_FALSE(filedriver::isArchivePath(name)) << orva::toUtf8(name);
        EXPECT_NE(name.substr(name.size() - 4), L".mca");
        EXPECT_EQ(name.fileName(false).substr(0, 8), L"x.~pack-");
    }
    EXPECT_EQ(names.size(), 50u);
    EXPECT_EQ(entries(dir.path()).size(), 50u);
}

TEST(NewFile, AMissingDirectoryThrowsNamingTheTarget)
{
    testsupport::TempDir dir;
    const std::wstring target = dir.wide(L"missing/x.mca");
    try {
        NewFile file(target, L".~test-");
        FAIL() << "created";
    } catch (const orva::exception& error) {
        EXPECT_NE(std::string(error.what()).find("can't create a file beside '"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("x.mca'"), std::string::npos) << error.what();
    }
}

TEST(NewFile, ReceivesAWholeArchive)
{
    testsupport::TempDir dir;
    const std::wstring target = dir.wide(L"w.mca");
    NewFile file(target, L".~test-");
    const std::string bytes(100000, 'q');
    filedriver::ArchiveWriterOptions options;
    options.blockSize = 4096;
    {
        filedriver::ArchiveWriter writer(file, {{L"q.txt", 100000}}, options);
        ASSERT_TRUE(writer.append(bytes.data(), 100000));
        ASSERT_TRUE(writer.finish());
    }
    ASSERT_TRUE(file.commit(true));
    filedriver::FileDriver member(target + L"/q.txt", filedriver::OpenRead);
    std::string back(100000, '\0');
    EXPECT_EQ(member.read(back.data(), 100000), 100000u);
    EXPECT_EQ(back, bytes);
}

TEST(NewFile, ReplacesALinkItselfNeverItsTarget)
{
    testsupport::TempDir dir;
    dir.writeFile(L"outside", "kept");
    // On Windows a symbolic link is a reparse point; making one may need a privilege.
    std::error_code error;
    fs::create_symlink(dir.path() / "outside", dir.path() / "link", error);
    if (!error)
        fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling", error);
    if (error)
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    EXPECT_TRUE(filedriver::entryExists(dir.wide(L"dangling")));
    for (const wchar_t* name : {L"link", L"dangling"}) {
        NewFile without(dir.wide(name), L".~test-");
        writeText(without, "x");
        EXPECT_FALSE(without.commit(false)) << "a link is an entry";
        NewFile with(dir.wide(name), L".~test-");
        writeText(with, "new");
        ASSERT_TRUE(with.commit(true));
        EXPECT_FALSE(fs::is_symlink(dir.path() / name));
        EXPECT_EQ(testsupport::readFile(dir.path() / name), "new");
    }
    EXPECT_EQ(testsupport::readFile(dir.path() / "outside"), "kept");
    EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
}

#ifndef _WIN32
TEST(FileEntries, ExistenceWithoutFollowingAndKinds)
{
    testsupport::TempDir dir;
    dir.writeFile(L"file", "x");
    fs::create_directory(dir.path() / "directory");
    fs::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    ASSERT_EQ(mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    EXPECT_TRUE(filedriver::entryExists(dir.wide(L"dangling")));
    EXPECT_FALSE(filedriver::entryExists(dir.wide(L"nowhere")));
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"dangling")), filedriver::FileKind::missing);
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"file")), filedriver::FileKind::regular);
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"directory")), filedriver::FileKind::directory);
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"fifo")), filedriver::FileKind::stream);
    EXPECT_EQ(filedriver::fileKind(L"/dev/null"), filedriver::FileKind::stream);
}
#else
TEST(FileEntries, ExistenceAndKinds)
{
    testsupport::TempDir dir;
    dir.writeFile(L"file", "x");
    fs::create_directory(dir.path() / "directory");
    EXPECT_TRUE(filedriver::entryExists(dir.wide(L"directory")));
    EXPECT_FALSE(filedriver::entryExists(dir.wide(L"nowhere")));
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"nowhere")), filedriver::FileKind::missing);
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"file")), filedriver::FileKind::regular);
    EXPECT_EQ(filedriver::fileKind(dir.wide(L"directory")), filedriver::FileKind::directory);
    EXPECT_EQ(filedriver::fileKind(L"NUL"), filedriver::FileKind::stream);
}
#endif

} // namespace
