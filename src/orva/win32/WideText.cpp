// Win32 half of the text conversions: wchar_t is UTF-16 and native text is the ANSI code page.
#include "orva/WideText.h"

#include <windows.h>

namespace orva {

std::size_t encodeNativeChar(const wchar_t* text, std::size_t length, char (&out)[maxNativeCharBytes],
                             std::size_t& consumed)
{
    const bool pair = length > 1 && IS_HIGH_SURROGATE(text[0]) && IS_LOW_SURROGATE(text[1]);
    consumed = pair ? 2 : 1;
    // A pair the code page lacks would otherwise come out as two '?'. UTF-7 and UTF-8 refuse the flag.
    BOOL usedDefault = FALSE;
    const UINT codePage = GetACP();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(consumed), out,
                                          static_cast<int>(maxNativeCharBytes), nullptr,
                                          codePage == CP_UTF7 || codePage == CP_UTF8 ? nullptr : &usedDefault);
    if (bytes <= 0 || usedDefault) {
        out[0] = '?';
        return 1;
    }
    return static_cast<std::size_t>(bytes);
}

std::size_t decodeNativeChar(const char* text, std::size_t length, wchar_t (&out)[2], std::size_t& consumed)
{
    consumed = (length > 1 && IsDBCSLeadByte(static_cast<BYTE>(text[0]))) ? 2 : 1;
    const int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(consumed), out, 2);
    if (units <= 0) {
        consumed = 1;
        out[0] = 0xFFFD;
        return 1;
    }
    return static_cast<std::size_t>(units);
}

std::u16string toUtf16(std::wstring_view text)
{
    return std::u16string(text.begin(), text.end());
}

std::wstring fromUtf16(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

} // namespace orva
