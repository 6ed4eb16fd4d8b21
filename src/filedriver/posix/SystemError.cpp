// POSIX half of the system's reasons: errno, and its text through strerror.
#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"

#include <cerrno>
#include <cstring>

namespace filedriver {

std::string lastSystemError()
{
    return std::strerror(errno);
}

int lastSystemErrorNumber()
{
    return errno;
}

bool meansNotThere(int systemError)
{
    return systemError == ENOENT || systemError == ENOTDIR;
}

} // namespace filedriver
