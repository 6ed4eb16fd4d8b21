// Win32 half of the file-system questions: GetFileAttributes(Ex)W, GetFileType, CreateDirectoryW,
// DeleteFileW and a small file read whole.
#include "filedriver/FileSystem.h"

#include <windows.h>

namespace filedriver {

namespace {

// -1 when there is nothing at `path`, else whether it is a directory.
int isDirectory(const FilePath& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return -1;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

} // namespace

bool fileExists(const FilePath& path)
{
    return isDirectory(path) == 0;
}

bool directoryExists(const FilePath& path)
{
    return isDirectory(path) == 1;
}

bool entryExists(const FilePath& path)
{
    // GetFileAttributesW answers for a reparse point itself, not for its target.
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileKind fileKind(const FilePath& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FileKind::directory;
    // Devices and pipes may have no attributes: only an open handle tells what they are.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileKind::missing;
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_DISK ? FileKind::regular : FileKind::stream;
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

bool listDirectory(const FilePath& path, std::vector<DirectoryEntry>& entries)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(FilePath(path.withTrailingSeparator() + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    entries.clear();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({name, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::other
                                 : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::directory
                                                                            : EntryKind::regular});
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

namespace {

// The volume and index of the file at `path`, links followed; false when it cannot be opened.
bool fileIdentity(const FilePath& path, BY_HANDLE_FILE_INFORMATION& information)
{
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    return known;
}

} // namespace

bool sameFile(const FilePath& a, const FilePath& b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second)
           && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber
           && first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool createDirectory(const FilePath& path)
{
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool deleteFile(const FilePath& path)
{
    return DeleteFileW(path.c_str()) != 0;
}

bool readSmallFile(const FilePath& path, std::size_t limit, std::string& bytes)
{
    // A directory does not open without backup semantics; pipes and devices are told by their type.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != 0
              && std::uint64_t(size.QuadPart) <= limit;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD got = 0;
            ok = ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr) != 0;
            done += got;
            if (ok && got == 0)
                bytes.resize(done);
        }
    }
    CloseHandle(file);
    return ok;
}

} // namespace filedriver
