#include "orva/exception.h"

#include "orva/Format.h"

#include <cstring>

namespace orva {
namespace {
constexpr char prefix[] = "orvana exception: ";
constexpr std::size_t prefixLength = sizeof prefix - 1;
} // namespace

ErrorCause damagedBlock(std::int64_t block) noexcept
{
    ErrorCause cause(ErrorKind::Damaged);
    cause.block = block;
    return cause;
}

ErrorCause systemFailure(int systemError) noexcept
{
    ErrorCause cause(ErrorKind::System);
    cause.systemError = systemError;
    return cause;
}

exception::exception(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    formatMessage(format, args);
    va_end(args);
}

exception::exception(const ErrorCause& cause, const char* format, ...) : cause(cause)
{
    std::va_list args;
    va_start(args, format);
    formatMessage(format, args);
    va_end(args);
}

exception::exception(const ErrorCause& cause, FormatArguments, const char* format, std::va_list args)
    : cause(cause)
{
    formatMessage(format, args);
}

void exception::formatMessage(const char* format, std::va_list args) noexcept
{
    std::memset(message, 0, sizeof message);
    std::memcpy(message, prefix, prefixLength);
    formatText(message + prefixLength, messageSize - 1 - prefixLength, format, args);
}

exception::exception(const exception& other) noexcept : std::exception(), cause(other.cause)
{
    copyText(other.what());
}

exception& exception::operator=(const exception& other) noexcept
{
    if (this != &other) {
        copyText(other.what());
        cause = other.cause;
    }
    return *this;
}

exception::~exception() = default;

const char* exception::what() const noexcept
{
    return message;
}

ErrorKind exception::kind() const noexcept
{
    return cause.kind;
}

std::int64_t exception::block() const noexcept
{
    return cause.kind == ErrorKind::Damaged ? cause.block : -1;
}

int exception::systemError() const noexcept
{
    return cause.kind == ErrorKind::System ? cause.systemError : 0;
}

void exception::copyText(const char* text) noexcept
{
    const std::size_t length = strnlen(text, messageSize - 1);
    std::memmove(message, text, length);
    message[length] = 0;
}

} // namespace orva
