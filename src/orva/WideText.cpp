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
        if (i + 1 < units.size() && isSurrogatePair(c, units[i + 1]))
            c = combineSurrogates(c, units[++i]);
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
        appendUtf16(decodeUtf8(bytes + i, text.size() - i, consumed), units);
    }
    return fromUtf16(units);
}

} // namespace orva
