#include "filedriver/OrderedBlockPool.h"

#include "orva/Log.h"

#include <algorithm>
#include <system_error>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\OrderedBlockPool.cpp";
constexpr int noThreadsSite = 30;

} // namespace

OrderedBlockPool::OrderedBlockPool(unsigned threads, unsigned jobsPerThread, Work work)
    : work(std::move(work))
{
    threads = std::clamp(threads, 1u, maxThreads);
    jobs.resize(std::size_t(threads) * std::max(jobsPerThread, 1u));
    try {
        workers.reserve(threads);
        for (unsigned worker = 0; worker < threads; ++worker)
            workers.emplace_back(&OrderedBlockPool::runWorker, this, worker);
    } catch (const std::system_error& error) {
        stop();
        orva::throwLogged(orva::systemFailure(error.code().value()), sourcePath, noThreadsSite, "cannot start %u threads: %s",
                          threads, error.what());
    }
}

OrderedBlockPool::~OrderedBlockPool()
{
    stop();
}

void OrderedBlockPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    jobWaiting.notify_all();
    for (std::thread& worker : workers)
        if (worker.joinable())
            worker.join();
}

void OrderedBlockPool::submit()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs[submitted % jobs.size()].done = false;
        ++submitted;
    }
    jobWaiting.notify_one();
}

PoolJob& OrderedBlockPool::oldest()
{
    PoolJob& job = jobs[retired % jobs.size()];
    std::unique_lock<std::mutex> lock(mutex);
    awaited = &job;
    jobDone.wait(lock, [&] { return job.done; });
    awaited = nullptr;
    return job;
}

void OrderedBlockPool::retire()
{
    PoolJob& job = jobs[retired % jobs.size()];
    job.input.clear();
    job.failure = nullptr;
    ++retired;
}

unsigned OrderedBlockPool::machineThreads()
{
    return std::max(std::thread::hardware_concurrency(), 1u);
}

void OrderedBlockPool::runWorker(unsigned worker)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        jobWaiting.wait(lock, [&] { return stopping || claimed < submitted; });
        if (stopping)
            return;
        PoolJob& job = jobs[claimed++ % jobs.size()];
        lock.unlock();
        try {
            work(worker, job);
        } catch (...) {
            job.failure = std::current_exception();
        }
        lock.lock();
        job.done = true;
        // The owner waits for one particular job: it is woken for that one alone.
        if (&job == awaited)
            jobDone.notify_one();
    }
}

} // namespace filedriver
