#include "filedriver/ArchiveVerify.h"

#include "filedriver/BlockReader.h"
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
constexpr int noThreadsSite = 71;

// Blocks are claimed in runs of about this many bytes (at most runMostBlocks blocks): few enough
// that the threads end together, enough that claiming costs nothing beside the decoding.
constexpr std::uint32_t claimBytes = 256u << 10;
constexpr std::uint32_t runMostBlocks = 16;

// Checks an archive's blocks on several threads, the caller's among them. Threads claim runs of
// blocks from one counter and decode each into a buffer of their own, past the block cache: a
// verify needs no bytes handed on in order, so nobody waits for anybody until the end. Progress is
// told in block order on the caller's thread as the runs before it are done.
//
// Per thread: a block reader (its stored-block buffer) and one decoded block.
// Shared: `nextRun` and `runDone` are atomic; each Checker is its thread's alone until joined.
class ParallelCheck {
public:
    ParallelCheck(const std::shared_ptr<OrvaArchive>& archive, std::uint32_t blocks, std::uint32_t blockSize,
                  unsigned threads)
        : blocks(blocks), perRun(std::clamp<std::uint32_t>(claimBytes / blockSize, 1, runMostBlocks)),
          runs(static_cast<std::uint32_t>((std::uint64_t(blocks) + perRun - 1) / perRun)),
          runDone(std::make_unique<std::atomic<bool>[]>(runs))
    {
        const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>(
            {threads ? threads : OrderedBlockPool::machineThreads(), runs, OrderedBlockPool::maxThreads}));
        for (unsigned k = 0; k < wanted; ++k)
            checkers.push_back(std::make_unique<Checker>(archive));
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
            orva::throwLogged(orva::systemFailure(error.code().value()), sourcePath, noThreadsSite,
                              "cannot start %u threads: %s",
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
        // A failure other than damage (exhausted memory, the file changed or unreadable) ends the check as
        // it would on one thread: the one of the first block it struck.
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
        explicit Checker(const std::shared_ptr<OrvaArchive>& archive) : reader(archive) {}
        BlockReader reader;
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
                    checker.reader.decode(block, checker.decoded);
                } catch (const orva::exception& error) {
                    if (error.kind() != orva::ErrorKind::Damaged)
                        return stopAt(checker, block);
                    checker.damaged.emplace_back(block, error.what());
                } catch (...) {
                    return stopAt(checker, block);
                }
            }
            runDone[claimed].store(true, std::memory_order_release);
            afterRun();
        }
    }

    // Called while the failure of `block` is handled: it ends the check for every thread.
    void stopAt(Checker& checker, std::uint32_t block)
    {
        checker.fault = std::current_exception();
        checker.faultBlock = block;
        stopping.store(true, std::memory_order_relaxed);
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

std::vector<std::uint32_t> membersInBlock(const OrvaArchive& archive, std::uint32_t block)
{
    const std::vector<FileEntry>& entries = archive.members();
    const std::uint64_t start = archive.blocks().startOf(block);
    const std::uint64_t end = start + archive.blocks().blockSize();
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

std::vector<DamagedBlock> findDamagedBlocks(const std::shared_ptr<OrvaArchive>& archive,
                                            const std::function<void(std::uint32_t block)>& checked,
                                            unsigned threads)
{
    const ArchiveBlocks& blocks = archive->blocks();
    std::vector<DamagedBlock> damaged;
    if (blocks.count() == 0)
        return damaged;
    const std::vector<FileEntry>& entries = archive->members();
    const auto record = [&](std::uint32_t block, std::string failure) {
        DamagedBlock found{block, {}, std::move(failure)};
        for (const std::uint32_t member : membersInBlock(*archive, block))
            found.members.push_back(entries[member].name);
        damaged.push_back(std::move(found));
    };
    if (threads == 1) {
        BlockReader reader(archive);
        for (std::uint32_t block = 0; block < blocks.count(); ++block) {
            try {
                reader.check(block);
            } catch (const orva::exception& error) {
                if (error.kind() != orva::ErrorKind::Damaged)
                    throw;
                record(block, error.what());
            }
            if (checked)
                checked(block);
        }
        return damaged;
    }
    ParallelCheck check(archive, blocks.count(), blocks.blockSize(), threads);
    for (auto& [block, failure] : check.run(checked))
        record(block, std::move(failure));
    return damaged;
}

} // namespace filedriver
