#pragma once
// The library's one exception type. Its text is "orvana exception: " followed by the formatted message,
// at most 1023 characters in all. Thrown by value, caught by reference, and always through throwLogged
// (Log.h), which writes the trace line first.
//
// Beside its text a failure carries what a caller branches on: its kind, and for some kinds a detail.
// The text is for people; a program never parses it. Copies keep the text, the kind and the details.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <exception>

namespace orva {

enum class ErrorKind {
    NotFound,    // a file, an archive or a member that is not there
    Damaged,     // an integrity check of the archive failed
    Changed,     // the archive changed on disk since its index was loaded
    Unsupported, // a format the reader refuses
    System,      // a system call failed
    Other,
};

// What a failure is, as its throw site states it. Converts from a bare kind.
struct ErrorCause {
    ErrorCause(ErrorKind kind = ErrorKind::Other) : kind(kind) {}

    ErrorKind kind;
    std::int64_t block = -1; // Damaged: the damaged block, where there is one
    int systemError = 0;     // System: errno, or GetLastError on Windows
};

// A Damaged failure of block `block`.
ErrorCause damagedBlock(std::int64_t block) noexcept;
// A System failure with the system's error number.
ErrorCause systemFailure(int systemError) noexcept;

class exception : public std::exception {
public:
    static constexpr std::size_t messageSize = 1024;

    // A printf-style narrow format (Format.h: "%ls" for wide paths); the kind is Other.
    explicit exception(const char* format, ...);
    exception(const ErrorCause& cause, const char* format, ...);
    struct FormatArguments {};
    exception(const ErrorCause& cause, FormatArguments, const char* format, std::va_list args);
    exception(const exception& other) noexcept;
    exception& operator=(const exception& other) noexcept;
    ~exception() override;

    const char* what() const noexcept override;
    ErrorKind kind() const noexcept;
    // The block of a Damaged failure where there is one, else -1.
    std::int64_t block() const noexcept;
    // The system's error number of a System failure (errno, or GetLastError on Windows), else 0.
    int systemError() const noexcept;

private:
    void formatMessage(const char* format, std::va_list args) noexcept;
    void copyText(const char* text) noexcept;

    char message[messageSize];
    ErrorCause cause;
};

} // namespace orva
