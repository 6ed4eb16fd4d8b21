#include "Failure.h"

#include "filedriver/SystemError.h"
#include "orva/exception.h"

namespace mca {

std::string failureText(const orva::exception& error)
{
    // Taken whatever the kind, so that no reason is left for a later failure to borrow; only a failed
    // system call has one to give.
    const std::string reason = filedriver::takeSystemError();
    const bool fromSystemCall = error.kind() == orva::ErrorKind::System || error.kind() == orva::ErrorKind::NotFound;
    return !fromSystemCall || reason.empty() ? error.what() : error.what() + (": " + reason);
}

} // namespace mca
