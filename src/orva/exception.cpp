#include "orva/exception.h"

#include "orva/Format.h"

#include <cstring>

namespace orva {
namespace {
constexpr char prefix[] = "orvana exception: ";
constexpr std::size_t prefixLength = sizeof prefix - 1;
} // namespace

exception::exception(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    formatMessage(format, args);
    va_end(args);
}

exception::exception(FormatArguments, const char* format, std::va_list args)
{
    formatMessage(format, args);
}

void exception::formatMessage(const char* format, std::va_list args) noexcept
{
    std::memset(message, 0, sizeof message);
    std::memcpy(message, prefix, prefixLength);
    formatText(message + prefixLength, messageSize - 1 - prefixLength, format, args);
}

exception::exception(const exception& other) noexcept : std::exception()
{
    copyText(other.what());
}

exception& exception::operator=(const exception& other) noexcept
{
    if (this != &other)
        copyText(other.what());
    return *this;
}

exception::~exception() = default;

const char* exception::what() const noexcept
{
    return message;
}

void exception::copyText(const char* text) noexcept
{
    const std::size_t length = strnlen(text, messageSize - 1);
    std::memmove(message, text, length);
    message[length] = 0;
}

} // namespace orva
