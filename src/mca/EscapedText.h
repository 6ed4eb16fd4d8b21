#pragma once
// Names as bytes, for messages: a name the system gave need not be UTF-8 on Linux, and a member's name
// may hold control characters that would garble a terminal.

#include <string>
#include <string_view>

namespace mca {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view bytes);
// `bytes` with every byte that is not part of well-formed UTF-8, and every control character, written
// as "\xNN" (lower-case hex digits); everything else as it is.
std::string escaped(std::string_view bytes);
// `text` in the system's narrow text for a message, its control characters written as "\xNN".
std::string shown(std::wstring_view text);

} // namespace mca
