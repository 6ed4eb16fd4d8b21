#include "orva/Format.h"

#include "orva/Utf8.h"
#include "orva/WideText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

namespace orva {
namespace {

// Bounds on width and precision keep every number inside the scratch buffer below.
constexpr int maxFieldWidth = 300;
constexpr std::size_t numberScratchSize = 1024;

template <class Char>
class Sink {
public:
    Sink(Char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    // All or nothing, so that a character encoded in several units is never split.
    bool put(const Char* text, std::size_t length)
    {
        if (full_ || length > capacity_ - count_) {
            full_ = true;
            return false;
        }
        std::copy(text, text + length, out_ + count_);
        count_ += length;
        return true;
    }
    bool put(Char c) { return put(&c, 1); }
    void pad(Char c, int times)
    {
        for (int i = 0; i < times && put(c); ++i) {
        }
    }
    std::size_t count() const { return count_; }

private:
    Char* out_;
    std::size_t capacity_;
    std::size_t count_ = 0;
    bool full_ = false;
};

enum class Length { none, hh, h, l, ll, j, z, t, L };

struct Spec {
    char flags[8] = {};
    bool left = false;
    int width = 0;
    int precision = -1;
    Length length = Length::none;
    char conversion = 0;
};

template <class Char>
bool isFlag(Char c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

template <class Char>
int parseNumber(const Char*& p)
{
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        value = std::min(value * 10 + static_cast<int>(*p - '0'), 100000);
        ++p;
    }
    return value;
}

// Reads one conversion after its '%'; leaves `p` after it. False when the text is no conversion.
template <class Char>
bool parseSpec(const Char*& p, Spec& spec, std::va_list& args)
{
    std::size_t flagCount = 0;
    for (; isFlag(*p); ++p) {
        if (*p == '-')
            spec.left = true;
        else if (flagCount + 1 < sizeof spec.flags)
            spec.flags[flagCount++] = static_cast<char>(*p);
    }
    if (*p == '*') {
        spec.width = va_arg(args, int);
        if (spec.width < 0) {
            spec.left = true;
            spec.width = spec.width == INT32_MIN ? maxFieldWidth : -spec.width;
        }
        ++p;
    } else {
        spec.width = parseNumber(p);
    }
    spec.width = std::min(spec.width, maxFieldWidth);
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            spec.precision = std::max(va_arg(args, int), -1);
            ++p;
        } else {
            spec.precision = parseNumber(p);
        }
    }
    switch (*p) {
    case 'h':
        spec.length = p[1] == 'h' ? (++p, Length::hh) : Length::h;
        ++p;
        break;
    case 'l':
        spec.length = p[1] == 'l' ? (++p, Length::ll) : Length::l;
        ++p;
        break;
    case 'j': spec.length = Length::j, ++p; break;
    case 'z': spec.length = Length::z, ++p; break;
    case 't': spec.length = Length::t, ++p; break;
    case 'L': spec.length = Length::L, ++p; break;
    default: break;
    }
    if (*p <= 0 || *p > 0x7F || !std::strchr("diouxXcspneEfFgGaA%", static_cast<int>(*p)))
        return false;
    spec.conversion = static_cast<char>(*p++);
    return true;
}

// The narrow printf format of a numeric conversion, with its width and precision resolved.
void numericFormat(const Spec& spec, const char* length, char (&out)[64])
{
    char precision[16] = "";
    if (spec.precision >= 0)
        std::snprintf(precision, sizeof precision, ".%d", std::min(spec.precision, maxFieldWidth));
    std::snprintf(out, sizeof out, "%%%s%s%d%s%s%c", spec.flags, spec.left ? "-" : "", spec.width, precision,
                  length, spec.conversion);
}

template <class Char>
void putNumber(Sink<Char>& sink, const char* text)
{
    for (; *text; ++text)
        if (!sink.put(static_cast<Char>(static_cast<unsigned char>(*text))))
            return;
}

template <class Char>
void putInteger(Sink<Char>& sink, const Spec& spec, std::va_list& args)
{
    char format[64];
    char text[numberScratchSize];
    const bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
    switch (spec.length) {
    case Length::l:
        numericFormat(spec, "l", format);
        isSigned ? std::snprintf(text, sizeof text, format, va_arg(args, long))
                 : std::snprintf(text, sizeof text, format, va_arg(args, unsigned long));
        break;
    case Length::ll:
    case Length::j:
        numericFormat(spec, "ll", format);
        isSigned ? std::snprintf(text, sizeof text, format, static_cast<long long>(va_arg(args, long long)))
                 : std::snprintf(text, sizeof text, format, va_arg(args, unsigned long long));
        break;
    case Length::z:
    case Length::t:
        numericFormat(spec, "ll", format);
        isSigned ? std::snprintf(text, sizeof text, format, static_cast<long long>(va_arg(args, std::ptrdiff_t)))
                 : std::snprintf(text, sizeof text, format,
                                 static_cast<unsigned long long>(va_arg(args, std::size_t)));
        break;
    default: {
        // hh and h arguments arrive promoted to int; the conversion narrows them.
        numericFormat(spec, spec.length == Length::hh ? "hh" : spec.length == Length::h ? "h" : "", format);
        isSigned ? std::snprintf(text, sizeof text, format, va_arg(args, int))
                 : std::snprintf(text, sizeof text, format, va_arg(args, unsigned int));
        break;
    }
    }
    putNumber(sink, text);
}

template <class Char>
void putFloating(Sink<Char>& sink, const Spec& spec, std::va_list& args)
{
    char format[64];
    char text[numberScratchSize];
    if (spec.length == Length::L) {
        numericFormat(spec, "L", format);
        std::snprintf(text, sizeof text, format, va_arg(args, long double));
    } else {
        numericFormat(spec, "", format);
        std::snprintf(text, sizeof text, format, va_arg(args, double));
    }
    putNumber(sink, text);
}

// Units of the character that starts at `text` (not at its end), so that it is written whole or not at all.
std::size_t characterUnits(const char* text)
{
    std::size_t available = 1;
    while (available < maxNativeCharBytes && text[available])
        ++available;
    wchar_t decoded[2];
    std::size_t consumed = 1;
    decodeNativeChar(text, available, decoded, consumed);
    return consumed;
}

std::size_t characterUnits(const wchar_t* text)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (isSurrogatePair(text[0], text[1]))
            return 2;
    }
    return 1;
}

// Calls emit(units, count) for each character of `text` as it will be written, up to `limit` units.
template <class Out, class In, class Emit>
void forEachConverted(const In* text, std::size_t limit, Emit emit)
{
    std::size_t written = 0;
    if constexpr (std::is_same_v<Out, In>) {
        for (std::size_t count; *text; text += count, written += count) {
            count = characterUnits(text);
            if (written + count > limit)
                return;
            emit(text, count);
        }
    } else {
        const std::size_t length = std::char_traits<In>::length(text);
        for (std::size_t at = 0; at < length;) {
            std::size_t consumed = 0;
            std::size_t count;
            if constexpr (std::is_same_v<Out, char>) {
                char unit[maxNativeCharBytes];
                count = encodeNativeChar(text + at, length - at, unit, consumed);
                if (written + count > limit)
                    return;
                emit(unit, count);
            } else {
                wchar_t unit[2];
                count = decodeNativeChar(text + at, length - at, unit, consumed);
                if (written + count > limit)
                    return;
                emit(unit, count);
            }
            written += count;
            at += consumed;
        }
    }
}

template <class Char, class In>
void putString(Sink<Char>& sink, const Spec& spec, const In* text)
{
    static constexpr In nullText[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!text)
        text = nullText;
    const std::size_t limit = spec.precision >= 0 ? static_cast<std::size_t>(spec.precision) : SIZE_MAX;
    std::size_t length = 0;
    if (spec.width > 0)
        forEachConverted<Char>(text, limit, [&](const Char*, std::size_t n) { length += n; });
    const int padding = spec.width > static_cast<int>(std::min<std::size_t>(length, maxFieldWidth))
                            ? spec.width - static_cast<int>(length)
                            : 0;
    if (!spec.left)
        sink.pad(' ', padding);
    forEachConverted<Char>(text, limit, [&](const Char* units, std::size_t n) { sink.put(units, n); });
    if (spec.left)
        sink.pad(' ', padding);
}

template <class Char>
void putCharacter(Sink<Char>& sink, const Spec& spec, bool wideArgument, std::va_list& args)
{
    Spec asString = spec;
    asString.precision = -1;
    if (wideArgument) {
        const wchar_t text[2] = {static_cast<wchar_t>(va_arg(args, int)) /* wint_t arrives promoted */, 0};
        putString(sink, asString, text);
    } else {
        const char text[2] = {static_cast<char>(va_arg(args, int)), 0};
        putString(sink, asString, text);
    }
}

template <class Char>
std::size_t format(Char* out, std::size_t capacity, const Char* format, std::va_list callerArgs)
{
    constexpr bool wideFormat = std::is_same_v<Char, wchar_t>;
    Sink<Char> sink(out, capacity);
    std::va_list args;
    va_copy(args, callerArgs);
    for (const Char* p = format; *p;) {
        if (*p != '%') {
            const std::size_t units = characterUnits(p);
            sink.put(p, units);
            p += units;
            continue;
        }
        const Char* start = p++;
        Spec spec;
        if (!parseSpec(p, spec, args)) {
            // Not a conversion: written as it stands.
            sink.put(start, static_cast<std::size_t>(p - start));
            continue;
        }
        // In a wide format the default string width is wide; in a narrow one, narrow.
        const bool wideArgument = wideFormat ? spec.length != Length::h : spec.length == Length::l;
        switch (spec.conversion) {
        case '%': sink.put('%'); break;
        case 's':
            if (wideArgument)
                putString(sink, spec, va_arg(args, const wchar_t*));
            else
                putString(sink, spec, va_arg(args, const char*));
            break;
        case 'c': putCharacter(sink, spec, wideArgument, args); break;
        case 'p': {
            char text[32];
            std::snprintf(text, sizeof text, "%p", va_arg(args, void*));
            putNumber(sink, text);
            break;
        }
        case 'n': (void)va_arg(args, void*); break;
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            putFloating(sink, spec, args);
            break;
        default: putInteger(sink, spec, args); break;
        }
    }
    va_end(args);
    return sink.count();
}

} // namespace

std::size_t formatText(char* out, std::size_t capacity, const char* text, std::va_list args)
{
    return format(out, capacity, text, args);
}

std::size_t formatText(wchar_t* out, std::size_t capacity, const wchar_t* text, std::va_list args)
{
    return format(out, capacity, text, args);
}

} // namespace orva
