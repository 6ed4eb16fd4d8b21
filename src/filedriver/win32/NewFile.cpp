// Win32 half of the file written beside its target: CreateFileW with CREATE_NEW, FlushFileBuffers and
// MoveFileExW writing through; Ctrl+C and a console close are met with SetConsoleCtrlHandler.
#include "filedriver/NewFile.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace filedriver {
namespace {

// The armed file's name, read by the console handler's thread.
wchar_t interruptPath[MAX_PATH * 4];
volatile LONG interruptArmed = 0;

BOOL WINAPI removeArmedFile(DWORD event)
{
    // The file was opened with FILE_SHARE_DELETE: it goes when the ending process closes it.
    if (event != CTRL_LOGOFF_EVENT && InterlockedCompareExchange(&interruptArmed, 0, 0))
        DeleteFileW(interruptPath);
    return FALSE; // the default handler ends the process
}

HANDLE win(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
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

} // namespace

NewFile::Created NewFile::createExclusive()
{
    // CREATE_NEW never opens what is there, a reparse point included; handles are not inherited.
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS ? Created::nameTaken
                                                                                              : Created::failed;
    handle = reinterpret_cast<std::intptr_t>(file);
    return Created::yes;
}

void NewFile::closeHandle()
{
    CloseHandle(win(handle));
    handle = noFile;
}

void NewFile::discard()
{
    const DWORD error = GetLastError();
    if (handle != noFile)
        closeHandle();
    DeleteFileW(temporary.c_str());
    disarm();
    SetLastError(error);
}

void NewFile::removeOnInterrupt()
{
    if (temporary.size() >= sizeof interruptPath / sizeof interruptPath[0])
        return;
    static const bool installed = SetConsoleCtrlHandler(removeArmedFile, TRUE) != 0;
    (void)installed;
    InterlockedExchange(&interruptArmed, 0);
    std::memcpy(interruptPath, temporary.c_str(), (temporary.size() + 1) * sizeof(wchar_t));
    InterlockedExchange(&interruptArmed, 1);
    armed = true;
}

void NewFile::disarm()
{
    if (armed)
        InterlockedExchange(&interruptArmed, 0);
    armed = false;
}

bool NewFile::commit(bool replace)
{
    if (handle == noFile)
        return false;
    if (!FlushFileBuffers(win(handle))) {
        discard();
        return false;
    }
    closeHandle();
    // Moving replaces the entry itself: a symbolic link or other reparse point is not followed.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
        discard();
        return false;
    }
    disarm();
    return true;
}

std::int32_t NewFile::seek(std::int32_t offset, std::int32_t origin)
{
    DWORD method;
    LARGE_INTEGER distance;
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    distance.QuadPart = offset;
    before.QuadPart = 0;
    if (handle == noFile || !moveMethod(origin, method) || !SetFilePointerEx(win(handle), before, &before, FILE_CURRENT)
        || !SetFilePointerEx(win(handle), distance, &after, method))
        return -1;
    if (after.QuadPart > INT32_MAX) {
        SetFilePointerEx(win(handle), before, nullptr, FILE_BEGIN);
        return -1;
    }
    return static_cast<std::int32_t>(after.QuadPart);
}

std::int32_t NewFile::tell()
{
    LARGE_INTEGER zero;
    LARGE_INTEGER position;
    zero.QuadPart = 0;
    if (handle == noFile || !SetFilePointerEx(win(handle), zero, &position, FILE_CURRENT) || position.QuadPart > INT32_MAX)
        return -1;
    return static_cast<std::int32_t>(position.QuadPart);
}

std::int32_t NewFile::size()
{
    LARGE_INTEGER size;
    if (handle == noFile || !GetFileSizeEx(win(handle), &size) || size.QuadPart > INT32_MAX)
        return -1;
    return static_cast<std::int32_t>(size.QuadPart);
}

std::uint32_t NewFile::read(void* buffer, std::uint32_t length)
{
    DWORD count = 0;
    if (handle == noFile || !ReadFile(win(handle), buffer, length, &count, nullptr))
        return 0;
    return count;
}

std::uint32_t NewFile::write(const void* buffer, std::uint32_t length)
{
    DWORD count = 0;
    if (handle == noFile || !WriteFile(win(handle), buffer, length, &count, nullptr))
        return 0;
    return count;
}

} // namespace filedriver
