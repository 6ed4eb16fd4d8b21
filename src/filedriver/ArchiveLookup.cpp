#include "filedriver/ArchiveLookup.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/FileSystem.h"
#include "filedriver/remote/RemoteFileCore.h"
#include "orva/Log.h"

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\ArchiveLookup.cpp";
constexpr int remoteCaughtSite = 33;

// Whether `attempt` succeeds; its failure is logged as caught.
template <typename Attempt>
bool succeeds(Attempt attempt)
{
    try {
        attempt();
        return true;
    } catch (orva::exception& ex) {
        orva::logCaught(sourcePath, remoteCaughtSite, ex);
        return false;
    }
}

// A remote file exists when its first request is answered: there is no cheaper question (no HEAD).
bool remoteFileExists(const FilePath& path)
{
    return succeeds([&] { RemoteFileCore file(path, OpenRead); });
}

// A remote archive exists when it loads.
bool remoteArchiveExists(const FilePath& path)
{
    return succeeds([&] { archiveManager.shareArchive(path); });
}

// The archive file must exist; a directory test of a path ending in a separator asks no more; anything
// else asks the archive for the member.
bool existsInArchiveFile(const FilePath& path, bool directory)
{
    const bool remote = isRemotePath(path);
    if (!remote && !fileExists(archivePart(path)))
        return false;
    if (directory && path.directoryPart() == path)
        return remote ? remoteArchiveExists(path) : true;
    return archiveManager.existsInArchive(path);
}

} // namespace

bool fileExistsAware(const FilePath& path)
{
    if (isArchivePath(path))
        return existsInArchiveFile(path, false);
    return isRemotePath(path) ? remoteFileExists(path) : fileExists(path);
}

bool directoryExistsAware(const FilePath& path)
{
    if (isArchivePath(path))
        return existsInArchiveFile(path, true);
    return !isRemotePath(path) && directoryExists(path);
}

bool existsAware(const FilePath& path, bool directory)
{
    return directory ? directoryExistsAware(path) : fileExistsAware(path);
}

} // namespace filedriver
