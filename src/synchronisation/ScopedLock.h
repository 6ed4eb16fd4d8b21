#pragma once
// Holds a mutex for the lifetime of a scope, so that every way out, an exception included, unlocks it.

#include "synchronisation/AMutex.h"

namespace synchronisation {

class ScopedLock {
public:
    explicit ScopedLock(AMutex* mutex) : mutex(mutex) { mutex->lock(); }
    ~ScopedLock() { mutex->unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    AMutex* mutex;
};

} // namespace synchronisation
