#include "filedriver/ArchiveManager.h"

#include "filedriver/ArchiveWriter.h"
#include "orva/Log.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Shared with ArchiveCursorTest.cpp.
namespace archivetest {

// Runs `action` with the error log going to a file of its own; returns what was logged.
std::string logOf(const std::function<void()>& action)
{
    testsupport::TempDir dir;
    std::FILE* const saved = orva::errorLog.file;
    orva::errorLog.file = std::fopen((dir.path() / "log.txt").string().c_str(), "wb");
    action();
    std::fclose(orva::errorLog.file);
    orva::errorLog.file = saved;
    return testsupport::readFile(dir.path() / "log.txt");
}

std::string whatOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const orva::exception& ex) {
        return ex.what();
    }
    return "nothing thrown";
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace archivetest

namespace {

using namespace archivetest;
using namespace filedriver;

void writeSmallArchive(const std::wstring& path)
{
    ASSERT_TRUE(writeArchive(path, {{L"roads.dat", ByteBuffer(100, 1)}, {L"Names.txt", ByteBuffer(5, 2)}}, {}));
}

OrvaArchive* get(const std::wstring& path)
{
    return archiveManager.getArchive(path);
}

TEST(ArchiveManagerRegistry, OneArchivePerExactArchivePart)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"x.mca");
    const std::size_t last = path.find_last_of(Separators);
    // Other texts naming the same file, or where names keep letter case an equal file.
    std::vector<std::wstring> others{tmp.wide(L"X.mca"), path.substr(0, last + 1) + path.substr(last)};
    if (Separators[0] == L'\\') // POSIX opening takes '/' only
        others.push_back(std::wstring(path).replace(last, 1, L"/"));
    writeSmallArchive(path);
    writeSmallArchive(others[0]);

    OrvaArchive* const archive = get(path);
    EXPECT_EQ(archive->archivePath(), path);
    for (const std::wstring& same : {path, path + L"\\dir\\file.bin", path + L"/file.bin"})
        EXPECT_EQ(get(same), archive);
    std::vector<const OrvaArchive*> seen{archive};
    for (const std::wstring& other : others) {
        OrvaArchive* const found = get(other + L"\\file.bin");
        EXPECT_EQ(found->archivePath(), other);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), found), 0) << orva::toNative(other);
        seen.push_back(found);
    }
}

TEST(ArchiveManagerRegistry, ArchiveFileMustExistAtEveryCall)
{
    testsupport::TempDir tmp;
    std::filesystem::create_directories(tmp.path() / "dir.mca");
    writeSmallArchive(tmp.wide(L"gone.mca"));
    get(tmp.wide(L"gone.mca"));
    std::filesystem::remove(tmp.path() / "gone.mca");
    for (const wchar_t* name : {L"missing.mca", L"dir.mca", L"gone.mca"}) {
        std::string what;
        const std::string log = logOf([&] { what = whatOf([&] { get(tmp.wide(name) + L"\\a\\roads.dat"); }); });
        EXPECT_EQ(what, "orvana exception: ArchiveManager: archive '" + orva::toNative(tmp.wide(name)) + "' not found");
        EXPECT_EQ(occurrences(log, "Exception thrown: .\\src\\filedriver\\ArchiveManager.cpp(70)"), 1u) << log;
    }
}

TEST(ArchiveManagerRegistry, FailedLoadIsLoggedAndRetriedAtEveryCall)
{
    testsupport::TempDir tmp;
    tmp.writeFile(L"bad.mca", "not an archive");
    const std::wstring member = tmp.wide(L"bad.mca") + L"\\roads.dat";
    const std::string what = whatOf([&] { get(member); });
    ASSERT_NE(what.find("failed to load ArchiveHeader"), std::string::npos) << what;
    const std::string log = logOf([&] {
        EXPECT_FALSE(archiveManager.existsInArchive(member));
        EXPECT_FALSE(archiveManager.existsInArchive(member));
    });
    const std::string caught = "Exception orva::exception& ex caught: .\\src\\filedriver\\ArchiveManager.cpp(97) ";
    EXPECT_EQ(occurrences(log, caught + "message:'" + what + "'\n"), 2u) << log;
    writeSmallArchive(tmp.wide(L"bad.mca"));
    EXPECT_TRUE(archiveManager.existsInArchive(member));
}

TEST(ArchiveManagerRegistry, AReleasedArchiveIsLoadedAfreshButNotWhileACursorUsesIt)
{
    testsupport::TempDir tmp;
    const std::wstring path = tmp.wide(L"fresh.mca");
    ASSERT_TRUE(writeArchive(path, {{L"a", {1}}}, {}));
    EXPECT_TRUE(get(path)->hasMember(L"a"));
    {
        FileDriver cursor(path + Separators[0] + L"a", OpenRead);
        EXPECT_FALSE(archiveManager.releaseArchive(path));
    }
    ASSERT_TRUE(writeArchive(path, {{L"b", {2, 3}}}, {}));
    EXPECT_TRUE(get(path)->hasMember(L"a")) << "kept until released";
    // The kept index no longer describes the file: no cursor reads it.
    EXPECT_EQ(whatOf([&] { FileDriver stale(path + Separators[0] + L"a", OpenRead); }),
              "orvana exception: " + orva::toNative(path) + " : file changed since its index was loaded");
    EXPECT_TRUE(archiveManager.releaseArchive(path));
    EXPECT_TRUE(get(path)->hasMember(L"b"));
    FileDriver member(path + Separators[0] + L"b", OpenRead);
    std::uint8_t bytes[2] = {};
    EXPECT_EQ(member.read(bytes, 2), 2u);
    EXPECT_EQ(bytes[1], 3);
    EXPECT_FALSE(archiveManager.releaseArchive(tmp.wide(L"unknown.mca")));
}

TEST(ArchiveManagerRegistry, ExistsAwareThroughArchives)
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
        for (const Row& row : rows)
            EXPECT_EQ(existsAware(tmp.wide() + Separators[0] + row.path, row.directory),
                      row.exists)
                << orva::toNative(row.path) << " directory " << row.directory;
    });
    EXPECT_EQ(log, ""); // neither the garbage archive nor the directory was opened
}

// Cache-only tests: keys are addresses that are never followed.
OrvaArchive* const fakeA = reinterpret_cast<OrvaArchive*>(std::uintptr_t(64));
OrvaArchive* const fakeB = reinterpret_cast<OrvaArchive*>(std::uintptr_t(128));
constexpr int capacity = int(ArchiveManager::BlockCacheCapacity);

TEST(ArchiveManagerCache, HitsShareTheBufferAndItsFilledMark)
{
    ArchiveManager cache;
    bool filled = true;
    ByteBuffer* const buffer = cache.acquireBlock(fakeA, 7, filled);
    EXPECT_FALSE(filled);
    *buffer = ByteBuffer(3, 42);
    cache.releaseBlock(fakeA, 7);
    EXPECT_EQ(cache.acquireBlock(fakeA, 7, filled), buffer);
    EXPECT_TRUE(filled);
    EXPECT_EQ(*buffer, ByteBuffer(3, 42));
    cache.abandonBlock(fakeA, 7);
    // After the abandon, then after invalidating fakeA: same buffer for the same key, fakeB untouched.
    for (int round = 0; round < 2; ++round) {
        for (auto key : {std::make_pair(fakeA, 7), std::make_pair(fakeA, 8), std::make_pair(fakeB, 7)}) {
            EXPECT_EQ(cache.acquireBlock(key.first, key.second, filled) == buffer, key == std::make_pair(fakeA, 7));
            EXPECT_EQ(filled, round == 1 && key.first == fakeB) << round << " " << key.second;
            cache.releaseBlock(key.first, key.second);
        }
        cache.invalidateBlocks(fakeA);
    }
}

TEST(ArchiveManagerCache, FullCacheGivesUpTheLowestScoreNotHeld)
{
    struct Row {
        const char* block0; // after the fill: 'a' acquire, 'r' release
        int othersAcquiredMore, victim;
    } const rows[] = {
        {"", 0, 0},     // the oldest
        {"ar", 0, 0},   // ties with block 1: first in key order
        {"aarr", 0, 1}, // acquires raise the score
        {"a", 3, 1},    // held
        {"aar", 3, 1},  // still held by one of two
        {"ra", 3, 1},   // a release too many frees nothing later
        {"aarr", 3, 0}, // both holders gone
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.block0) + " / " + std::to_string(row.othersAcquiredMore));
        ArchiveManager cache;
        bool filled = false;
        ByteBuffer* buffers[capacity] = {};
        for (int block = 0; block < capacity; ++block) {
            buffers[block] = cache.acquireBlock(fakeA, block, filled);
            cache.releaseBlock(fakeA, block);
        }
        for (const char* op = row.block0; *op; ++op)
            *op == 'a' ? (void)cache.acquireBlock(fakeA, 0, filled) : cache.releaseBlock(fakeA, 0);
        for (int block = 1; block < capacity; ++block)
            for (int i = 0; i < row.othersAcquiredMore; ++i) {
                cache.acquireBlock(fakeA, block, filled);
                cache.releaseBlock(fakeA, block);
            }
        EXPECT_EQ(cache.acquireBlock(fakeA, 1000, filled), buffers[row.victim]);
        EXPECT_FALSE(filled);
        cache.releaseBlock(fakeA, 1000);
        EXPECT_EQ(cache.acquireBlock(fakeA, 1 - row.victim, filled), buffers[1 - row.victim]);
        EXPECT_TRUE(filled);
    }
}

TEST(ArchiveManagerCache, MissWhileEveryBlockIsHeldThrows)
{
    ArchiveManager cache;
    bool filled = false;
    ByteBuffer* buffers[capacity] = {};
    for (int block = 0; block < capacity; ++block)
        buffers[block] = cache.acquireBlock(fakeA, block, filled);
    std::string what;
    const std::string log = logOf([&] { what = whatOf([&] { cache.acquireBlock(fakeB, 0, filled); }); });
    EXPECT_EQ(what, "orvana exception: ArchiveManager: all 256 cache blocks are in use");
    EXPECT_EQ(occurrences(log, "Exception thrown: .\\src\\filedriver\\ArchiveManager.cpp(140)"), 1u) << log;
    EXPECT_EQ(cache.acquireBlock(fakeA, 9, filled), buffers[9]);
    EXPECT_TRUE(filled);
    cache.releaseBlock(fakeA, 9);
    cache.releaseBlock(fakeA, 9);
    EXPECT_EQ(cache.acquireBlock(fakeB, 0, filled), buffers[9]);
    EXPECT_FALSE(filled);
}

} // namespace
