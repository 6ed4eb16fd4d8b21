#include "filedriver/FilePath.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <utility>
#include <vector>

namespace {

using filedriver::FilePath;

// Expected paths write '|' for the separator that the platform writes, so one table serves both.
std::wstring written(const wchar_t* text)
{
    std::wstring result(text);
    for (wchar_t& c : result)
        if (c == L'|')
            c = filedriver::Separators[0];
    return result;
}

struct Case {
    const wchar_t* input;
    const wchar_t* expected;
};

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

TEST(FilePathText, WithTrailingSeparator)
{
    const Case adding[] = {
        {L"C:\\dir  ", L"C:\\dir|"},
        {L"C:/dir/", L"C:/dir/"},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"", L"|"},
        {L"   ", L"|"},
    };
    for (const Case& c : adding)
        EXPECT_EQ(FilePath(c.input).withTrailingSeparator(true), written(c.expected)) << c.input;

    const Case removing[] = {
        {L"C:\\dir\\\\", L"C:\\dir\\"},
        {L"C:/dir/  ", L"C:/dir"},
        {L"C:\\dir", L"C:\\dir"},
        {L"", L""},
    };
    for (const Case& c : removing)
        EXPECT_EQ(FilePath(c.input).withTrailingSeparator(false), written(c.expected)) << c.input;
}

TEST(FilePathText, DirectoryPart)
{
    const Case cases[] = {
        {L"file.txt", L".|"},
        {L"", L".|"},
        {L"C:\\a\\b", L"C:\\a\\"},
        {L"C:\\a\\b\\", L"C:\\a\\b\\"},
        {L"C:/a\\b/c", L"C:/a\\b/"},
        {L"/", L"/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FilePath(c.input).directoryPart(), written(c.expected)) << c.input;
}

TEST(FilePathText, FileName)
{
    const Case withoutExtension[] = {
        {L"C:\\a\\b.tar.gz", L"b.tar"},
        {L"C:\\a.d\\b", L"b"},
        {L"C:/a.d/b", L"b"},
        {L"C:\\a\\.profile", L""},
        {L"b.txt", L"b"},
    };
    for (const Case& c : withoutExtension)
        EXPECT_EQ(FilePath(c.input).fileName(true), c.expected) << c.input;

    const Case withExtension[] = {
        {L"C:\\a\\", L""},
        {L"C:\\a/b.tar.gz", L"b.tar.gz"},
        {L"plain", L"plain"},
    };
    for (const Case& c : withExtension)
        EXPECT_EQ(FilePath(c.input).fileName(false), c.expected) << c.input;
}

TEST(FilePathText, NormalisedWritesOneSeparatorAndKeepsDoubledOnes)
{
    EXPECT_EQ(FilePath(L"C:/a//b").normalised(), written(L"C:|a||b"));
    EXPECT_EQ(FilePath(L"C:\\a\\/b").normalised(), written(L"C:|a||b"));
    EXPECT_EQ(FilePath(L"").normalised(), L"");
}

TEST(FilePathText, TrimmedRightAndExactEquality)
{
    EXPECT_EQ(FilePath(L"name \t \t").trimmedRight(L" \t"), L"name");
    EXPECT_EQ(FilePath(L"  ").trimmedRight(L" "), L"");
    EXPECT_EQ(FilePath(L" a ").trimmedRight(L""), L" a ");

    EXPECT_TRUE(FilePath(L"C:\\A") == FilePath(L"C:\\A"));
    EXPECT_FALSE(FilePath(L"C:\\A") == FilePath(L"C:\\a"));
    EXPECT_FALSE(FilePath(L"C:\\a") == FilePath(L"C:/a"));
    EXPECT_FALSE(FilePath(L"C:\\a") == FilePath(L"C:\\a\\"));
}

TEST(FilePathArchive, IsArchivePathAndArchivePart)
{
    struct ArchiveCase {
        const wchar_t* path;
        bool isArchive;
        const wchar_t* archive;
    };
    const ArchiveCase cases[] = {
        // The rows every reader of the library relies on.
        {L"D:\\m.mca", false, L"D:\\m.mca"},
        {L"D:\\m.mca\\x", true, L"D:\\m.mca"},
        {L"D:\\m.MCA\\x", true, L"D:\\m.MCA"},
        {L"D:\\m.mca\\", true, L"D:\\m.mca"},
        {L"D:\\m.Mca\\x", false, L""},
        // The lower-case spelling is looked for first, and here it ends the path.
        {L"D:\\a.MCA\\b.mca", false, L"D:\\a.MCA\\b.mca"},
        {L"D:\\m.mca\\x\\y", true, L"D:\\m.mca"},
        {L"D:/m.mca/x", true, L"D:/m.mca"},
        {L"D:\\plain\\x", false, L""},
        {L"", false, L""},
        // The extension counts only where it ends a component.
        {L"/srv/x.mca.d/roads.dat", false, L""},
        {L"D:\\x.mca.d\\", false, L""},
        {L"x.mcab", false, L""},
        {L"maps.mca.old/europe.mca/roads.dat", true, L"maps.mca.old/europe.mca"},
        {L"D:\\x.mca.d\\europe.mca", false, L"D:\\x.mca.d\\europe.mca"},
        {L"D:\\m.mca.mca\\x", true, L"D:\\m.mca.mca"},
        {L"D:\\x.MCA.d\\y.MCA\\z", true, L"D:\\x.MCA.d\\y.MCA"},
        {L".mca/x", true, L".mca"},
        // Of two archives on the way, the first is the one used.
        {L"a.mca/b.mca/c", true, L"a.mca"},
        // ".MCA" is not looked for where ".mca" occurs, even inside a name.
        {L"D:\\x.mca.d\\y.MCA\\z", false, L""},
    };
    for (const ArchiveCase& c : cases) {
        EXPECT_EQ(filedriver::isArchivePath(c.path), c.isArchive) << c.path;
        EXPECT_EQ(filedriver::archivePart(c.path), c.archive) << c.path;
    }
}

TEST(FilePathDisk, PathExistsTellsFilesFromDirectories)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file.txt", "x");
    std::filesystem::create_directory(tmp.path() / "dir");

    EXPECT_TRUE(filedriver::pathExists(tmp.wide(L"dir"), true));
    EXPECT_FALSE(filedriver::pathExists(tmp.wide(L"dir"), false));
    EXPECT_TRUE(filedriver::pathExists(tmp.wide(L"file.txt"), false));
    EXPECT_FALSE(filedriver::pathExists(tmp.wide(L"file.txt"), true));
    EXPECT_FALSE(filedriver::pathExists(tmp.wide(L"missing"), false));
    EXPECT_FALSE(filedriver::pathExists(tmp.wide(L"missing"), true));
    EXPECT_FALSE(filedriver::pathExists(L"", false));
    EXPECT_FALSE(filedriver::pathExists(L"", true));
    // Either separator reaches the same entry.
    EXPECT_TRUE(filedriver::pathExists(tmp.wide() + L"/dir", true));
    EXPECT_TRUE(filedriver::pathExists(tmp.wide() + L"\\dir", true));
}

TEST(FilePathDisk, ExistsAwareAnswersLikePathExistsOutsideArchives)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file.txt", "x");
    std::filesystem::create_directory(tmp.path() / "dir");

    EXPECT_TRUE(filedriver::existsAware(tmp.wide(L"file.txt"), false));
    EXPECT_FALSE(filedriver::existsAware(tmp.wide(L"file.txt"), true));
    EXPECT_TRUE(filedriver::existsAware(tmp.wide(L"dir"), true));
    EXPECT_FALSE(filedriver::existsAware(tmp.wide(L"dir"), false));
    EXPECT_FALSE(filedriver::existsAware(tmp.wide(L"missing"), false));
}

TEST(FilePathDisk, ListDirectoryTellsKindsWithoutFollowingLinks)
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

TEST(FilePathDisk, SameFileByAnyName)
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

TEST(FilePathDisk, CreateDirectoriesCreatesMissingParents)
{
    testsupport::TempDir tmp;
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide(L"a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "a" / "b" / "c"));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"a", u8"a/b", u8"a/b/c"}));
}

TEST(FilePathDisk, CreateDirectoriesOnAnExistingDirectoryCreatesNothing)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "dir");
    EXPECT_TRUE(filedriver::createDirectories(FilePath(tmp.wide(L"dir")).withTrailingSeparator(true)));
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide(L"dir")));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"dir"}));
}

TEST(FilePathDisk, CreateDirectoriesFailsThroughAFile)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"file", "x");
    EXPECT_FALSE(filedriver::createDirectories(tmp.wide(L"file/sub/deeper")));
    EXPECT_FALSE(filedriver::createDirectories(tmp.wide(L"file")));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"file"}));
}

TEST(FilePathDisk, CreateDirectoriesAcceptsTheRoot)
{
    // "C:\" under Wine, "/" on Linux, in either separator.
    const std::filesystem::path root = std::filesystem::temp_directory_path().root_path();
    EXPECT_TRUE(filedriver::createDirectories(root.wstring()));
    EXPECT_TRUE(filedriver::createDirectories(root.generic_wstring()));
}

TEST(FilePathDisk, CreateDirectoriesRelativeToTheCurrentDirectory)
{
    testsupport::TempDir tmp;
    WorkingDirectory inside(tmp.path());
    EXPECT_TRUE(filedriver::createDirectories(L"bare"));
    EXPECT_TRUE(filedriver::createDirectories(L"rel/sub/"));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"bare", u8"rel", u8"rel/sub"}));
}

TEST(FilePathDisk, CreateDirectoriesWithMixedAndDoubledSeparators)
{
    testsupport::TempDir tmp;
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide() + L"/a\\b/c\\"));
    EXPECT_TRUE(filedriver::createDirectories(tmp.wide() + L"/x//y\\\\z//"));
    EXPECT_EQ(entriesOf(tmp.path()),
              (std::set<std::u8string>{u8"a", u8"a/b", u8"a/b/c", u8"x", u8"x/y", u8"x/y/z"}));
    EXPECT_TRUE(filedriver::pathExists(tmp.wide() + L"\\a/b\\c", true));
}

TEST(FilePathDisk, NonAsciiNamesAreCreatedAndFound)
{
    testsupport::TempDir tmp;
    // Built by hand: the test's own path conversions on Linux follow the C locale.
    const std::wstring path = tmp.wide() + written(L"|Straße|日本");
    EXPECT_TRUE(filedriver::createDirectories(path));
    EXPECT_TRUE(filedriver::pathExists(path, true));
    EXPECT_EQ(entriesOf(tmp.path()), (std::set<std::u8string>{u8"Straße", u8"Straße/日本"}));

    // A name made by someone else is found too.
    std::filesystem::create_directory(tmp.path() / std::filesystem::path(u8"Ωmega"));
    EXPECT_TRUE(filedriver::pathExists(tmp.wide() + written(L"|Ωmega"), true));
}

// A small file read whole: what it holds, or false for anything that is not such a file.
TEST(FilePathDisk, ReadSmallFileGivesAWholeRegularFileWithinTheLimit)
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
