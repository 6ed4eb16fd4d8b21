#include "RunParameters.h"

#include "orva/WideText.h"

#include <algorithm>

namespace launcher {

bool fitsPathBuffer(const std::wstring& path)
{
    return orva::toUtf16(path).size() < runParametersPathUnits;
}

bool setPath(char16_t (&buffer)[runParametersPathUnits], const std::wstring& path)
{
    const std::u16string units = orva::toUtf16(path);
    buffer[0] = 0;
    if (units.size() >= runParametersPathUnits)
        return false;
    std::copy(units.begin(), units.end(), buffer);
    buffer[units.size()] = 0;
    return true;
}

std::wstring pathOf(const char16_t (&buffer)[runParametersPathUnits])
{
    const char16_t* end = std::find(buffer, buffer + runParametersPathUnits, u'\0');
    return orva::fromUtf16(std::u16string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

} // namespace launcher
