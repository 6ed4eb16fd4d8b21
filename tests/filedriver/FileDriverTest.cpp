#include "filedriver/FileDriver.h"

#include "orva/Log.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace {

using filedriver::FileDriver;

TEST(FileDriverOpen, EveryPlainModeOpensAPlainFileEvenNamedLikeAnArchive)
{
    const std::pair<std::uint32_t, bool> rows[] = {{1, true}, {3, true}, {9, true}, {19, true}, // keeps the file
                                                   {6, false}, {7, false}, {14, false}};
    for (const auto& [mode, keeps] : rows) {
        SCOPED_TRACE(mode);
        testsupport::TempDir tmp;
        tmp.writeFile(L"x.mca", "0123456789");
        {
            FileDriver file(tmp.wide(L"x.mca"), mode);
            EXPECT_EQ(file.size(), keeps && mode != filedriver::Temporary ? 10 : 0);
        }
        EXPECT_EQ(testsupport::readFile(tmp.path() / "x.mca"), keeps ? "0123456789" : "");
    }
}

TEST(FileDriverOpen, UnsupportedModesThrowLogAndTouchNoFile)
{
    const std::pair<const wchar_t*, std::uint32_t> rows[] = {
        {L"plain.dat", 0},       {L"plain.dat", 2},       {L"plain.dat", 20},      {L"x.mca/index.dat", 3},
        {L"x.mca/index.dat", 6}, {L"x.mca/index.dat", 7}, {L"x.mca/index.dat", 14}, {L"x.mca/index.dat", 19}};
    testsupport::TempDir logs;
    for (const auto& [path, mode] : rows) {
        SCOPED_TRACE(mode);
        testsupport::TempDir tmp;
        std::FILE* const saved = std::exchange(orva::errorLog.file, std::fopen((logs.path() / "log").string().c_str(), "wb"));
        try {
            FileDriver file(tmp.wide(path), mode);
            ADD_FAILURE() << "opened";
        } catch (const orva::exception& ex) {
            EXPECT_EQ(std::string(ex.what()), "orvana exception: unsupported file opening mode '" + std::to_string(mode) + "'");
        }
        std::fclose(std::exchange(orva::errorLog.file, saved));
        EXPECT_TRUE(testsupport::readFile(logs.path() / "log").ends_with("Exception thrown: .\\src\\filedriver\\FileDriver.cpp(64)\n"));
        EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    }
}

// Each read runs through an unbuffered and a buffered core.
class FileDriverRead : public testing::TestWithParam<std::uint32_t> {
protected:
    FileDriver& open(const std::string& bytes)
    {
        driver.reset();
        tmp.writeFile(L"f", bytes);
        return driver.emplace(tmp.wide(L"f"), GetParam());
    }
    testsupport::TempDir tmp;
    std::optional<FileDriver> driver;
};

INSTANTIATE_TEST_SUITE_P(Cores, FileDriverRead, testing::Values(filedriver::OpenRead, filedriver::OpenReadBuffered));

TEST_P(FileDriverRead, WideStringsEndAtTheTerminatorOrTheFile)
{
    FileDriver& f = open(std::string("a\0b\0\0\0c\0\0\0", 10));
    EXPECT_EQ(f.readWString(0), L"ab");
    EXPECT_EQ(f.readWString(0), L"c");
    EXPECT_EQ(f.readWString(0), L"");
    EXPECT_EQ(f.tell(), 10);

    FileDriver& g = open(std::string("x\0;\0y\0", 6));
    EXPECT_EQ(g.readWString(u';'), L"x");
    EXPECT_EQ(g.readWString(u';'), L"y");
    EXPECT_EQ(g.tell(), 6);

    // U+1F600: one wchar_t on Linux, the same pair on Windows.
    FileDriver& h = open(std::string("\x3D\xD8\x00\xDE\0\0", 6));
    EXPECT_EQ(h.readWString(0), sizeof(wchar_t) == 4 ? std::wstring(1, wchar_t(0x1F600)) : std::wstring(L"\xD83D\xDE00"));
}

TEST_P(FileDriverRead, ItemsAndIntegers)
{
    struct Row {
        std::uint32_t itemSize, count, expected;
    };
    // 38 bytes are left; the large requests overflow 32 bits when multiplied out.
    const Row rows[] = {{4, 10, 9}, {4, 0x40000001, 9}, {3, 5, 5}, {38, 1, 1}, {1, 0xFFFFFFFF, 38}};
    for (const Row& row : rows) {
        // Unbuffered, the length reaches the system, which may check all of the buffer (Windows does).
        if (GetParam() == filedriver::OpenRead && std::uint64_t(row.itemSize) * row.count > 64)
            continue;
        SCOPED_TRACE(row.count);
        FileDriver& f = open(std::string("\x01\x02\x03\xFF") + std::string(36, 'z'));
        EXPECT_EQ(f.seek(2, filedriver::SeekBegin), 2);
        std::string buffer(64, '\0');
        EXPECT_EQ(f.readItems(buffer.data(), row.itemSize, row.count), row.expected);
        EXPECT_EQ(buffer.substr(0, 3), "\x03\xFFz");
    }
    FileDriver& f = open("\x01\x02\x03\xFF\x80");
    EXPECT_EQ(f.readInt32(), std::int32_t(0xFF030201));
    EXPECT_EQ(f.readInt32(), 0x80);
}

TEST(FileDriverReadAt, APositionalReadLeavesThePositionWhereItWas)
{
    testsupport::TempDir tmp;
    std::string bytes(10000, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    tmp.writeFile(L"f.bin", bytes);
    for (const std::uint32_t mode : {filedriver::OpenRead, filedriver::OpenReadBuffered}) {
        filedriver::FileDriver file(tmp.wide(L"f.bin"), mode);
        char first[100], elsewhere[50], next[100];
        ASSERT_EQ(file.read(first, 100), 100u);
        ASSERT_EQ(file.readAt(9000, elsewhere, 50), 50u);
        EXPECT_EQ(std::string(elsewhere, 50), bytes.substr(9000, 50)) << mode;
        ASSERT_EQ(file.read(next, 100), 100u);
        EXPECT_EQ(std::string(next, 100), bytes.substr(100, 100)) << mode;
        EXPECT_EQ(file.tell(), 200) << mode;
    }
}

} // namespace
