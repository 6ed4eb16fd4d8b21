#include "synchronisation/Mutex.h"

namespace synchronisation {

bool Mutex::isLocked()
{
    if (!tryLock())
        return true;
    unlock();
    return false;
}

} // namespace synchronisation
