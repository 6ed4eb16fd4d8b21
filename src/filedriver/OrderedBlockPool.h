#pragma once
// Runs one piece of work per block on a pool of threads and hands the blocks back in the order they
// were submitted, so that a writer or a reader keeps its data in order while blocks are encoded or
// decoded side by side. One owner thread fills, submits, takes and retires jobs; the workers only run
// the work.
//
//   while (more) { if (pool.full()) { use(pool.oldest()); pool.retire(); } fill(pool.freeJob()); pool.submit(); }
//   while (!pool.idle()) { use(pool.oldest()); pool.retire(); }
//
// At most threads × jobsPerThread jobs are between submit and retire. Jobs and their buffers are reused,
// so the pool's memory is that many inputs and outputs whatever the amount of data.
//
// A job belongs to the owner until it is submitted, then to one worker, and to the owner again once
// oldest() has returned it. An exception that the work throws is kept in the job's `failure`.
//
// Lock: `mutex` guards `submitted`, `claimed`, `stopping`, `awaited` and every job's `done`; the work runs
// without it. No lock of the library is taken while it is held.
//
// The constructor throws orva::exception when the system cannot start the threads. The destructor
// lets each worker finish the job it is running and drops the jobs not begun.

#include "filedriver/BlockCompression.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace filedriver {

struct PoolJob {
    std::uint32_t block = 0;
    ByteBuffer input;
    ByteBuffer output;
    std::exception_ptr failure;

private:
    friend class OrderedBlockPool;
    bool done = false;
};

class OrderedBlockPool {
public:
    static constexpr unsigned maxThreads = 256;

    // work(worker, job) runs on the worker thread numbered `worker` (0 to threads - 1) alone, so that
    // state kept per worker needs no lock. `threads` is taken between 1 and maxThreads.
    using Work = std::function<void(unsigned worker, PoolJob& job)>;
    OrderedBlockPool(unsigned threads, unsigned jobsPerThread, Work work);
    ~OrderedBlockPool();
    OrderedBlockPool(const OrderedBlockPool&) = delete;
    OrderedBlockPool& operator=(const OrderedBlockPool&) = delete;

    unsigned threads() const { return static_cast<unsigned>(workers.size()); }
    // Every job is in flight: retire the oldest before filling another.
    bool full() const { return submitted - retired == jobs.size(); }
    // No job is in flight.
    bool idle() const { return submitted == retired; }
    // The job to fill next; only while not full.
    PoolJob& freeJob() { return jobs[submitted % jobs.size()]; }
    void submit();
    // Waits until the oldest job in flight is done; only while not idle.
    PoolJob& oldest();
    // Gives the oldest job back for reuse, its input emptied and its failure cleared.
    void retire();

    // The machine's processors, at least 1.
    static unsigned machineThreads();

private:
    void runWorker(unsigned worker);
    // Ends every worker after the job it is running.
    void stop();

    const Work work;
    std::vector<PoolJob> jobs;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable jobWaiting;
    std::condition_variable jobDone;
    std::uint64_t submitted = 0;
    std::uint64_t claimed = 0;
    std::uint64_t retired = 0; // the owner's alone
    bool stopping = false;
    const PoolJob* awaited = nullptr; // the job the owner waits for, if it waits
};

} // namespace filedriver
