#include "filedriver/FilePath.h"

#include "support/WrittenPath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using filedriver::FilePath;
using testsupport::written;

struct Case {
    const wchar_t* input;
    const wchar_t* expected;
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
    for (const Case& c : adding) {
        EXPECT_EQ(FilePath(c.input).withTrailingSeparator(), written(c.expected)) << c.input;
        EXPECT_EQ(FilePath(c.input).withTrailingSeparator(true), written(c.expected)) << c.input;
    }

    const Case removing[] = {
        {L"C:\\dir\\\\", L"C:\\dir\\"},
        {L"C:/dir/  ", L"C:/dir"},
        {L"C:\\dir", L"C:\\dir"},
        {L"", L""},
    };
    for (const Case& c : removing) {
        EXPECT_EQ(FilePath(c.input).withoutTrailingSeparator(), written(c.expected)) << c.input;
        EXPECT_EQ(FilePath(c.input).withTrailingSeparator(false), written(c.expected)) << c.input;
    }
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
    for (const Case& c : withoutExtension) {
        EXPECT_EQ(FilePath(c.input).fileNameWithoutExtension(), c.expected) << c.input;
        EXPECT_EQ(FilePath(c.input).fileName(true), c.expected) << c.input;
    }

    const Case withExtension[] = {
        {L"C:\\a\\", L""},
        {L"C:\\a/b.tar.gz", L"b.tar.gz"},
        {L"plain", L"plain"},
    };
    for (const Case& c : withExtension) {
        EXPECT_EQ(FilePath(c.input).fileName(), c.expected) << c.input;
        EXPECT_EQ(FilePath(c.input).fileName(false), c.expected) << c.input;
    }
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

TEST(FilePathRemote, UrlsFollowTheArchiveRulesInTheirPathAndKeepTheirQueryWithTheArchive)
{
    struct UrlCase {
        const wchar_t* path;
        bool isArchive;
        const wchar_t* archive;
        const wchar_t* member;
        const wchar_t* shown;
    };
    const UrlCase cases[] = {
        {L"https://h/eu/europe.mca/roads.dat", true, L"https://h/eu/europe.mca", L"roads.dat",
         L"https://h/eu/europe.mca/roads.dat"},
        {L"HTTPS://h/eu/europe.MCA/roads.dat", true, L"HTTPS://h/eu/europe.MCA", L"roads.dat",
         L"HTTPS://h/eu/europe.MCA/roads.dat"},
        {L"https://h/eu/europe.mca", false, L"https://h/eu/europe.mca", L"europe.mca", L"https://h/eu/europe.mca"},
        // The query written after the archive's name, the member after the query's last '/'.
        {L"https://h/e.mca?sig=a%2Fb&x=1/roads.dat", true, L"https://h/e.mca?sig=a%2Fb&x=1", L"roads.dat",
         L"https://h/e.mca/roads.dat"},
        // ... or at the end: either way it belongs to the archive.
        {L"https://h/e.mca/roads.dat?sig=1", true, L"https://h/e.mca?sig=1", L"roads.dat", L"https://h/e.mca/roads.dat"},
        {L"https://h/e.mca?sig=1", false, L"https://h/e.mca?sig=1", L"e.mca?sig=1", L"https://h/e.mca"},
        // The host is no archive, nor is a query that looks like one.
        {L"http://maps.mca/roads.dat", false, L"", L"roads.dat", L"http://maps.mca/roads.dat"},
        {L"http://h/file.bin?name=x.mca/y", false, L"", L"y", L"http://h/file.bin"},
        {L"http://user:pw@h:8080/a.mca/b", true, L"http://user:pw@h:8080/a.mca", L"b", L"http://h:8080/a.mca/b"},
        {L"http://h", false, L"", L"h", L"http://h"},
        {L"http://u@h?q", false, L"", L"h?q", L"http://h"},
    };
    for (const UrlCase& c : cases) {
        EXPECT_TRUE(filedriver::isRemotePath(c.path)) << c.path;
        EXPECT_EQ(filedriver::isArchivePath(c.path), c.isArchive) << c.path;
        EXPECT_EQ(filedriver::archivePart(c.path), c.archive) << c.path;
        if (c.isArchive) {
            EXPECT_EQ(filedriver::memberName(c.path), c.member) << c.path;
        }
        EXPECT_EQ(filedriver::shownPath(c.path), c.shown) << c.path;
    }
    for (const wchar_t* local : {L"http:/h/x", L"D:\\http://x", L"ftp://h/x", L"httpx://h", L""})
        EXPECT_FALSE(filedriver::isRemotePath(local)) << local;
    EXPECT_EQ(filedriver::shownPath(L"D:\\m.mca\\x?y"), L"D:\\m.mca\\x?y");
    EXPECT_EQ(filedriver::memberName(L"D:\\m.mca\\x?y"), L"x?y");
}

TEST(FilePathRemote, TextOperationsLeaveUrlsAlone)
{
    EXPECT_EQ(FilePath(L"https://h//a/b.mca/c").normalised(), L"https://h//a/b.mca/c");
    EXPECT_EQ(FilePath(L"https://h/a").withTrailingSeparator(), L"https://h/a/");
    EXPECT_EQ(FilePath(L"https://h/a/").withTrailingSeparator(), L"https://h/a/");
}

} // namespace
