// POSIX half of the text conversions: wchar_t is UTF-32 and native text is UTF-8, whatever the locale.
#include "orva/WideText.h"

#include "orva/Utf8.h"

#include <cstdint>

namespace orva {

std::size_t encodeNativeChar(const wchar_t* text, std::size_t, char (&out)[maxNativeCharBytes],
                             std::size_t& consumed)
{
    consumed = 1;
    return encodeUtf8(static_cast<char32_t>(text[0]), out);
}

std::size_t decodeNativeChar(const char* text, std::size_t length, wchar_t (&out)[2], std::size_t& consumed)
{
    out[0] = static_cast<wchar_t>(decodeUtf8(reinterpret_cast<const unsigned char*>(text), length, consumed));
    return 1;
}

std::u16string toUtf16(std::wstring_view text)
{
    std::u16string result;
    result.reserve(text.size());
    for (const wchar_t w : text)
        appendUtf16(static_cast<char32_t>(w), result);
    return result;
}

std::wstring fromUtf16(std::u16string_view text)
{
    // Written in place: never longer than the units, shorter by one per surrogate pair.
    std::wstring result(text.size(), L'\0');
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t high = text[i];
        if (i + 1 < text.size() && isSurrogatePair(high, text[i + 1])) {
            result[out++] = static_cast<wchar_t>(combineSurrogates(high, text[++i]));
            continue;
        }
        result[out++] = static_cast<wchar_t>(high);
    }
    result.resize(out);
    return result;
}

} // namespace orva
