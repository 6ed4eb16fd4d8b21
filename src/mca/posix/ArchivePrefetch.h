#pragma once
// Asks the library to read an archive's stored bytes ahead of it (ArchiveInfo::willNeed), which reads
// one stored block at a time: around each block first needed (a window, as the kernel's own read-ahead
// reads around a miss) and, for reads that follow each other, well ahead of them. Hints only: nothing
// fails, and the archive's bytes are never read here. Safe from several threads.

#include "filedriver/ArchiveInfo.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace mca {

class ArchivePrefetch {
public:
    explicit ArchivePrefetch(const filedriver::ArchiveInfo& archive);
    ~ArchivePrefetch();
    ArchivePrefetch(const ArchivePrefetch&) = delete;
    ArchivePrefetch& operator=(const ArchivePrefetch&) = delete;

    // Blocks first..last of the data stream are about to be read.
    void touch(std::uint32_t first, std::uint32_t last, bool sequential);

private:
    static constexpr std::uint64_t window = 128u << 10;
    static constexpr std::uint64_t sequentialAhead = 1u << 20;

    const filedriver::ArchiveInfo archive;
    // One mark per window of the file: asked for already.
    std::unique_ptr<std::atomic<bool>[]> asked;
    std::uint64_t windows = 0;
};

} // namespace mca
