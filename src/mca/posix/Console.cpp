// POSIX half of the tool's system edges.
#include "Console.h"

#include "orva/WideText.h"

#include <cstdio>
#include <unistd.h>

namespace mca {

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void useBinaryOutput() {}

bool errorIsTerminal()
{
    return isatty(fileno(stderr)) == 1;
}

NamePlatform hostPlatform()
{
    return NamePlatform::onLinux;
}

} // namespace mca
