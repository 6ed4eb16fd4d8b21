#include "filedriver/FileSystem.h"

namespace filedriver {
namespace {

// The whole trailing run goes, or "a//" would be its own parent; a lone separator is a root and stays.
FilePath withoutTrailingSeparators(const FilePath& path)
{
    std::size_t end = path.size();
    while (end > 1 && isSeparator(path[end - 1]))
        --end;
    return FilePath(path.substr(0, end));
}

} // namespace

bool pathExists(const FilePath& path, bool directory)
{
    return directory ? directoryExists(path) : fileExists(path);
}

bool createDirectories(const FilePath& path)
{
    const FilePath level = withoutTrailingSeparators(path);
    if (directoryExists(level))
        return true;
    const FilePath parent = level.directoryPart();
    // Only "." can be its own parent; when it cannot be examined the walk would never end.
    if (withoutTrailingSeparators(parent) == level)
        return false;
    return createDirectories(parent) && createDirectory(level);
}

} // namespace filedriver
