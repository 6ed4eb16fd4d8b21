#include "orva/Log.h"

#include "orva/Format.h"
#include "orva/ProcessObjects.h"
#include "orva/Utf8.h"
#include "orva/WideText.h"

#include <cstdlib>
#include <cwchar>

namespace orva {
namespace {

constexpr wchar_t errorTag[] = L"ERR";
constexpr wchar_t errorCaption[] = L"Error";
constexpr wchar_t linePrefix[] = L"%s %04d/%02d/%02d %02d:%02d:%02d ";
constexpr wchar_t cutMark[] = L"...";
constexpr wchar_t exceptionThrownLine[] = L"Exception thrown: %ls(%d)\n";
constexpr wchar_t exceptionCaughtLine[] = L"Exception orva::exception& ex caught: %ls(%d) message:'%hs'\n";

std::size_t formatInto(wchar_t* out, std::size_t capacity, const wchar_t* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const std::size_t length = formatText(out, capacity, format, args);
    va_end(args);
    return length;
}

// Where a text of at least `limit` units is cut: at `limit`, or one unit before it where a UTF-16
// surrogate pair would be split.
std::size_t cutPoint(const wchar_t* text, std::size_t limit)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (isSurrogatePair(text[limit - 1], text[limit]))
            return limit - 1;
    }
    return limit;
}

} // namespace

Log errorLog ORVA_PROCESS_OBJECT(errorLogStart)(stderr);

Log::Log(std::FILE* file) : file(file)
{
    if (this == &errorLog)
        noteProcessObject(ProcessObject::errorLog, true);
}

Log::~Log()
{
    if (this == &errorLog)
        noteProcessObject(ProcessObject::errorLog, false);
    if (file && file != stderr)
        std::fclose(file);
    // Static objects finished after the log may still report; they find it null, not dangling.
    file = nullptr;
}

std::size_t Log::prepareText(wchar_t* text, const wchar_t* format, std::va_list args)
{
    // Formatted beyond the limit, so that a cut shows even where the character at the limit would not
    // have fitted whole.
    std::size_t length = formatText(text, textCapacity - 1, format, args);
    text[length] = 0;
    if (length >= maxTextLength) {
        length = cutPoint(text, maxTextLength);
        std::wcscpy(text + length, cutMark);
        length += 3;
    }
    if (length == 0 || text[length - 1] != L'\n') {
        text[length++] = L'\n';
        text[length] = 0;
    }
    return length;
}

bool Log::writeLine(const wchar_t* tag, const wchar_t* format, std::va_list args)
{
    wchar_t text[textCapacity];
    const std::size_t length = prepareText(text, format, args);
    if (!file)
        return false;
    const LocalTime now = localNow();
    wchar_t prefix[textCapacity];
    const std::size_t prefixLength = formatInto(prefix, textCapacity, linePrefix, tag, now.year, now.month,
                                                now.day, now.hour, now.minute, now.second);
    // One write for the whole line: the stream takes each call whole, so lines of several threads
    // never mix.
    char line[2 * textCapacity * maxNativeCharBytes];
    std::size_t used = encodeNative(prefix, prefixLength, line);
    used += encodeNative(text, length, line + used);
    std::fwrite(line, 1, used, file);
    std::fflush(file);
    return true;
}

std::size_t Log::encodeNative(const wchar_t* text, std::size_t length, char* out)
{
    std::size_t used = 0;
    for (std::size_t at = 0; at < length;) {
        char encoded[maxNativeCharBytes];
        std::size_t consumed = 0;
        const std::size_t bytes = encodeNativeChar(text + at, length - at, encoded, consumed);
        for (std::size_t i = 0; i < bytes; ++i)
            out[used++] = encoded[i];
        at += consumed;
    }
    return used;
}

void Log::showMessage(const wchar_t* caption, const wchar_t* format, std::va_list args, bool askYesNo)
{
    wchar_t text[textCapacity];
    prepareText(text, format, args);
    if (showBox(caption, text, askYesNo) && askYesNo)
        std::exit(0);
}

void Log::error(bool showBox, const wchar_t* format, ...)
{
    std::va_list args;
    va_start(args, format);
    writeLine(errorTag, format, args);
    va_end(args);
    if (showBox) {
        va_start(args, format);
        showMessage(errorCaption, format, args, true);
        va_end(args);
    }
}

void throwLogged(const ErrorCause& cause, const wchar_t* sourcePath, int site, const char* format, ...)
{
    // The path goes in as an argument, so a '%' in it is written as it stands.
    errorLog.error(false, exceptionThrownLine, sourcePath, site);
    std::va_list args;
    va_start(args, format);
    exception thrown(cause, exception::FormatArguments{}, format, args);
    va_end(args);
    throw thrown;
}

void logCaught(const wchar_t* sourcePath, int site, const exception& caught)
{
    errorLog.error(false, exceptionCaughtLine, sourcePath, site, caught.what());
}

} // namespace orva
