// POSIX half of the log: local time, and the message box, for which the library has no toolkit here.
#include "orva/Log.h"

#include "orva/WideText.h"

#include <ctime>

namespace orva {

Log::LocalTime Log::localNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

// The box becomes "<caption>: <text>" on standard error; nobody can answer it, so the answer is No.
bool Log::showBox(const wchar_t* caption, const wchar_t* text, bool)
{
    const std::string line = toNative(caption) + ": " + toNative(text);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return false;
}

} // namespace orva
