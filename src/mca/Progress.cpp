#include "Progress.h"

#include "Console.h"

#include <cstdio>

namespace mca {
namespace {

// Work smaller than this finishes before a progress line would be read.
constexpr std::uint64_t progressThreshold = 4u << 20;
constexpr int lineWidth = 60;

} // namespace

Progress::Progress(const char* verb, std::uint64_t total)
    : verb(verb), total(total), shown(total > progressThreshold && errorIsTerminal())
{
}

Progress::~Progress()
{
    if (shown && printed)
        std::fprintf(stderr, "\r%*s\r", lineWidth, "");
}

void Progress::advance(std::uint64_t amount)
{
    done += amount;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
    if (!shown || (printed && percent == lastPercent))
        return;
    std::fprintf(stderr, "\r%s: %u%% (%llu of %llu MiB)", verb, percent, static_cast<unsigned long long>(done >> 20),
                 static_cast<unsigned long long>(total >> 20));
    std::fflush(stderr);
    printed = true;
    lastPercent = percent;
}

} // namespace mca
