#pragma once
// The process-wide log and the library's throw and catch procedures.
//
// A line is: tag, local date "yyyy/mm/dd", local time "hh:mm:ss", the text; each is written with one
// call, so that lines of several threads never mix, and flushed at once.
// Texts are wide printf-style formats (Format.h); a text of 1019 characters or more is cut at 1019
// (1018 where a UTF-16 surrogate pair would be split) and then marked "...", and always ends in exactly
// one "\n". On disk the text is native (Windows: the ANSI code page;
// Linux: UTF-8), written as bytes so that the stream stays usable for narrow output too.

#include "orva/exception.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace orva {

class Log {
public:
    static constexpr std::size_t textCapacity = 1024;
    static constexpr std::size_t maxTextLength = 1019;

    // Takes `file` over: it is closed at destruction unless it is null or the standard error stream.
    explicit Log(std::FILE* file);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // False, and nothing written, when `file` is null.
    bool writeLine(const wchar_t* tag, const wchar_t* format, std::va_list args);
    // A modal box; a Yes to a yes/no question ends the process with exit code 0.
    void showMessage(const wchar_t* caption, const wchar_t* format, std::va_list args, bool askYesNo);
    // An "ERR" line, and with `showBox` the same text as a yes/no question.
    void error(bool showBox, const wchar_t* format, ...);

    std::FILE* file;

private:
    struct LocalTime {
        int year, month, day, hour, minute, second;
    };

    // Formats into `text` (textCapacity wide characters, terminated); returns the length.
    static std::size_t prepareText(wchar_t* text, const wchar_t* format, std::va_list args);
    // `length` wide characters as native bytes into `out` (room for maxNativeCharBytes each); the bytes used.
    static std::size_t encodeNative(const wchar_t* text, std::size_t length, char* out);

    // Platform half.
    static LocalTime localNow();
    // True when the user answered Yes.
    static bool showBox(const wchar_t* caption, const wchar_t* text, bool askYesNo);
};

// The process's log, on the standard error stream: the last of the process-wide objects to be built
// and the first to be finished (ProcessObjects.h); afterwards its file is null.
extern Log errorLog;

// The throw procedure: writes "Exception thrown: <sourcePath>(<site>)" to errorLog, then throws
// orva::exception of `cause` with the narrow printf-style message. `sourcePath` names the throwing
// source as ".\src\<folder>\<file>.cpp"; `site` numbers the throw site within it.
[[noreturn]] void throwLogged(const ErrorCause& cause, const wchar_t* sourcePath, int site, const char* format, ...);

// The catch procedure, where a library failure is absorbed: writes
// "Exception orva::exception& ex caught: <sourcePath>(<site>) message:'<what>'" to errorLog.
void logCaught(const wchar_t* sourcePath, int site, const exception& caught);

} // namespace orva
