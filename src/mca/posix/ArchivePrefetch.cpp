#include "mca/posix/ArchivePrefetch.h"

#include "orva/WideText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace mca {

ArchivePrefetch::ArchivePrefetch(const filedriver::FilePath& archivePath, const filedriver::OrvaArchive& archive)
    : file(open(orva::toNative(archivePath).c_str(), O_RDONLY | O_CLOEXEC)), blocks(archive.blocks()),
      blocksOffset(archive.archiveHeader().blocksOffset)
{
    struct stat attributes;
    if (file >= 0 && fstat(file, &attributes) == 0) {
        windows = static_cast<std::uint64_t>(attributes.st_size) / window + 1;
        asked = std::make_unique<std::atomic<bool>[]>(windows);
    }
}

ArchivePrefetch::~ArchivePrefetch()
{
    if (file >= 0)
        close(file);
}

void ArchivePrefetch::touch(std::uint32_t first, std::uint32_t last, bool sequential)
{
    if (!asked || last >= blocks.size())
        return;
    const std::uint64_t start = blocksOffset + blocks[first].storedOffset;
    const std::uint64_t end = blocksOffset + blocks[last].storedOffset + blocks[last].storedSize + (sequential ? sequentialAhead : 0);
    const std::uint64_t to = std::min(windows, (end + window - 1) / window);
    // Contiguous windows not asked for yet go in one request.
    for (std::uint64_t w = start / window; w < to;) {
        if (asked[w].exchange(true)) {
            ++w;
            continue;
        }
        std::uint64_t run = w + 1;
        while (run < to && !asked[run].exchange(true))
            ++run;
        posix_fadvise(file, static_cast<off_t>(w * window), static_cast<off_t>((run - w) * window), POSIX_FADV_WILLNEED);
        w = run;
    }
}

} // namespace mca
