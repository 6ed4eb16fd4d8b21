#include "filedriver/FilePlatform.h"
#include "filedriver/SystemError.h"

#include "orva/Log.h"
#include "orva/WideText.h"
#include "support/SampleBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using filedriver::FilePlatform;

bool onWindows() { return filedriver::Separators[0] == L'\\'; }

// Opens, expecting `message` thrown and one ERR line ending in the trace of `site` logged into `logFile`.
void expectThrows(const std::filesystem::path& logFile, const std::wstring& path, std::uint32_t mode,
                  const std::string& message, int site)
{
    std::FILE* const saved = std::exchange(orva::errorLog.file, std::fopen(logFile.string().c_str(), "wb"));
    try {
        FilePlatform file(path, mode);
        ADD_FAILURE() << "mode " << mode << " opened";
    } catch (const orva::exception& ex) {
        EXPECT_EQ(std::string(ex.what()), "orvana exception: " + message) << "mode " << mode;
    }
    std::fclose(std::exchange(orva::errorLog.file, saved));
    const std::string log = testsupport::readFile(logFile);
    const std::string trace = std::string("Exception thrown: .\\src\\filedriver\\") + (onWindows() ? "win32" : "posix")
                              + "\\FilePlatform.cpp(" + std::to_string(site) + ")\n";
    EXPECT_TRUE(log.starts_with("ERR ") && log.ends_with(trace) && std::count(log.begin(), log.end(), '\n') == 1)
        << log;
}

// Sets TMPDIR (Linux) and TMP and TEMP (Windows) for the test; unset ones become unset again.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::filesystem::path& directory)
    {
        for (std::string name : {"TMPDIR", "TMP", "TEMP"}) {
            const char* value = std::getenv(name.c_str());
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            put(name + "=" + directory.string());
        }
    }
    ~TemporaryDirectory()
    {
        for (const auto& [name, value] : saved) {
            put(name + "=" + value.value_or("")); // unsets on Windows
            if (!value)
                put(name); // unsets with glibc
        }
    }

private:
    // glibc keeps the very string.
    static void put(std::string entry)
    {
        static std::list<std::string> kept;
        putenv(kept.emplace_back(std::move(entry)).data());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

std::vector<std::string> namesIn(const std::filesystem::path& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(FilePlatformOpen, MissingFileAndUnknownModesThrowAndLog)
{
    testsupport::TempDir tmp;
    // Built by hand: the test's own path conversions on Linux follow the C locale.
    const std::wstring missing = tmp.wide() + filedriver::Separators[0] + L"missing-\u00e9.dat";
    expectThrows(tmp.path() / "log", missing, filedriver::OpenRead, "can't open file '" + orva::toNative(missing) + "'", 63);
    for (std::uint32_t mode : {0u, 2u, 20u})
        expectThrows(tmp.path() / "log", missing, mode, "unknown file opening mode", 60);
    EXPECT_EQ(namesIn(tmp.path()), std::vector<std::string>{"log"});
}

TEST(FilePlatformOpen, ADirectoryIsRefusedInEveryMode)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp.path() / "dir");
    const std::wstring directory = tmp.wide(L"dir");
    for (std::uint32_t mode : {1u, 3u, 6u, 7u, 9u, 14u})
        expectThrows(tmp.path() / "log", directory, mode, "can't open file '" + orva::toNative(directory) + "'", 63);
    EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "dir"));
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path() / "dir"));
}

// The reason is the system's own; a later open that succeeds leaves no reason behind for the next
// failure of another kind to borrow.
TEST(FilePlatformOpen, AFailedOpenNotesTheSystemsReason)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"there.txt", "x");
    std::filesystem::create_directory(tmp.path() / "dir");
    const auto reasonOfOpening = [](const std::wstring& path) {
        try {
            filedriver::FilePlatform file(path, filedriver::OpenRead);
        } catch (const orva::exception&) {
        }
        return filedriver::takeSystemError();
    };
    const std::string missing = reasonOfOpening(tmp.wide(L"missing.txt"));
    const std::string directory = reasonOfOpening(tmp.wide(L"dir"));
    EXPECT_FALSE(missing.empty());
    EXPECT_FALSE(directory.empty());
#ifndef _WIN32
    EXPECT_EQ(missing, "No such file or directory");
    EXPECT_EQ(directory, "Is a directory");
#endif
    EXPECT_EQ(missing.back() == '.' || missing.back() == '\n', false);
    EXPECT_EQ(filedriver::takeSystemError(), "") << "a reason is taken once";
    reasonOfOpening(tmp.wide(L"missing.txt"));
    EXPECT_EQ(reasonOfOpening(tmp.wide(L"there.txt")), "");
    // The number a System failure carries has the same words.
    try {
        filedriver::FilePlatform file(tmp.wide(L"dir"), filedriver::OpenRead);
        ADD_FAILURE() << "a directory opened";
    } catch (const orva::exception& error) {
        EXPECT_EQ(error.kind(), orva::ErrorKind::System);
        EXPECT_EQ(filedriver::systemErrorText(error.systemError()), directory);
    }
    filedriver::takeSystemError();
}

TEST(FilePlatformOpen, EachModeTruncatesKeepsReadsAndWritesAsItsRowSays)
{
    // After opening: the size, what writing "ab" and reading 4 bytes at 0 give; the file after; whether a
    // missing file gets created.
    struct Row { std::uint32_t mode; std::int32_t size; std::uint32_t written; std::string read, after; bool creates; };
    const Row rows[] = {
        {1, 10, 0, "0123", "0123456789", false}, {9, 10, 0, "0123", "0123456789", false},
        {3, 10, 2, "ab23", "ab23456789", false}, {6, 0, 2, "", "ab", true},
        {14, 0, 2, "", "ab", true},              {7, 0, 2, "ab", "ab", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        testsupport::TempDir tmp;
        tmp.writeFile(L"f", "0123456789");
        {
            FilePlatform file(tmp.wide(L"f"), row.mode);
            EXPECT_EQ(file.size(), row.size);
            EXPECT_EQ(file.write("ab", 2), row.written);
            EXPECT_EQ(file.seek(0, filedriver::SeekBegin), 0);
            char buffer[4] = {};
            EXPECT_EQ(std::string(buffer, file.read(buffer, 4)), row.read);
        }
        EXPECT_EQ(testsupport::readFile(tmp.path() / "f"), row.after);
        try {
            FilePlatform file(tmp.wide(L"new"), row.mode);
        } catch (const orva::exception&) {
        }
        EXPECT_EQ(std::filesystem::exists(tmp.path() / "new"), row.creates);
    }
}

TEST(FilePlatformOpen, HandlesShareTheFile)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"f", "0123456789");
    FilePlatform first(tmp.wide(L"f"), filedriver::OpenRead);
    FilePlatform second(tmp.wide(L"f"), filedriver::OpenRead);
    FilePlatform writer(tmp.wide(L"f"), filedriver::OpenReadWrite);
    char buffer[4] = {};
    EXPECT_EQ(std::string(buffer, first.read(buffer, 2)), "01");
    EXPECT_EQ(writer.seek(2, filedriver::SeekBegin), 2);
    EXPECT_EQ(writer.write("XY", 2), 2u);
    EXPECT_EQ(std::string(buffer, first.read(buffer, 4)), "XY45");
    EXPECT_EQ(std::string(buffer, second.read(buffer, 4)), "01XY");
}

TEST(FilePlatformTemporary, LivesInTheTemporaryDirectoryAndLeavesNothing)
{
    testsupport::TempDir tmp;
    TemporaryDirectory inside(tmp.path());
    {
        FilePlatform file(tmp.wide(L"unused"), filedriver::Temporary);
        EXPECT_EQ(file.write("temp", 4), 4u);
        EXPECT_EQ(file.seek(0, filedriver::SeekBegin), 0);
        char buffer[4] = {};
        EXPECT_EQ(std::string(buffer, file.read(buffer, 4)), "temp");

        const std::vector<std::string> names = namesIn(tmp.path());
        if (onWindows()) {
            ASSERT_EQ(names.size(), 1u);
            EXPECT_TRUE(names[0].starts_with("orv") && names[0].ends_with(".tmp")) << names[0];
        } else {
            // Unlinked at once, so only the descriptor still knows the name.
            EXPECT_TRUE(names.empty());
            int found = 0;
            for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
                found += target.starts_with((tmp.path() / "orv").string()) && target.ends_with(" (deleted)");
            }
            EXPECT_EQ(found, 1);
        }
    }
    EXPECT_TRUE(namesIn(tmp.path()).empty());

    TemporaryDirectory missing(tmp.path() / "missing");
    expectThrows(tmp.path() / "log", L"", filedriver::Temporary, "can't create temporary file", 56);
}

TEST(FilePlatformPosition, SeekOriginsRefusalsAndTheEnd)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"f", "0123456789");
    FilePlatform file(tmp.wide(L"f"), filedriver::OpenRead);
    // The origins are not stdio's.
    EXPECT_EQ(file.seek(2, filedriver::SeekBegin), 2);
    EXPECT_EQ(file.seek(3, filedriver::SeekCurrent), 5);
    EXPECT_EQ(file.seek(-3, filedriver::SeekEnd), 7);
    const std::pair<std::int32_t, std::int32_t> refused[] = {{1, -1}, {1, 3}, {-1, filedriver::SeekBegin},
                                                            {-8, filedriver::SeekCurrent}, {-11, filedriver::SeekEnd}};
    for (const auto& [offset, origin] : refused) {
        EXPECT_EQ(file.seek(offset, origin), -1) << offset << ", " << origin;
        EXPECT_EQ(file.tell(), 7);
    }
    EXPECT_EQ(file.seek(-2, filedriver::SeekEnd), 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.fetch(4)), 4), std::string("89\0\0", 4));
    char buffer[4];
    EXPECT_EQ(file.read(buffer, 4), 0u);
    EXPECT_EQ(file.tell(), 10);
}

TEST(FilePlatformPositionalRead, LeavesTheOrdinaryPositionWhereItWas)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"f", "0123456789abcdef");
    FilePlatform file(tmp.wide(L"f"), filedriver::OpenRead);
    char buffer[8] = {};
    ASSERT_EQ(file.read(buffer, 3), 3u);
    EXPECT_EQ(file.readAt(10, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(file.tell(), 3);
    ASSERT_EQ(file.read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "345");
    // At and past the end: what is there, then nothing; the position still untouched.
    EXPECT_EQ(file.readAt(14, buffer, 8), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(file.readAt(16, buffer, 8), 0u);
    EXPECT_EQ(file.readAt(std::int64_t(1) << 33, buffer, 8), 0u);
    EXPECT_EQ(file.tell(), 6);
}

TEST(FilePlatformPositionalRead, ThreadsReadingOneFileAtOnceEachGetTheirOwnBytes)
{
    testsupport::TempDir tmp;
    const std::vector<std::uint8_t> bytes = testsupport::sampleBytes(1u << 20, 7);
    tmp.writeFile(L"f", std::string(bytes.begin(), bytes.end()));
    FilePlatform file(tmp.wide(L"f"), filedriver::OpenRead);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 4; ++t)
        readers.emplace_back([&, t] {
            std::vector<std::uint8_t> got(5000);
            for (std::uint32_t i = 0; i < 400; ++i) {
                const std::uint32_t offset = (i * 7919u + t * 104729u) % (std::uint32_t(bytes.size()) - 5000);
                if (file.readAt(offset, got.data(), 5000) != 5000
                    || !std::equal(got.begin(), got.end(), bytes.begin() + offset))
                    ++wrong;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(file.tell(), 0);
}

} // namespace
