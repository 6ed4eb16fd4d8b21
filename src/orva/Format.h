#pragma once
// printf-style formatting into a caller's fixed buffer, used for every exception message and log text.
//
// String conversions are read as the Windows run-time library reads them, on every platform: in a
// narrow format "%s" takes a narrow string and "%ls" a wide one; in a wide format "%s" and "%ls" take a
// wide string and "%hs" a narrow one. Text of the other width passes through the native text
// (WideText.h), so a path outside ASCII comes out whole whatever the C locale is.
//
// Writes at most `capacity` characters and no terminator; a character that does not fit whole is left
// out with everything after it. Returns the number of characters written. "%n" writes nothing.

#include <cstdarg>
#include <cstddef>

namespace orva {

std::size_t formatText(char* out, std::size_t capacity, const char* format, std::va_list args);
std::size_t formatText(wchar_t* out, std::size_t capacity, const wchar_t* format, std::va_list args);

} // namespace orva
