// Reading members allocates nothing once each cursor and cache buffer has grown to its size: a program
// of its own, since it counts every operator new of the process.
#include "filedriver/ArchiveWriter.h"
#include "filedriver/FileDriver.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

namespace {

std::atomic<long> allocations{0};

void* counted(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using namespace filedriver;

constexpr std::uint32_t blockSize = 4096;
constexpr std::uint32_t readSize = 4096;

ByteBuffer sample(std::size_t size)
{
    std::mt19937 random(11);
    ByteBuffer bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : i / 64);
    return bytes;
}

// Reads the member from offset 0 to its end in readSize pieces at `shift`ed offsets; the allocations
// made meanwhile.
long allocationsOfOnePass(FileDriver& file, std::uint32_t shift)
{
    ByteBuffer buffer(readSize);
    const long before = allocations.load();
    for (std::int32_t at = static_cast<std::int32_t>(shift); at < file.size(); at += readSize) {
        file.seek(at, SeekBegin);
        if (file.read(buffer.data(), readSize) == 0)
            return -1;
    }
    return allocations.load() - before;
}

// Reads the member backwards, every read through the cache; the allocations made meanwhile.
long allocationsOfOnePassBackwards(FileDriver& file)
{
    ByteBuffer buffer(readSize);
    const long before = allocations.load();
    for (std::int32_t at = (file.size() - 1) / std::int32_t(readSize) * std::int32_t(readSize); at >= 0; at -= readSize) {
        file.seek(at, SeekBegin);
        if (file.read(buffer.data(), readSize) == 0)
            return -1;
    }
    return allocations.load() - before;
}

TEST(ArchiveReadAllocations, RepeatedReadsAllocateNothingForEveryCodecAndModeAndAFullCache)
{
    testsupport::TempDir tmp;
    // 300 blocks: more than the cache holds, so that a second pass backwards misses on a full cache.
    // (Reads in order decode outside the cache.)
    const ByteBuffer bytes = sample(300 * blockSize - 1000);
    for (const std::uint32_t type : {0u, 1u}) {
        ArchiveWriterOptions options;
        options.blockSize = blockSize;
        options.compressionType = type;
        const std::wstring archive = tmp.wide(L"a" + std::to_wstring(type) + L".mca");
        ASSERT_TRUE(writeArchive(archive, {{L"m", bytes}}, options));
        for (const std::uint32_t mode : {OpenRead, OpenReadBuffered}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", mode " + std::to_string(mode));
            const long beforeOpen = allocations.load();
            FileDriver file(archive + Separators[0] + L"m", mode);
            ASSERT_GT(allocations.load(), beforeOpen) << "opening allocates, so the counter counts";
            ASSERT_GE(allocationsOfOnePassBackwards(file), 0);
            EXPECT_EQ(allocationsOfOnePassBackwards(file), 0);
            ASSERT_GE(allocationsOfOnePass(file, 0), 0);
            EXPECT_EQ(allocationsOfOnePass(file, 0), 0);
            EXPECT_EQ(allocationsOfOnePass(file, 1234), 0) << "unaligned reads across blocks";
        }
    }
}

} // namespace
