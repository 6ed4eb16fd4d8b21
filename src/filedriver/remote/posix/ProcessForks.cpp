// POSIX half: pthread_atfork.
#include "filedriver/remote/ProcessForks.h"

#include <pthread.h>

namespace filedriver::remote {

void setForkHandlers(void (*before)(), void (*afterInParent)(), void (*afterInChild)())
{
    pthread_atfork(before, afterInParent, afterInChild);
}

} // namespace filedriver::remote
