#include "filedriver/OrderedBlockPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

using filedriver::ByteBuffer;
using filedriver::OrderedBlockPool;
using filedriver::PoolJob;

// Work of uneven length, so that later jobs often finish before earlier ones.
std::uint32_t churn(std::uint32_t block)
{
    std::uint32_t value = block;
    for (std::uint32_t k = 0; k < (block % 7) * 20000; ++k)
        value = value * 1664525u + 1013904223u;
    return value;
}

ByteBuffer expectedOutput(std::uint32_t block)
{
    const std::uint32_t value = churn(block);
    return {static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(value)};
}

TEST(OrderedBlockPoolThreads, HandsJobsBackInSubmissionOrderWithEachWorkersStateItsOwn)
{
    constexpr std::uint32_t jobCount = 300;
    for (unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        std::vector<std::atomic<bool>> busy(threads);
        std::atomic<bool> overlapped{false}, badWorker{false};
        OrderedBlockPool pool(threads, 2, [&](unsigned worker, PoolJob& job) {
            if (worker >= threads || job.input.size() != 1) {
                badWorker = true;
                return;
            }
            if (busy[worker].exchange(true))
                overlapped = true;
            job.output = expectedOutput(job.block);
            job.output[0] = job.input[0];
            busy[worker] = false;
        });
        EXPECT_EQ(pool.threads(), threads);
        std::uint32_t next = 0;
        std::uint32_t inFlight = 0;
        const auto take = [&] {
            PoolJob& job = pool.oldest();
            EXPECT_EQ(job.block, next);
            EXPECT_FALSE(job.failure);
            EXPECT_EQ(job.output, expectedOutput(next)) << next;
            ++next;
            --inFlight;
            pool.retire();
        };
        for (std::uint32_t block = 0; block < jobCount; ++block) {
            if (pool.full()) {
                EXPECT_EQ(inFlight, 2 * threads);
                take();
            }
            PoolJob& job = pool.freeJob();
            EXPECT_TRUE(job.input.empty()); // retired jobs come back emptied
            job.block = block;
            job.input.push_back(static_cast<std::uint8_t>(block));
            pool.submit();
            ++inFlight;
        }
        while (!pool.idle())
            take();
        EXPECT_EQ(next, jobCount);
        EXPECT_FALSE(overlapped);
        EXPECT_FALSE(badWorker);
    }
}

TEST(OrderedBlockPoolThreads, AFailingJobComesBackWithItsExceptionAndTheOthersAreUntouched)
{
    OrderedBlockPool pool(3, 2, [](unsigned, PoolJob& job) {
        if (job.block % 5 == 3)
            throw std::runtime_error("block " + std::to_string(job.block));
        job.output.assign(1, static_cast<std::uint8_t>(job.block));
    });
    std::uint32_t taken = 0;
    for (std::uint32_t block = 0; block < 40 || !pool.idle();) {
        if (block < 40 && !pool.full()) {
            pool.freeJob().block = block++;
            pool.submit();
            continue;
        }
        PoolJob& job = pool.oldest();
        if (job.block % 5 == 3) {
            ASSERT_TRUE(job.failure);
            try {
                std::rethrow_exception(job.failure);
            } catch (const std::runtime_error& error) {
                EXPECT_EQ(std::string(error.what()), "block " + std::to_string(job.block));
            }
        } else {
            EXPECT_FALSE(job.failure) << job.block;
            EXPECT_EQ(job.output, ByteBuffer(1, static_cast<std::uint8_t>(job.block)));
        }
        pool.retire();
        ++taken;
    }
    EXPECT_EQ(taken, 40u);
}

TEST(OrderedBlockPoolThreads, DestroyedWithJobsInFlightEndsWithoutThem)
{
    std::atomic<unsigned> ran{0};
    {
        OrderedBlockPool pool(2, 4, [&](unsigned, PoolJob& job) {
            churn(job.block * 7 + 6);
            ++ran;
        });
        while (!pool.full()) {
            pool.freeJob().block = 0;
            pool.submit();
        }
    }
    // Each worker finishes at most the job it began; the rest are dropped, never run after the pool.
    const unsigned afterwards = ran;
    EXPECT_LE(afterwards, 8u);
    EXPECT_EQ(ran.load(), afterwards);
}

TEST(OrderedBlockPoolThreads, ThreadCountIsKeptWithinItsBounds)
{
    const auto nothing = [](unsigned, PoolJob&) {};
    EXPECT_EQ(OrderedBlockPool(0, 1, nothing).threads(), 1u);
    EXPECT_EQ(OrderedBlockPool(100000, 1, nothing).threads(), OrderedBlockPool::maxThreads);
    EXPECT_GE(OrderedBlockPool::machineThreads(), 1u);
}

} // namespace
