#include "orva/WideText.h"

#include "orva/Utf8.h"

namespace orva {

std::string toNative(std::wstring_view text)
{
    std::string result;
    result.reserve(text.size());
    char encoded[maxNativeCharBytes];
    for (std::size_t at = 0; at < text.size();) {
        std::size_t consumed = 0;
        const std::size_t bytes = encodeNativeChar(text.data() + at, text.size() - at, encoded, consumed);
        result.append(encoded, bytes);
        at += consumed;
    }
    return result;
}

std::wstring fromNative(std::string_view text)
{
    std::wstring result;
    result.reserve(text.size());
    wchar_t decoded[2];
    for (std::size_t at = 0; at < text.size();) {
        std::size_t consumed = 0;
        const std::size_t units = decodeNativeChar(text.data() + at, text.size() - at, decoded, consumed);
        result.append(decoded, units);
        at += consumed;
    }
    return result;
}

// Code points of UTF-16 text, a lone surrogate as '?'.
template <class Visit>
void forEachCodePoint(const std::u16string& units, Visit visit)
{
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (isSurrogate(c))
            c = '?';
        visit(c);
    }
}

std::string toUtf8(std::wstring_view text)
{
    std::string result;
    result.reserve(text.size());
    char encoded[4];
    forEachCodePoint(toUtf16(text), [&](char32_t c) { result.append(encoded, encodeUtf8(c, encoded)); });
    return result;
}

std::wstring fromUtf8(std::string_view text)
{
    std::u16string units;
    units.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0, consumed = 0; i < text.size(); i += consumed) {
        const char32_t c = decodeUtf8(bytes + i, text.size() - i, consumed);
        if (c >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return fromUtf16(units);
}

} // namespace orva
