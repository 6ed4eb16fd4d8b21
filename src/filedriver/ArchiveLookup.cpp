#include "filedriver/ArchiveLookup.h"

#include "filedriver/ArchiveManager.h"
#include "filedriver/FileSystem.h"

namespace filedriver {
namespace {

// The archive file must exist; a directory test of a path ending in a separator asks no more; anything
// else asks the archive for the member.
bool existsInArchiveFile(const FilePath& path, bool directory)
{
    if (!fileExists(archivePart(path)))
        return false;
    if (directory && path.directoryPart() == path)
        return true;
    return archiveManager.existsInArchive(path);
}

} // namespace

bool fileExistsAware(const FilePath& path)
{
    return isArchivePath(path) ? existsInArchiveFile(path, false) : fileExists(path);
}

bool directoryExistsAware(const FilePath& path)
{
    return isArchivePath(path) ? existsInArchiveFile(path, true) : directoryExists(path);
}

bool existsAware(const FilePath& path, bool directory)
{
    return directory ? directoryExistsAware(path) : fileExistsAware(path);
}

} // namespace filedriver
