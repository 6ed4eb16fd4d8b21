// Win32 half of the mutex: an unnamed Win32 mutex object.
#include "synchronisation/Mutex.h"

#include "orva/Log.h"

#include <windows.h>

namespace synchronisation {
namespace {
constexpr wchar_t sourcePath[] = L".\\src\\synchronisation\\win32\\Mutex.cpp";
constexpr int createSite = 30;
} // namespace

struct Mutex::Handle {
    HANDLE mutex;
};

Mutex::Mutex() : handle(std::make_unique<Handle>())
{
    handle->mutex = CreateMutexW(nullptr, FALSE, nullptr);
    if (!handle->mutex)
        orva::throwLogged(orva::systemFailure(static_cast<int>(GetLastError())), sourcePath, createSite, "can't create mutex");
}

Mutex::~Mutex()
{
    CloseHandle(handle->mutex);
}

void Mutex::lock()
{
    WaitForSingleObject(handle->mutex, INFINITE);
}

bool Mutex::tryLock()
{
    const DWORD outcome = WaitForSingleObject(handle->mutex, 0);
    return outcome == WAIT_OBJECT_0 || outcome == WAIT_ABANDONED;
}

void Mutex::unlock()
{
    ReleaseMutex(handle->mutex);
}

} // namespace synchronisation
