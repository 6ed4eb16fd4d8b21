#include "filedriver/LocalArchiveSource.h"

#include "filedriver/FileSystem.h"

#include <algorithm>
#include <limits>

namespace filedriver {

LocalArchiveSource::LocalArchiveSource(const FilePath& path)
{
    FileStamp before;
    FileStamp after;
    const bool stampedBefore = fileStamp(path, before);
    file = std::make_unique<FilePlatform>(path, OpenRead);
    length = static_cast<std::uint64_t>(std::max(file->size(), 0));
    if (stampedBefore && fileStamp(path, after) && after == before)
        stamp = std::to_string(before.size) + ':' + std::to_string(before.written) + ':' + std::to_string(before.device)
                + ':' + std::to_string(before.identity);
}

std::uint32_t LocalArchiveSource::readAt(std::uint64_t offset, void* buffer, std::uint32_t length)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return 0;
    return file->readAt(static_cast<std::int64_t>(offset), buffer, length);
}

void LocalArchiveSource::willNeed(std::uint64_t offset, std::uint64_t length)
{
    file->willNeed(offset, length);
}

} // namespace filedriver
