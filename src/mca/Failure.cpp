#include "Failure.h"

#include "filedriver/SystemError.h"
#include "orva/exception.h"

namespace mca {

std::string failureText(const orva::exception& error)
{
    const std::string reason = filedriver::takeSystemError();
    return reason.empty() ? error.what() : error.what() + (": " + reason);
}

} // namespace mca
