// POSIX half of the tool's system edges.
#include "mca/Console.h"

#include "orva/WideText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool replaceFile(const filedriver::FilePath& from, const filedriver::FilePath& to)
{
    return std::rename(orva::toNative(from.normalised()).c_str(), orva::toNative(to.normalised()).c_str()) == 0;
}

void removeFile(const filedriver::FilePath& path)
{
    unlink(orva::toNative(path.normalised()).c_str());
}

std::string lastSystemError()
{
    return std::strerror(errno);
}

} // namespace mca
