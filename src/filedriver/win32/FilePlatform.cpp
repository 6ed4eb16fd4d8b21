// Win32 half of the plain file: CreateFileW and friends on one handle.
#include "filedriver/FilePlatform.h"

#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"

#include "orva/Log.h"

#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace filedriver {
namespace {

constexpr wchar_t sourcePath[] = L".\\src\\filedriver\\win32\\FilePlatform.cpp";
constexpr int temporarySite = 56;
constexpr int unknownModeSite = 60;
constexpr int openSite = 63;

constexpr wchar_t temporaryPrefix[] = L"orv";
constexpr DWORD temporaryPathCapacity = MAX_PATH;

struct OpenRow {
    DWORD access;
    DWORD disposition;
};

// The CreateFileW arguments of a mode; false for a value outside the table.
bool openRow(std::uint32_t mode, OpenRow& row)
{
    switch (mode) {
    case OpenRead:
    case OpenReadBuffered: row = {GENERIC_READ, OPEN_EXISTING}; return true;
    case OpenReadWrite: row = {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING}; return true;
    case CreateWrite:
    case CreateWriteBuffered: row = {GENERIC_WRITE, CREATE_ALWAYS}; return true;
    case CreateReadWrite: row = {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS}; return true;
    default: return false;
    }
}

bool moveMethod(std::int32_t origin, DWORD& method)
{
    switch (origin) {
    case SeekCurrent: method = FILE_CURRENT; return true;
    case SeekBegin: method = FILE_BEGIN; return true;
    case SeekEnd: method = FILE_END; return true;
    default: return false;
    }
}

HANDLE openTemporary()
{
    wchar_t directory[temporaryPathCapacity];
    wchar_t name[temporaryPathCapacity];
    if (GetTempPathW(temporaryPathCapacity, directory) == 0 || GetTempFileNameW(directory, temporaryPrefix, 0, name) == 0)
        return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    // GetTempFileNameW made the file; without a handle nothing else would remove it. The failure that
    // the caller reports is CreateFileW's.
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        DeleteFileW(name);
        SetLastError(error);
    }
    return file;
}

// Where readAt moves a handle's one pointer, readAt calls of several threads on it take turns: each
// file takes one of these locks, picked by its address, and nothing else takes them.
std::mutex& positionalReadsOf(const void* file)
{
    static std::mutex turns[64];
    return turns[(reinterpret_cast<std::uintptr_t>(file) / alignof(std::max_align_t)) % 64];
}

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// SetFilePointer with a high part, so that a position beyond 2 GiB - 1 is seen and refused.
std::int32_t movePointer(HANDLE file, std::int32_t offset, DWORD method)
{
    LONG high = offset < 0 ? -1 : 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file, offset, &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    if (high != 0 || low > static_cast<DWORD>(INT32_MAX))
        return -1;
    return static_cast<std::int32_t>(low);
}

} // namespace

FilePlatform::FilePlatform(const FilePath& path, std::uint32_t mode) : AFileCore(mode)
{
    forgetSystemError();
    HANDLE file;
    if (mode == Temporary) {
        file = openTemporary();
        if (file == INVALID_HANDLE_VALUE) {
            orva::throwLogged(noteFailedCall(), sourcePath, temporarySite, "can't create temporary file");
        }
    } else {
        OpenRow row;
        if (!openRow(mode, row))
            orva::throwLogged(orva::ErrorKind::Other, sourcePath, unknownModeSite, "unknown file opening mode");
        SECURITY_ATTRIBUTES inheritable;
        inheritable.nLength = sizeof inheritable;
        inheritable.lpSecurityDescriptor = nullptr;
        inheritable.bInheritHandle = TRUE;
        file = CreateFileW(path.c_str(), row.access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           row.disposition, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            orva::throwLogged(noteFailedCall(), sourcePath, openSite, "can't open file '%ls'", path.c_str());
        }
    }
    handle = reinterpret_cast<std::intptr_t>(file);
}

FilePlatform::FilePlatform(std::intptr_t systemHandle, std::uint32_t mode) : AFileCore(mode), handle(systemHandle) {}

std::unique_ptr<FilePlatform> FilePlatform::standardInput()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE copy;
    if (input == nullptr || input == INVALID_HANDLE_VALUE
        || !DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return std::make_unique<FilePlatform>(reinterpret_cast<std::intptr_t>(copy), OpenRead);
}

bool FilePlatform::flushToDisk()
{
    return FlushFileBuffers(handleOf(handle)) != 0;
}

FilePlatform::~FilePlatform()
{
    if (handle != noFile)
        CloseHandle(handleOf(handle));
}

void FilePlatform::willNeed(std::uint64_t, std::uint64_t) {}

std::int32_t FilePlatform::seek(std::int32_t offset, std::int32_t origin)
{
    DWORD method;
    if (!moveMethod(origin, method))
        return -1;
    if (method == FILE_BEGIN)
        return movePointer(handleOf(handle), offset, method);
    // Only a relative move can land beyond 2 GiB - 1; then the old position is put back.
    const std::int32_t before = tell();
    const std::int32_t after = movePointer(handleOf(handle), offset, method);
    if (after < 0 && before >= 0)
        movePointer(handleOf(handle), before, FILE_BEGIN);
    return after;
}

std::int32_t FilePlatform::tell()
{
    return movePointer(handleOf(handle), 0, FILE_CURRENT);
}

std::int32_t FilePlatform::size()
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handleOf(handle), &high);
    if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low > static_cast<DWORD>(INT32_MAX))
        return -1;
    return static_cast<std::int32_t>(low);
}

std::uint32_t FilePlatform::read(void* buffer, std::uint32_t length)
{
    DWORD count = 0;
    return ReadFile(handleOf(handle), buffer, length, &count, nullptr) ? count : 0;
}

std::uint32_t FilePlatform::write(const void* buffer, std::uint32_t length)
{
    // As on POSIX: what a short write left is asked for again, so that a short count ends at the call
    // that failed and its last error.
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < length) {
        DWORD count = 0;
        if (!WriteFile(handleOf(handle), bytes + done, length - done, &count, nullptr) || count == 0)
            break;
        done += count;
    }
    return done;
}

const std::uint8_t* FilePlatform::fetch(std::uint32_t length)
{
    std::memset(scratch, 0, sizeof scratch);
    read(scratch, length < scratchSize ? length : scratchSize);
    return scratch;
}

std::uint32_t FilePlatform::readAt(std::int64_t offset, void* buffer, std::uint32_t length)
{
    // A read given its offset (OVERLAPPED) costs a round trip to the wineserver under Wine; a move of
    // the pointer and a plain read cost none. The pointer is shared, so positional reads take turns,
    // and it is put back for a caller that mixes them with ordinary reads.
    std::lock_guard<std::mutex> turn(positionalReadsOf(this));
    const HANDLE file = handleOf(handle);
    LARGE_INTEGER before{};
    LARGE_INTEGER target{};
    target.QuadPart = offset;
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &before, FILE_CURRENT) || !SetFilePointerEx(file, target, nullptr, FILE_BEGIN))
        return 0;
    DWORD count = 0;
    const BOOL read = ReadFile(file, buffer, length, &count, nullptr);
    SetFilePointerEx(file, before, nullptr, FILE_BEGIN);
    return read ? count : 0;
}

void FilePlatform::put(const void* buffer, std::uint32_t length)
{
    write(buffer, length);
}

} // namespace filedriver
