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
    for (const wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            result.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(c));
        }
    }
    return result;
}

std::wstring fromUtf16(std::u16string_view text)
{
    // Written in place: never longer than the units, shorter by one per surrogate pair.
    std::wstring result(text.size(), L'\0');
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t high = text[i];
        if (high >= 0xD800 && high <= 0xDBFF && i + 1 < text.size()) {
            const char16_t low = text[i + 1];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                result[out++] = static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        result[out++] = static_cast<wchar_t>(high);
    }
    result.resize(out);
    return result;
}

} // namespace orva
