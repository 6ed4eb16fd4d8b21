#include "orva/WideText.h"

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

} // namespace orva
