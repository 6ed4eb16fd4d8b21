#include "filedriver/ArchiveSource.h"

#include "filedriver/LocalArchiveSource.h"
#include "filedriver/RemoteArchiveSource.h"

namespace filedriver {

// The version already loaded tells neither source anything: a local file's stamp is taken afresh at
// every open, and a remote file's validator at its first request; the archive compares them.
std::unique_ptr<ArchiveSource> openArchiveSource(const FilePath& path, const std::string&)
{
    if (isRemotePath(path))
        return std::make_unique<RemoteArchiveSource>(path);
    return std::make_unique<LocalArchiveSource>(path);
}

} // namespace filedriver
