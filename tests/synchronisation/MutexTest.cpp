#include "synchronisation/Mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using synchronisation::Mutex;
using namespace std::chrono_literals;

template <class Future>
void waitBounded(Future& future)
{
    if (future.wait_for(10s) != std::future_status::ready) {
        // A stuck thread cannot be joined: end the program rather than hang.
        std::fputs("a mutex call did not return\n", stderr);
        std::abort();
    }
}

// Runs `call` on a new thread, which ends as soon as the call returns.
template <class Call>
auto onOtherThread(Call call)
{
    std::packaged_task<decltype(call())()> task(std::move(call));
    auto result = task.get_future();
    std::thread thread(std::move(task));
    waitBounded(result);
    thread.join();
    return result.get();
}

bool tryLockElsewhere(Mutex& mutex)
{
    return onOtherThread([&] { return mutex.tryLock() ? (mutex.unlock(), true) : false; });
}

bool isLockedElsewhere(Mutex& mutex)
{
    return onOtherThread([&] { return mutex.isLocked(); });
}

// Locks `times` over on a thread that then ends without unlocking.
void abandon(Mutex& mutex, int times)
{
    onOtherThread([&] {
        for (int i = 0; i < times; ++i)
            mutex.lock();
        return 0;
    });
}

TEST(Mutex, FreeAfterUnlockAndIsLockedLeavesItFree)
{
    Mutex mutex;
    mutex.lock();
    mutex.unlock();
    EXPECT_FALSE(isLockedElsewhere(mutex));
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(tryLockElsewhere(mutex));
}

TEST(Mutex, OthersAreAnsweredAtOnceWhileItIsHeld)
{
    Mutex mutex;
    std::promise<void> locked, release, obtained;
    std::thread holder([&] {
        mutex.lock();
        locked.set_value();
        release.get_future().wait_for(10s);
        mutex.unlock();
    });
    locked.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.tryLock());
    EXPECT_TRUE(mutex.isLocked());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    std::thread waiter([&] {
        mutex.lock();
        mutex.unlock();
        obtained.set_value();
    });
    auto waited = obtained.get_future();
    EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
    release.set_value();
    waitBounded(waited);
    holder.join();
    waiter.join();
}

TEST(Mutex, OwnerRelocksAndNeedsAnUnlockPerLock)
{
    Mutex mutex;
    mutex.lock();
    EXPECT_TRUE(mutex.tryLock());
    EXPECT_FALSE(mutex.isLocked()) << "the owner is not locked out";
    mutex.unlock();
    EXPECT_TRUE(isLockedElsewhere(mutex));
    onOtherThread([&] { return mutex.unlock(), 0; });
    EXPECT_FALSE(tryLockElsewhere(mutex)) << "a non-owner's unlock released it";
    mutex.unlock();
    EXPECT_TRUE(tryLockElsewhere(mutex));
}

// The owner-died case: the thread ends holding the mutex, once or twice over.
TEST(Mutex, MutexOfAnEndedOwnerGoesToTheNextLocker)
{
    for (int depth : {1, 2}) {
        SCOPED_TRACE(depth);
        Mutex mutex;
        abandon(mutex, depth);
        EXPECT_TRUE(mutex.tryLock());
        EXPECT_TRUE(isLockedElsewhere(mutex));
        mutex.unlock();
        EXPECT_TRUE(tryLockElsewhere(mutex)) << "one unlock frees what one tryLock obtained";
    }
    Mutex mutex;
    abandon(mutex, 1);
    abandon(mutex, 1);
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(tryLockElsewhere(mutex));
}

// The standard guards are how the library takes it.
TEST(Mutex, StandardGuardsExcludeEachOtherAndReleaseOnException)
{
    Mutex mutex;
    long counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 4000; ++i) {
                std::lock_guard<Mutex> lock(mutex);
                const long seen = counter;
                counter = seen + 1;
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(counter, 16000);

    try {
        std::lock_guard<Mutex> lock(mutex);
        EXPECT_TRUE(isLockedElsewhere(mutex));
        throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(tryLockElsewhere(mutex));
}

} // namespace
