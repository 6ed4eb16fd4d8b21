// POSIX half of the tool's system edges.
#include "Console.h"

#include "EscapedText.h"
#include "orva/WideText.h"

#include <cstdio>
#include <dirent.h>
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

std::vector<std::string> undecodableNames(const filedriver::FilePath& directory)
{
    std::vector<std::string> names;
    DIR* stream = opendir(orva::toNative(directory.normalised()).c_str());
    if (!stream)
        return names;
    while (const dirent* entry = readdir(stream))
        if (!isValidUtf8(entry->d_name))
            names.push_back(entry->d_name);
    closedir(stream);
    return names;
}

} // namespace mca
