#include "filedriver/remote/HttpAnswer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

namespace filedriver::remote {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Field names the reader takes, and where each goes.
std::string* fieldOf(std::string_view name, AnswerHead& head)
{
    const std::array<std::pair<std::string_view, std::string*>, 7> fields{{
        {"content-range", &head.contentRange},
        {"content-length", &head.contentLength},
        {"etag", &head.etag},
        {"last-modified", &head.lastModified},
        {"location", &head.location},
        {"retry-after", &head.retryAfter},
        {"content-encoding", &head.contentEncoding},
    }};
    for (const auto& [known, field] : fields)
        if (equalNoCase(name, known))
            return field;
    return nullptr;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

std::optional<unsigned> fixedDigits(std::string_view text, std::size_t at, std::size_t count)
{
    if (at + count > text.size())
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<int> parseStatusLine(std::string_view line, std::string* reason)
{
    line = trimmed(line);
    if (line.substr(0, 5) != "HTTP/")
        return std::nullopt;
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 5 || line.size() < space + 4)
        return std::nullopt;
    const std::string_view version = line.substr(5, space - 5);
    if (!std::all_of(version.begin(), version.end(), [](char c) { return isDigit(c) || c == '.'; }))
        return std::nullopt;
    const std::string_view code = line.substr(space + 1, 3);
    if (!std::all_of(code.begin(), code.end(), isDigit) || (line.size() > space + 4 && line[space + 4] != ' '))
        return std::nullopt;
    if (reason)
        *reason = std::string(trimmed(line.substr(space + 4)));
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

bool takeHeadLine(std::string_view line, AnswerHead& head)
{
    const std::string_view text = trimmed(line);
    if (text.empty())
        return true;
    std::string reason;
    if (const auto status = parseStatusLine(text, &reason)) {
        head = AnswerHead();
        head.status = *status;
        head.reason = reason;
        return true;
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    const std::string_view name = text.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), [](char c) { return std::isgraph(static_cast<unsigned char>(c)); }))
        return false;
    if (std::string* field = fieldOf(name, head))
        *field = std::string(trimmed(text.substr(colon + 1)));
    return true;
}

std::optional<AnswerHead> parseAnswerHead(std::string_view text)
{
    AnswerHead head;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        takeHeadLine(line, head);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    if (head.status == 0)
        return std::nullopt;
    return head;
}

std::optional<std::uint64_t> parseDecimal(std::string_view value)
{
    value = trimmed(value);
    if (value.empty() || value.size() > 18)
        return std::nullopt;
    std::uint64_t result = 0;
    for (char c : value) {
        if (!isDigit(c))
            return std::nullopt;
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return result;
}

std::optional<ContentRange> parseContentRange(std::string_view value)
{
    value = trimmed(value);
    if (value.size() < 6 || !equalNoCase(value.substr(0, 6), "bytes "))
        return std::nullopt;
    value = trimmed(value.substr(6));
    const std::size_t slash = value.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view span = value.substr(0, slash);
    const std::string_view totalText = value.substr(slash + 1);
    ContentRange range;
    if (totalText != "*") {
        range.total = parseDecimal(totalText);
        if (!range.total)
            return std::nullopt;
    }
    if (span == "*") {
        if (!range.total)
            return std::nullopt;
        range.satisfied = false;
        return range;
    }
    const std::size_t dash = span.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto first = parseDecimal(span.substr(0, dash));
    const auto last = parseDecimal(span.substr(dash + 1));
    if (!first || !last || *first > *last || (range.total && *last >= *range.total))
        return std::nullopt;
    range.first = *first;
    range.last = *last;
    return range;
}

std::optional<std::int64_t> parseHttpDate(std::string_view value)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    static constexpr std::array<std::string_view, 12> months{
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    value = trimmed(value);
    if (value.size() != 29 || value[3] != ',' || value[4] != ' ' || value[7] != ' ' || value[11] != ' ' ||
        value[16] != ' ' || value[19] != ':' || value[22] != ':' || value.substr(25) != " GMT")
        return std::nullopt;
    const auto day = fixedDigits(value, 5, 2);
    const auto year = fixedDigits(value, 12, 4);
    const auto hour = fixedDigits(value, 17, 2);
    const auto minute = fixedDigits(value, 20, 2);
    const auto second = fixedDigits(value, 23, 2);
    const auto month = std::find(months.begin(), months.end(), value.substr(8, 3));
    if (!day || !year || !hour || !minute || !second || month == months.end() || *day < 1 || *day > 31 ||
        *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    const auto monthNumber = static_cast<unsigned>(month - months.begin() + 1);
    return daysFromCivil(*year, monthNumber, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::optional<std::uint64_t> parseRetryAfter(std::string_view value, std::int64_t now)
{
    if (const auto seconds = parseDecimal(value))
        return seconds;
    const auto date = parseHttpDate(value);
    if (!date)
        return std::nullopt;
    return *date > now ? static_cast<std::uint64_t>(*date - now) : 0;
}

bool isStrongEtag(std::string_view value)
{
    value = trimmed(value);
    return value.size() >= 2 && value.front() == '"' && value.back() == '"' &&
           value.substr(1, value.size() - 2).find('"') == std::string_view::npos;
}

} // namespace filedriver::remote
