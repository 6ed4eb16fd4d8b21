#include "filedriver/SystemError.h"

#include "filedriver/SystemFailure.h"

namespace filedriver {
namespace {

thread_local std::string noted;

} // namespace

void noteSystemError()
{
    noted = lastSystemError();
}

void forgetSystemError()
{
    noted.clear();
}

orva::ErrorCause noteFailedCall()
{
    const int number = lastSystemErrorNumber();
    noteSystemError();
    return meansNotThere(number) ? orva::ErrorCause(orva::ErrorKind::NotFound) : orva::systemFailure(number);
}

std::string takeSystemError()
{
    std::string reason;
    reason.swap(noted);
    return reason;
}

} // namespace filedriver
