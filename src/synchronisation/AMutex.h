#pragma once
// The library's abstract lock: re-entrant for its owner, every successful lock needing its own unlock.

namespace synchronisation {

class AMutex {
public:
    virtual ~AMutex() {}
    // Waits until the calling thread owns the mutex.
    virtual void lock() = 0;
    // Does not wait; true when the calling thread now owns the mutex (one more level if it did already).
    virtual bool tryLock() = 0;
    // Does not wait; true when another thread holds the mutex. Leaves the ownership as it was.
    virtual bool isLocked() = 0;
    virtual void unlock() = 0;
};

} // namespace synchronisation
