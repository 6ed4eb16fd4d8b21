#pragma once
// The library's one exception type. Its text is "orvana exception: " followed by the formatted message,
// at most 1023 characters in all; copies keep the text. Thrown by value, caught by reference, and
// always through throwLogged (Log.h), which writes the trace line first.

#include <cstdarg>
#include <cstddef>
#include <exception>

namespace orva {

class exception : public std::exception {
public:
    static constexpr std::size_t messageSize = 1024;

    // A printf-style narrow format (Format.h: "%ls" for wide paths).
    explicit exception(const char* format, ...);
    struct FormatArguments {};
    exception(FormatArguments, const char* format, std::va_list args);
    exception(const exception& other) noexcept;
    exception& operator=(const exception& other) noexcept;
    ~exception() override;

    const char* what() const noexcept override;

private:
    void formatMessage(const char* format, std::va_list args) noexcept;
    void copyText(const char* text) noexcept;

    char message[messageSize];
};

} // namespace orva
