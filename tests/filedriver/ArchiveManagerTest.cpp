#include "filedriver/ArchiveManager.h"
#include "filedriver/FileDriver.h"

#include "ArchiveTestHelpers.h"

#include "filedriver/ArchiveWriter.h"
#include "orva/Log.h"
#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// Declared in ArchiveTestHelpers.h.
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

// The members roads.dat (100 bytes) and Names.txt (5).
void writeSmallArchive(const std::wstring& path)
{
    ASSERT_TRUE(filedriver::writeArchive(path, {{L"roads.dat", filedriver::ByteBuffer(100, 1)},
                                                {L"Names.txt", filedriver::ByteBuffer(5, 2)}},
                                         {}));
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

TEST(ArchiveManagerCacheRuns, OnlyFilledBlocksAreHeldInOrderAndNothingIsEntered)
{
    ArchiveManager cache;
    bool filled = false;
    ByteBuffer* const five = cache.acquireBlock(fakeA, 5, filled);
    cache.releaseBlock(fakeA, 5);
    ByteBuffer* const seven = cache.acquireBlock(fakeA, 7, filled);
    cache.releaseBlock(fakeA, 7);
    // Being filled by this very thread: not filled yet, so not held.
    cache.acquireBlock(fakeA, 8, filled);
    BlockGrant grants[5];
    ASSERT_EQ(cache.holdCachedBlocks(fakeA, 4, 5, grants), 2u);
    EXPECT_EQ(grants[0].block, 5);
    EXPECT_EQ(grants[0].buffer, five);
    EXPECT_EQ(grants[1].block, 7);
    EXPECT_EQ(grants[1].buffer, seven);
    EXPECT_TRUE(grants[0].filled && grants[1].filled);
    cache.releaseBlocks(fakeA, grants, 2);
    cache.abandonBlock(fakeA, 8);
    // Released, still filled; the blocks it did not hold were never entered.
    for (int block = 4; block < 9; ++block) {
        cache.acquireBlock(fakeA, block, filled);
        EXPECT_EQ(filled, block == 5 || block == 7) << block;
        cache.abandonBlock(fakeA, block);
    }
}

TEST(ArchiveManagerCacheRuns, HeldBlocksStayAndAFullCacheNeitherThrowsNorWaits)
{
    ArchiveManager cache;
    bool filled = false;
    for (int block = 0; block < 2; ++block) {
        cache.acquireBlock(fakeA, block, filled);
        cache.releaseBlock(fakeA, block);
    }
    BlockGrant grants[4];
    ASSERT_EQ(cache.holdCachedBlocks(fakeA, 0, 4, grants), 2u);
    // Every other buffer held by a filler: a run finds nothing and says nothing.
    for (int block = 100; block < 100 + capacity - 2; ++block)
        cache.acquireBlock(fakeB, block, filled);
    BlockGrant none[4];
    std::string log = logOf([&] { EXPECT_EQ(cache.holdCachedBlocks(fakeB, 0, 4, none), 0u); });
    EXPECT_EQ(log, "");
    // The run's blocks are held: a miss has no room.
    std::string what;
    log = logOf([&] { what = whatOf([&] { cache.acquireBlock(fakeB, 0, filled); }); });
    EXPECT_EQ(what, "orvana exception: ArchiveManager: all 256 cache blocks are in use");
    EXPECT_EQ(occurrences(log, "ArchiveManager.cpp(140)"), 1u) << log;
    cache.releaseBlocks(fakeA, grants, 2);
    EXPECT_FALSE(cache.acquireBlock(fakeB, 0, filled) == nullptr);
    EXPECT_FALSE(filled);
}

} // namespace

namespace {

using namespace archivetest;
using namespace filedriver;

// Bytes that depend on the seed and on every offset, so that a byte of another member, version or
// place shows.
ByteBuffer seededBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    ByteBuffer bytes(size);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// One archive of the stress test in two versions, both kept beside it as files to copy over it.
struct StressArchive {
    std::wstring path;
    std::vector<std::wstring> names;
    ByteBuffer bytes[2][2]; // [version][member]
    std::filesystem::path versionFiles[2];
    bool sameLayout;
};

class StressRun {
public:
    static constexpr int threadCount = 8;

    explicit StressRun(const testsupport::TempDir& tmp)
    {
        struct Plan {
            const wchar_t* file;
            std::uint32_t type, blockSize;
            std::int32_t level;
            std::uint32_t sizes[2][2];
        } const plans[] = {
            // zlib at level 0: equal lengths give equal stored sizes, so the versions share their index.
            {L"same.mca", 1, 512, 0, {{40000, 30000}, {40000, 30000}}},
            // Files of other sizes: a stamp tells them apart even when the one replaced reuses the inode.
            {L"other.mca", 1, 512, ZlibCompression::defaultLevel, {{30000, 9000}, {31000, 8100}}},
            {L"stored.mca", 0, 1000, 0, {{25000, 5000}, {25000, 5000}}},
        };
        unsigned seed = 1;
        for (const Plan& plan : plans) {
            StressArchive archive;
            archive.path = tmp.wide(plan.file);
            archive.names = {L"a", L"b"};
            archive.sameLayout = plan.sizes[0][0] == plan.sizes[1][0] && plan.sizes[0][1] == plan.sizes[1][1];
            ArchiveWriterOptions options;
            options.compressionType = plan.type;
            options.blockSize = plan.blockSize;
            options.level = plan.level;
            for (int version = 0; version < 2; ++version) {
                std::vector<std::pair<std::wstring, ByteBuffer>> members;
                for (int m = 0; m < 2; ++m) {
                    archive.bytes[version][m] = seededBytes(plan.sizes[version][m], seed++);
                    members.emplace_back(archive.names[m], archive.bytes[version][m]);
                }
                const std::wstring source = tmp.wide(L"v" + std::to_wstring(version) + L"-" + plan.file);
                EXPECT_TRUE(writeArchive(source, members, options));
                archive.versionFiles[version] = std::filesystem::path(source);
            }
            std::filesystem::copy_file(archive.versionFiles[0], std::filesystem::path(archive.path));
            archives.push_back(std::move(archive));
        }
        temporary = tmp.path();
    }

    // Runs the threads for `duration`; false when they did not all end within `patience` after it.
    bool run(std::chrono::milliseconds duration, std::chrono::seconds patience)
    {
        deadline = std::chrono::steady_clock::now() + duration;
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t)
            threads.emplace_back([this, t] {
                work(t);
                std::lock_guard<std::mutex> lock(doneMutex);
                ++done;
                allDone.notify_all();
            });
        std::unique_lock<std::mutex> lock(doneMutex);
        if (!allDone.wait_for(lock, duration + patience, [this] { return done == threadCount; })) {
            for (std::thread& thread : threads)
                thread.detach();
            return false;
        }
        lock.unlock();
        for (std::thread& thread : threads)
            thread.join();
        return true;
    }

    std::vector<std::string> failures;
    std::atomic<long> bytesChecked{0}, releases{0}, replacements{0}, changedRefusals{0};
    // Windows only: an open that met a replacement of its archive's file under way.
    std::atomic<long> openRefusals{0};

private:
    struct Reader {
        std::unique_ptr<FileDriver> file;
        const StressArchive* archive = nullptr;
        int member = 0;
        unsigned versions = 3; // the versions its bytes so far agree with
    };

    void fail(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        failures.push_back(what);
        stop = true;
    }

    std::wstring memberOf(const StressArchive& archive, const std::wstring& name) const
    {
        return archive.path + Separators[0] + name;
    }

    // One seek and read, checked against every version the reader may be reading.
    void readAndCheck(Reader& reader, std::mt19937& random)
    {
        const std::int32_t size = reader.file->size();
        const auto offset = static_cast<std::int32_t>(random() % (static_cast<std::uint32_t>(size) + 1));
        const std::uint32_t length = random() % 5000;
        if (reader.file->seek(offset, SeekBegin) != offset)
            return fail("seek refused inside the member");
        ByteBuffer got(length);
        got.resize(reader.file->read(got.data(), length));
        unsigned agreeing = 0;
        for (int version = 0; version < 2; ++version) {
            const ByteBuffer& expected = reader.archive->bytes[version][reader.member];
            if ((reader.versions & (1u << version)) && expected.size() == std::size_t(size)
                && got.size() == std::min<std::size_t>(length, expected.size() - std::size_t(offset))
                && std::equal(got.begin(), got.end(), expected.begin() + offset))
                agreeing |= 1u << version;
        }
        if (agreeing == 0)
            return fail("wrong bytes in " + orva::toNative(memberOf(*reader.archive, reader.archive->names[reader.member]))
                        + " at " + std::to_string(offset) + "+" + std::to_string(length));
        reader.versions = agreeing;
        bytesChecked += static_cast<long>(got.size());
    }

    bool open(Reader& reader, const StressArchive& archive, int member, std::uint32_t mode)
    {
        reader = Reader();
        reader.archive = &archive;
        reader.member = member;
        const std::string what = whatOf([&] {
            reader.file = std::make_unique<FileDriver>(memberOf(archive, archive.names[member]), mode);
        });
        if (what == "nothing thrown")
            return true;
        // Only a file of another index may be refused: it was replaced since its archive was loaded.
        if (!archive.sameLayout && what.find(" : file changed since its index was loaded") != std::string::npos) {
            ++changedRefusals;
            if (archiveManager.releaseArchive(archive.path))
                ++releases;
        }
#ifdef _WIN32
        // While a rename replaces the file, Windows refuses to open it (the file is held for deletion).
        else if (what.find("can't open file '") != std::string::npos && what.find(".mca'") != std::string::npos) {
            ++openRefusals;
        }
#endif
        else {
            fail("opening a member: " + what);
        }
        return false;
    }

    void replace(const StressArchive& archive, int thread, std::mt19937& random)
    {
        const std::filesystem::path next = temporary / ("next" + std::to_string(thread));
        std::error_code error;
        std::filesystem::copy_file(archive.versionFiles[random() % 2], next,
                                   std::filesystem::copy_options::overwrite_existing, error);
        // Windows refuses to replace a file that is open: then the old one stays.
        if (!error)
            std::filesystem::rename(next, std::filesystem::path(archive.path), error);
        if (!error)
            ++replacements;
    }

    void work(int thread)
    {
        std::mt19937 random(static_cast<unsigned>(thread) * 7919u + 1u);
        Reader held;
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            const StressArchive& archive = archives[random() % archives.size()];
            const int member = static_cast<int>(random() % 2);
            const unsigned action = random() % 100;
            const std::string what = whatOf([&] {
                if (action < 50) {
                    Reader reader;
                    if (!open(reader, archive, member, random() % 2 ? OpenRead : OpenReadBuffered))
                        return;
                    for (int i = 0; i < 6 && !stop; ++i)
                        readAndCheck(reader, random);
                    if (random() % 5 == 0)
                        held = std::move(reader);
                } else if (action < 65) {
                    if (!existsAware(memberOf(archive, archive.names[member]), false)
                        || existsAware(memberOf(archive, L"none"), false))
                        fail("existsAware answered wrong for " + orva::toNative(archive.path));
                } else if (action < 75) {
                    if (archiveManager.releaseArchive(archive.path))
                        ++releases;
                } else if (action < 80) {
                    replace(archive, thread, random);
                } else {
                    archiveManager.getArchive(archive.path);
                    const std::shared_ptr<OrvaArchive> shared = archiveManager.shareArchive(archive.path);
                    if (!shared->hasMember(archive.names[member]) || shared->members().size() != 2)
                        fail("the archive's index lost a member");
                }
                // A held cursor keeps its archive from being released: now and then it goes.
                if (held.file)
                    readAndCheck(held, random);
                if (random() % 8 == 0)
                    held = Reader();
            });
            if (what != "nothing thrown")
                fail("thread " + std::to_string(thread) + ": " + what);
        }
    }

    std::vector<StressArchive> archives;
    std::filesystem::path temporary;
    std::chrono::steady_clock::time_point deadline;
    std::atomic<bool> stop{false};
    std::mutex doneMutex;
    std::condition_variable allDone;
    int done = 0;
};

TEST(ArchiveManagerThreads, ReleasingReplacingAndReadingAtOnceServesNoWrongByte)
{
    testsupport::TempDir tmp;
    auto stress = std::make_unique<StressRun>(tmp);
    bool ended = false;
    const std::string log = logOf([&] { ended = stress->run(std::chrono::milliseconds(2500), std::chrono::seconds(60)); });
    if (!ended) {
        // The threads still use the run's archives and files: nothing can be cleaned up safely.
        std::fprintf(stderr, "threads of the stress test still running 60 s after its end: a deadlock\n");
        std::abort();
    }
    std::printf("%ld bytes checked, %ld releases, %ld replacements, %ld refusals of a changed file, %ld opens"
                " refused during a replacement\n",
                stress->bytesChecked.load(), stress->releases.load(), stress->replacements.load(),
                stress->changedRefusals.load(), stress->openRefusals.load());
    EXPECT_EQ(stress->failures, std::vector<std::string>());
    EXPECT_GT(stress->bytesChecked.load(), 0);
    EXPECT_GT(stress->releases.load(), 0);
    // Only refusals of a replaced file were logged.
    EXPECT_EQ(occurrences(log, "Exception thrown: "),
              std::size_t(stress->changedRefusals.load() + stress->openRefusals.load()))
        << log.substr(0, 2000);
    // Every archive still works when the threads are gone.
    for (const wchar_t* name : {L"same.mca", L"other.mca", L"stored.mca"}) {
        archiveManager.releaseArchive(tmp.wide(name));
        EXPECT_TRUE(existsAware(tmp.wide(name) + Separators[0] + L"a", false));
        archiveManager.releaseArchive(tmp.wide(name));
    }
}

} // namespace
