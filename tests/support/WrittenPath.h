#pragma once
// Expected paths in tables write '|' for the separator that the platform writes, so that one table
// serves both platforms.

#include "filedriver/FilePath.h"

#include <string>

namespace testsupport {

inline std::wstring written(const wchar_t* text)
{
    std::wstring result(text);
    for (wchar_t& c : result)
        if (c == L'|')
            c = filedriver::Separators[0];
    return result;
}

} // namespace testsupport
