#pragma once
// A process-private, re-entrant operating-system mutex. A mutex whose owner thread ended without
// unlocking is obtained by the next waiter, as an abandoned mutex is. The constructor throws
// orva::exception (through the trace procedure) when the system cannot create the mutex; unlock by a
// thread that does not own it does nothing.

#include "synchronisation/AMutex.h"

#include <memory>

namespace synchronisation {

class Mutex : public AMutex {
public:
    Mutex();
    ~Mutex() override;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() override;
    bool tryLock() override;
    bool isLocked() override;
    void unlock() override;

private:
    struct Handle; // the platform's mutex object
    std::unique_ptr<Handle> handle;
};

} // namespace synchronisation
