// POSIX half of the system's reasons: errno, and its text through strerror.
#include "filedriver/SystemError.h"
#include "filedriver/SystemFailure.h"

#include <cerrno>
#include <cstring>

namespace filedriver {

std::string lastSystemError()
{
    return systemErrorText(errno);
}

std::string systemErrorText(int systemError)
{
    return std::strerror(systemError);
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
