// POSIX half of the text conversions: wchar_t is UTF-32 and native text is UTF-8, whatever the locale.
#include "orva/WideText.h"

#include <cstdint>

namespace orva {
namespace {

constexpr char32_t replacementChar = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::size_t encodeUtf8(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c > 0x10FFFF || isSurrogate(c)) {
        out[0] = '?';
        return 1;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Strict UTF-8: overlong forms, surrogates and truncated sequences are malformed (one byte consumed).
char32_t decodeUtf8(const unsigned char* text, std::size_t length, std::size_t& consumed)
{
    consumed = 1;
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return lead;
    std::size_t extra;
    char32_t c;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return replacementChar;
    }
    if (length <= extra)
        return replacementChar;
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((text[i] & 0xC0) != 0x80)
            return replacementChar;
        c = (c << 6) | (text[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || isSurrogate(c))
        return replacementChar;
    consumed = extra + 1;
    return c;
}

} // namespace

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
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t high = text[i];
        if (high >= 0xD800 && high <= 0xDBFF && i + 1 < text.size()) {
            const char16_t low = text[i + 1];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                result.push_back(static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00)));
                ++i;
                continue;
            }
        }
        result.push_back(static_cast<wchar_t>(high));
    }
    return result;
}

} // namespace orva
