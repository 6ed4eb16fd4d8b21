// Win32 half of the tool's system edges.
#include "Console.h"

#include "orva/WideText.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace mca {

// The ANSI argv would lose every character outside the code page.
std::vector<std::string> utf8Arguments(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && i < count; ++i)
        arguments.push_back(orva::toUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void useBinaryOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
}

bool errorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

NamePlatform hostPlatform()
{
    return NamePlatform::onWindows;
}

std::vector<std::string> undecodableNames(const filedriver::FilePath&)
{
    return {};
}

} // namespace mca
