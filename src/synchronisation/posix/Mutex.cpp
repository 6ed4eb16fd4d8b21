// POSIX half of the mutex: a recursive pthread mutex, made robust so that a lock whose owner ended is
// obtained, as an abandoned Win32 mutex is.
#include "synchronisation/Mutex.h"

#include "orva/Log.h"

#include <cerrno>
#include <pthread.h>

namespace synchronisation {
namespace {
constexpr wchar_t sourcePath[] = L".\\src\\synchronisation\\posix\\Mutex.cpp";
constexpr int createSite = 30;
} // namespace

struct Mutex::Handle {
    pthread_mutex_t mutex;
};

Mutex::Mutex() : handle(std::make_unique<Handle>())
{
    pthread_mutexattr_t attributes;
    // The pthread calls answer their error number rather than set errno.
    int error = pthread_mutexattr_init(&attributes);
    if (error == 0) {
        error = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        if (error == 0)
            error = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
        if (error == 0)
            error = pthread_mutex_init(&handle->mutex, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    if (error != 0)
        orva::throwLogged(orva::systemFailure(error), sourcePath, createSite, "can't create mutex");
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&handle->mutex);
}

void Mutex::lock()
{
    if (pthread_mutex_lock(&handle->mutex) == EOWNERDEAD)
        pthread_mutex_consistent(&handle->mutex);
}

bool Mutex::tryLock()
{
    const int result = pthread_mutex_trylock(&handle->mutex);
    if (result == EOWNERDEAD)
        pthread_mutex_consistent(&handle->mutex);
    return result == 0 || result == EOWNERDEAD;
}

void Mutex::unlock()
{
    pthread_mutex_unlock(&handle->mutex);
}

} // namespace synchronisation
