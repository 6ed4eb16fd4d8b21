#include "posix/ArchivePrefetch.h"

#include <algorithm>

namespace mca {

ArchivePrefetch::ArchivePrefetch(const filedriver::ArchiveInfo& archive) : archive(archive)
{
    // Blocks lie one after another: the last one ends the part of the file that is ever read.
    windows = archive.blocksEnd() / window + 1;
    asked = std::make_unique<std::atomic<bool>[]>(windows);
}

ArchivePrefetch::~ArchivePrefetch() = default;

void ArchivePrefetch::touch(std::uint32_t first, std::uint32_t last, bool sequential)
{
    if (last >= archive.blockCount())
        return;
    const filedriver::StoredExtent to = archive.storedBlock(last);
    const std::uint64_t start = archive.storedBlock(first).offset;
    const std::uint64_t end = to.offset + to.size + (sequential ? sequentialAhead : 0);
    const std::uint64_t stop = std::min(windows, (end + window - 1) / window);
    // Contiguous windows not asked for yet go in one request.
    for (std::uint64_t w = start / window; w < stop;) {
        if (asked[w].exchange(true)) {
            ++w;
            continue;
        }
        std::uint64_t run = w + 1;
        while (run < stop && !asked[run].exchange(true))
            ++run;
        archive.willNeed(w * window, (run - w) * window);
        w = run;
    }
}

} // namespace mca
