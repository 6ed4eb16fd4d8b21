// Win32 half of the path functions: GetFileAttributesW and CreateDirectoryW; '\' is written.
#include "filedriver/FilePath.h"

#include <windows.h>

namespace filedriver {

const wchar_t Separators[3] = L"\\/";

bool pathExists(const FilePath& path, bool directory)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
}

bool createDirectory(const FilePath& path)
{
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

} // namespace filedriver
