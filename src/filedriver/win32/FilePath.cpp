// Win32 half of the path functions: GetFileAttributes(Ex)W, CreateDirectoryW and DeleteFileW; '\' is written.
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

bool fileStamp(const FilePath& path, FileStamp& stamp)
{
    // No file index without opening the file: size and last write time tell versions apart.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    stamp.size = std::uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.written = static_cast<std::int64_t>(std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32
                                              | data.ftLastWriteTime.dwLowDateTime);
    stamp.device = 0;
    stamp.identity = 0;
    return true;
}

bool createDirectory(const FilePath& path)
{
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool deleteFile(const FilePath& path)
{
    return DeleteFileW(path.c_str()) != 0;
}

} // namespace filedriver
