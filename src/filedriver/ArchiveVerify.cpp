#include "filedriver/ArchiveVerify.h"

#include "filedriver/ArchiveCursor.h"
#include "filedriver/ArchiveManager.h"
#include "filedriver/OrderedBlockPool.h"
#include "orva/Log.h"
#include "orva/exception.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveVerify.cpp";
constexpr int unreachableSite = 65;
constexpr int noThreadsSite = 71;

// Blocks are claimed in runs of about this many bytes (at most runMostBlocks blocks): few enough
// that the threads end together, enough that claiming costs nothing beside the decoding.
constexpr std::uint32_t claimBytes = 256u << 10;
constexpr std::uint32_t runMostBlocks = 16;

FilePath memberPath(const FilePath& archive, const std::wstring& name)
{
    return FilePath(archive + Separators[0] + name);
}

// A path that names the member leads a cursor to it: its name holds no separator, and the path runs
// through this archive and no other.
bool reachable(const FilePath& archive, const std::wstring& name)
{
    return std::none_of(name.begin(), name.end(), isSeparator) && archivePart(memberPath(archive, name)) == archive;
}

// Checks an archive's blocks on several threads, the caller's among them. Threads claim runs of
// blocks from one counter and decode each into a buffer of their own, past the block cache: a
// verify needs no bytes handed on in order, so nobody waits for anybody until the end. Progress is
// told in block order on the caller's thread as the runs before it are done.
//
// Per thread: a cursor (its stored-block buffer) and one decoded block.
// Shared: `nextRun` and `runDone` are atomic; each Checker is its thread's alone until joined.
class ParallelCheck {
public:
    ParallelCheck(const FilePath& reach, std::uint32_t blocks, std::uint32_t blockSize, unsigned threads)
        : blocks(blocks), perRun(std::clamp<std::uint32_t>(claimBytes / blockSize, 1, runMostBlocks)),
          runs(static_cast<std::uint32_t>((std::uint64_t(blocks) + perRun - 1) / perRun)),
          runDone(std::make_unique<std::atomic<bool>[]>(runs))
    {
        const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(
            {threads ? threads : OrderedBlockPool::machineThreads(), runs, OrderedBlockPool::maxThreads}));
        for (unsigned k = 0; k < wanted; ++k)
            checkers.push_back(std::make_unique<Checker>(reach));
    }
    ~ParallelCheck() { stopWorkers(); }
    ParallelCheck(const ParallelCheck&) = delete;
    ParallelCheck& operator=(const ParallelCheck&) = delete;

    // The damaged blocks in order, each with its failure's text.
    std::vector<std::pair<std::uint32_t, std::string>> run(const std::function<void(std::uint32_t)>& checked)
    {
        try {
            for (std::size_t k = 1; k < checkers.size(); ++k)
                workers.emplace_back([this, &checker = *checkers[k]] { checkRuns(checker, [] {}); });
        } catch (const std::system_error& error) {
            stopWorkers();
            orva::throwLogged(sourcePath, noThreadsSite, "cannot start %u threads: %s",
                              static_cast<unsigned>(checkers.size()), error.what());
        }
        std::uint32_t told = 0;
        const auto tell = [&] {
            for (; told < runs && runDone[told].load(std::memory_order_acquire); ++told)
                if (checked)
                    for (std::uint32_t block = runStart(told); block < runStart(told + 1); ++block)
                        checked(block);
        };
        checkRuns(*checkers.front(), tell);
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
        // A failure other than damage (exhausted memory) ends the check as it would on one thread: the
        // one of the first block it struck.
        const Checker* faulty = nullptr;
        for (const auto& checker : checkers)
            if (checker->fault && (!faulty || checker->faultBlock < faulty->faultBlock))
                faulty = checker.get();
        if (faulty)
            std::rethrow_exception(faulty->fault);
        tell();
        std::vector<std::pair<std::uint32_t, std::string>> damaged;
        for (auto& checker : checkers)
            damaged.insert(damaged.end(), std::make_move_iterator(checker->damaged.begin()),
                           std::make_move_iterator(checker->damaged.end()));
        std::sort(damaged.begin(), damaged.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        return damaged;
    }

private:
    struct Checker {
        explicit Checker(const FilePath& reach) : cursor(reach, OpenRead) {}
        ArchiveCursor cursor;
        ByteBuffer decoded;
        std::vector<std::pair<std::uint32_t, std::string>> damaged;
        std::exception_ptr fault;
        std::uint32_t faultBlock = 0;
    };

    std::uint32_t runStart(std::uint32_t run) const
    {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, std::uint64_t(run) * perRun));
    }

    template <class AfterRun>
    void checkRuns(Checker& checker, AfterRun afterRun)
    {
        for (;;) {
            const std::uint32_t claimed = nextRun.fetch_add(1, std::memory_order_relaxed);
            if (claimed >= runs || stopping.load(std::memory_order_relaxed))
                return;
            const std::uint32_t end = runStart(claimed + 1);
            for (std::uint32_t block = runStart(claimed); block < end; ++block) {
                try {
                    checker.cursor.decodeBlock(block, checker.decoded);
                } catch (const orva::exception& error) {
                    checker.damaged.emplace_back(block, error.what());
                } catch (...) {
                    checker.fault = std::current_exception();
                    checker.faultBlock = block;
                    stopping.store(true, std::memory_order_relaxed);
                    return;
                }
            }
            runDone[claimed].store(true, std::memory_order_release);
            afterRun();
        }
    }

    // Lets every worker end after the run it is checking.
    void stopWorkers()
    {
        stopping.store(true, std::memory_order_relaxed);
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
    }

    const std::uint32_t blocks;
    const std::uint32_t perRun;
    const std::uint32_t runs;
    std::unique_ptr<std::atomic<bool>[]> runDone;
    std::atomic<std::uint32_t> nextRun{0};
    std::atomic<bool> stopping{false};
    std::vector<std::unique_ptr<Checker>> checkers;
    std::vector<std::thread> workers;
};

} // namespace

std::uint32_t blockOfMember(const ArchiveHeader& header, const FileEntry& entry, std::uint32_t offset)
{
    return static_cast<std::uint32_t>((std::uint64_t(entry.dataOffset) + offset) / header.blockSize);
}

std::vector<std::uint32_t> membersInBlock(const OrvaArchive& archive, std::uint32_t block)
{
    const ArchiveHeader& header = archive.archiveHeader();
    const std::vector<FileEntry>& entries = archive.members();
    const std::uint64_t start = std::uint64_t(block) * header.blockSize;
    const std::uint64_t end = start + header.blockSize;
    // Members lie one after another in table order: the first that ends beyond the block's start.
    auto first = std::partition_point(entries.begin(), entries.end(), [&](const FileEntry& entry) {
        return std::uint64_t(entry.dataOffset) + entry.dataSize <= start;
    });
    std::vector<std::uint32_t> result;
    for (auto entry = first; entry != entries.end() && entry->dataOffset < end; ++entry)
        if (entry->dataSize > 0)
            result.push_back(static_cast<std::uint32_t>(entry - entries.begin()));
    return result;
}

std::vector<DamagedBlock> findDamagedBlocks(const FilePath& archive,
                                            const std::function<void(std::uint32_t block)>& checked,
                                            unsigned threads)
{
    const OrvaArchive* loaded = archiveManager.getArchive(archive);
    const ArchiveHeader& header = loaded->archiveHeader();
    std::vector<DamagedBlock> damaged;
    if (header.blockCount == 0)
        return damaged;
    // Any member that a path can name lets a cursor reach every block of the archive.
    const std::vector<FileEntry>& entries = loaded->members();
    const auto named = std::find_if(entries.begin(), entries.end(),
                                    [&](const FileEntry& entry) { return reachable(archive, entry.name); });
    if (named == entries.end())
        orva::throwLogged(sourcePath, unreachableSite, "archive '%ls': no member can be opened by name", archive.c_str());
    const FilePath reach = memberPath(archive, named->name);
    const auto record = [&](std::uint32_t block, std::string failure) {
        DamagedBlock found{block, {}, std::move(failure)};
        for (const std::uint32_t member : membersInBlock(*loaded, block))
            found.members.push_back(entries[member].name);
        damaged.push_back(std::move(found));
    };
    if (threads == 1) {
        ArchiveCursor cursor(reach, OpenRead);
        for (std::uint32_t block = 0; block < header.blockCount; ++block) {
            try {
                cursor.checkBlock(block);
            } catch (const orva::exception& error) {
                record(block, error.what());
            }
            if (checked)
                checked(block);
        }
        return damaged;
    }
    ParallelCheck check(reach, header.blockCount, header.blockSize, threads);
    for (auto& [block, failure] : check.run(checked))
        record(block, std::move(failure));
    return damaged;
}

} // namespace filedriver
