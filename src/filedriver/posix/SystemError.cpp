// POSIX half of the system's reasons: errno through strerror.
#include "filedriver/SystemError.h"

#include <cerrno>
#include <cstring>

namespace filedriver {

std::string lastSystemError()
{
    return std::strerror(errno);
}

} // namespace filedriver
