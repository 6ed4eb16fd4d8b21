#include "EscapedText.h"

#include "orva/WideText.h"

#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace mca {
namespace {

// The length of the well-formed UTF-8 character at the start of `bytes`; 0 when none starts there.
std::size_t characterLength(std::string_view bytes)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                                 ? 4
                                                                                              : 0;
    if (length == 0 || bytes.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    const std::uint8_t second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90)
        || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

template <class Unit>
bool isControl(Unit c)
{
    const auto code = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Unit>>(c));
    return code < 0x20 || code == 0x7F;
}

std::string hexEscape(std::uint32_t code)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(code & 0xFF));
    return hex;
}

} // namespace

bool isValidUtf8(std::string_view bytes)
{
    for (std::size_t at = 0, length; at < bytes.size(); at += length)
        if ((length = characterLength(bytes.substr(at))) == 0)
            return false;
    return true;
}

std::string escaped(std::string_view bytes)
{
    std::string shown;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = characterLength(bytes.substr(at));
        if (length == 0 || isControl(bytes[at])) {
            shown += hexEscape(static_cast<std::uint8_t>(bytes[at]));
            ++at;
        } else {
            shown.append(bytes.substr(at, length));
            at += length;
        }
    }
    return shown;
}

std::string shown(std::wstring_view text)
{
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t next = at;
        while (next < text.size() && !isControl(text[next]))
            ++next;
        result += orva::toNative(text.substr(at, next - at));
        if (next < text.size())
            result += hexEscape(static_cast<std::uint32_t>(text[next++]));
        at = next;
    }
    return result;
}

} // namespace mca
