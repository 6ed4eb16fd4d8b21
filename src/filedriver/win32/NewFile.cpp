// Win32 half of the file written beside its target: CreateFileW with CREATE_NEW and MoveFileExW
// writing through; Ctrl+C and a console close are met with SetConsoleCtrlHandler.
#include "filedriver/NewFile.h"

#include <windows.h>

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

} // namespace

NewFile::Created NewFile::createExclusive(std::intptr_t& handle)
{
    // CREATE_NEW never opens what is there, a reparse point included; the handle is not inherited.
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS ? Created::nameTaken
                                                                                              : Created::failed;
    handle = reinterpret_cast<std::intptr_t>(file);
    return Created::yes;
}

void NewFile::removeTemporary()
{
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
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

bool NewFile::moveOverTarget(bool replace)
{
    // Moving replaces the entry itself: a symbolic link or other reparse point is not followed.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(temporary.c_str(), target.c_str(), flags) != 0;
}

// MOVEFILE_WRITE_THROUGH has written the directory entry already.
void NewFile::flushTargetDirectory() {}

} // namespace filedriver
