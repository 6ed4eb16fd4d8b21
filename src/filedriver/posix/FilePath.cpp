// POSIX half of the path functions: stat and mkdir, with UTF-8 file names; '/' is written.
// A backslash separates here too, so paths reach the system normalised.
#include "filedriver/FilePath.h"

#include "orva/WideText.h"

#include <sys/stat.h>

namespace filedriver {

const wchar_t Separators[3] = L"/\\";

bool pathExists(const FilePath& path, bool directory)
{
    struct stat status;
    if (stat(orva::toNative(path.normalised()).c_str(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) == directory;
}

bool createDirectory(const FilePath& path)
{
    return mkdir(orva::toNative(path.normalised()).c_str(), 0777) == 0;
}

} // namespace filedriver
