#pragma once
// Text conversions at the edges of the system. A wide string holds UTF-16 on Windows and UTF-32 on
// Linux; "native" narrow text is what the system's narrow interfaces take: the ANSI code page on
// Windows, UTF-8 on Linux. UTF-16 is the text of the engine's parameter block and of archives.

#include <cstddef>
#include <string>
#include <string_view>

namespace orva {

// Longest native encoding of one character, in bytes.
constexpr std::size_t maxNativeCharBytes = 8;

// Encodes the first character of `text` (length > 0) into `out`; returns the bytes written (at least
// one: a character the native text cannot hold becomes '?') and sets `consumed` to the wide units read.
std::size_t encodeNativeChar(const wchar_t* text, std::size_t length, char (&out)[maxNativeCharBytes],
                             std::size_t& consumed);

// Decodes the first character of native `text` (length > 0) into `out`; returns the wide units
// written (1 or 2; malformed input becomes U+FFFD) and sets `consumed` to the bytes read.
std::size_t decodeNativeChar(const char* text, std::size_t length, wchar_t (&out)[2], std::size_t& consumed);

std::string toNative(std::wstring_view text);
std::wstring fromNative(std::string_view text);

// Lossless for well-formed text; an unpaired surrogate is carried over as it is.
std::u16string toUtf16(std::wstring_view text);
std::wstring fromUtf16(std::u16string_view text);

// UTF-8 on every platform (command lines, tools); malformed input becomes U+FFFD, a lone surrogate '?'.
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

} // namespace orva
