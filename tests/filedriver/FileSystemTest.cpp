#include "filedriver/FileSystem.h"

#include "orva/WideText.h"
#include "support/TempDir.h"
#include "support/WrittenPath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using filedriver::FilePath;
using testsupport::written;

std::set<std::u8string> entriesOf(const std::filesystem::path& directory)
{
    std::set<std::u8string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        names.insert(std::filesystem::relative(entry.path(), directory).generic_u8string());
    return names;
}

// Moves into a directory for the test's lifetime.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& to) : previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(to);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous); }

private:
    std::filesystem::path previous;
};

TEST(FileSystem, FileAndDirectoryExistsTellFilesFromDirectories)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file.txt", "x");
    std::filesystem::create_directory(tmp.path() / "dir");
    struct Row {
        std::wstring path;
        bool file, directory;
    } const rows[] = {
        {tmp.wide(L"dir"), false, true},      {tmp.wide(L"file.txt"), true, false}, {tmp.wide(L"missing"), false, false},
        {L"", false, false},
        // Either separator reaches the same entry.
        {tmp.wide() + L"/dir", false, true}, {tmp.wide() + L"\\dir", false, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(filedriver::fileExists(row.path), row.file) << orva::toNative(row.path);
        EXPECT_EQ(filedriver::directoryExists(row.path), row.directory) << orva::toNative(row.path);
        EXPECT_EQ(filedriver::pathExists(row.path, false), row.file) << orva::toNative(row.path);
        EXPECT_EQ(filedriver::pathExists(row.path, true), row.directory) << orva::toNative(row.path);
    }
}

TEST(FileSystem, ListDirectoryTellsKindsWithoutFollowingLinks)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"top/file.txt", "x");
    tmp.writeFile(L"top/sub/inner", "y");
    std::filesystem::create_directory(tmp.path() / "top" / std::filesystem::path(u8"\u00e9t\u00e9"));
    std::vector<filedriver::DirectoryEntry> entries = {{L"stale", filedriver::EntryKind::other}};
    ASSERT_TRUE(filedriver::listDirectory(tmp.wide(L"top"), entries));
    std::set<std::pair<std::wstring, filedriver::EntryKind>> found;
    for (const filedriver::DirectoryEntry& entry : entries)
        found.insert({entry.name, entry.kind});
    std::set<std::pair<std::wstring, filedriver::EntryKind>> expected = {
        {L"file.txt", filedriver::EntryKind::regular},
        {L"sub", filedriver::EntryKind::directory},
        {L"\u00e9t\u00e9", filedriver::EntryKind::directory}};
#ifndef _WIN32
    std::filesystem::create_symlink("file.txt", tmp.path() / "top" / "link");
    std::filesystem::create_directory_symlink("sub", tmp.path() / "top" / "dirlink");
    ASSERT_TRUE(filedriver::listDirectory(tmp.wide(L"top"), entries));
    found.clear();
    for (const filedriver::DirectoryEntry& entry : entries)
        found.insert({entry.name, entry.kind});
    expected.insert({L"link", filedriver::EntryKind::other});
    expected.insert({L"dirlink", filedriver::EntryKind::other});
#endif
    EXPECT_EQ(found, expected);
    EXPECT_EQ(entries.size(), expected.size());

    EXPECT_FALSE(filedriver::listDirectory(tmp.wide(L"missing"), entries));
    EXPECT_FALSE(filedriver::listDirectory(tmp.wide(L"top/file.txt"), entries));
    std::filesystem::create_directory(tmp.path() / "empty");
    ASSERT_TRUE(filedriver::listDirectory(tmp.wide(L"empty"), entries));
    EXPECT_TRUE(entries.empty());
}

TEST(FileSystem, SameFileByAnyName)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"a.mca", "x");
    tmp.writeFile(L"b.mca", "x");
    std::filesystem::create_directory(tmp.path() / "dir");
    EXPECT_TRUE(filedriver::sameFile(tmp.wide(L"a.mca"), tmp.wide(L"a.mca")));
    EXPECT_TRUE(filedriver::sameFile(tmp.wide(L"a.mca"), tmp.wide(L"dir") + L"/../a.mca"));
    EXPECT_FALSE(filedriver::sameFile(tmp.wide(L"a.mca"), tmp.wide(L"b.mca"))) << "same bytes, another file";
    EXPECT_FALSE(filedriver::sameFile(tmp.wide(L"a.mca"), tmp.wide(L"missing.mca")));
    EXPECT_FALSE(filedriver::sameFile(tmp.wide(L"missing.mca"), tmp.wide(L"missing.mca")));
#ifndef _WIN32
    std::filesystem::create_hard_link(tmp.path() / "a.mca", tmp.path() / "hard.mca");
    EXPECT_TRUE(filedriver::sameFile(tmp.wide(L"a.mca"), tmp.wide(L"hard.mca")));
#endif
}

TEST(FileSystem, CreateDirectoriesCreatesMissingParents)
{
    testsupport::TempDir tmp;
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide(L"a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "a" / "b" / "c"));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"a", u8"a/b", u8"a/b/c"}));
}

TEST(FileSystem, CreateDirectoriesOnAnExistingDirectoryCreatesNothing)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "dir");
    EXPECT_TRUE(filedriver::createDirectories(FilePath(tmp.wide(L"dir")).withTrailingSeparator()));
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide(L"dir")));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"dir"}));
}

TEST(FileSystem, CreateDirectoriesFailsThroughAFile)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file", "x");
    EXPECT_FALSE(filedriver::createDirectories(tmp.wide(L"file/sub/deeper")));
    EXPECT_FALSE(filedriver::createDirectories(tmp.wide(L"file")));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"file"}));
}

TEST(FileSystem, CreateDirectoriesAcceptsTheRoot)
{
    // "C:\" under Wine, "/" on Linux, in either separator.
    const std::filesystem::path root = std::filesystem::temp_directory_path().root_path();
    EXPECT_TRUE(filedriver::createDirectories(root.wstring()));
    EXPECT_TRUE(filedriver::createDirectories(root.generic_wstring()));
}

TEST(FileSystem, CreateDirectoriesRelativeToTheCurrentDirectory)
{
    testsupport::TempDir tmp;
    WorkingDirectory inside(tmp.path());
    EXPECT_TRUE(filedriver::createDirectories(L"bare"));
    EXPECT_TRUE(filedriver::createDirectories(L"rel/sub/"));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"bare", u8"rel", u8"rel/sub"}));
}

TEST(FileSystem, CreateDirectoriesWithMixedAndDoubledSeparators)
{
    testsupport::TempDir tmp;
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide() + L"/a\\b/c\\"));
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide() + L"/x//y\\\\z//"));
    EXPECT_EQ(entriesOf(tmp.path()),
              (std::set<std::u8string>{u8"a", u8"a/b", u8"a/b/c", u8"x", u8"x/y", u8"x/y/z"}));
    EXPECT_TRUE(filedriver::directoryExists(tmp.wide() + L"\\a/b\\c"));
}

TEST(FileSystem, NonAsciiNamesAreCreatedAndFound)
{
    testsupport::TempDir tmp;
    // Built by hand: the test's own path conversions on Linux follow the C locale.
    const std::wstring path = tmp.wide() + written(L"|Straße|日本");
    EXPECT_TRUE(filedriver::createDirectories(path));
    EXPECT_TRUE(filedriver::directoryExists(path));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"Straße", u8"Straße/日本"}));

    // A name made by someone else is found too.
    std::filesystem::create_directory(tmp.path() / std::filesystem::path(u8"Ωmega"));
    EXPECT_TRUE(filedriver::directoryExists(tmp.wide() + written(L"|Ωmega")));
}

// A small file read whole: what it holds, or false for anything that is not such a file.
TEST(FileSystem, ReadSmallFileGivesAWholeRegularFileWithinTheLimit)
{
    testsupport::TempDir dir;
    const char raw[] = "Name=Value\r\n\0binary\xff";
    const std::string bytes(raw, sizeof raw - 1);
    dir.writeFile(L"s.conf", bytes);
    dir.writeFile(L"empty.conf", "");
    std::string got = "stale";
    ASSERT_TRUE(filedriver::readSmallFile(dir.wide(L"s.conf"), bytes.size(), got));
    EXPECT_EQ(got, bytes);
    ASSERT_TRUE(filedriver::readSmallFile(dir.wide(L"empty.conf"), 0, got));
    EXPECT_EQ(got, "");

    EXPECT_FALSE(filedriver::readSmallFile(dir.wide(L"s.conf"), bytes.size() - 1, got)) << "over the limit";
    EXPECT_FALSE(filedriver::readSmallFile(dir.wide(L"none.conf"), 100, got));
    EXPECT_FALSE(filedriver::readSmallFile(dir.wide(), 100, got)) << "a directory";
}

} // namespace
