#include "filedriver/SystemError.h"

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

std::string takeSystemError()
{
    std::string reason;
    reason.swap(noted);
    return reason;
}

} // namespace filedriver
