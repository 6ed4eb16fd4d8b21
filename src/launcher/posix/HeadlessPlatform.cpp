#include "HeadlessPlatform.h"

#include <cstdlib>
#include <cstring>

namespace launcher {
namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != 0;
}

bool namesPlatform(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

} // namespace

bool chooseHeadlessPlatform(int argc, char* argv[])
{
    if (isSet("QT_QPA_PLATFORM") || namesPlatform(argc, argv) || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return false;
    return setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;
}

} // namespace launcher
