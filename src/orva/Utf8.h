#pragma once
// One character in UTF-8, both ways; shared by the text conversions.

#include <cstddef>

namespace orva {

constexpr char32_t replacementChar = 0xFFFD;

inline bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
// A high surrogate followed by a low one: one character in two UTF-16 units.
inline bool isSurrogatePair(char32_t high, char32_t low)
{
    return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF;
}
// The character of a surrogate pair (isSurrogatePair).
inline char32_t combineSurrogates(char32_t high, char32_t low)
{
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}
// `c` as UTF-16 units: a pair above U+FFFF (up to U+10FFFF), else the one unit it fits in.
template <class Units>
void appendUtf16(char32_t c, Units& units)
{
    if (c >= 0x10000 && c <= 0x10FFFF) {
        units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        units.push_back(static_cast<char16_t>(c));
    }
}

inline std::size_t encodeUtf8(char32_t c, char* out)
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
inline char32_t decodeUtf8(const unsigned char* text, std::size_t length, std::size_t& consumed)
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

} // namespace orva
