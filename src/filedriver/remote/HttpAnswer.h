#pragma once
// What the reader takes from a server's answer: the status line, the header fields it uses, the
// Content-Range and Retry-After values. Pure functions over untrusted text; nothing here throws or
// reads past what it is given.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace filedriver::remote {

// The fields of an answer's head that the reader looks at; a field absent is an empty string.
struct AnswerHead {
    int status = 0;
    std::string reason;
    std::string contentRange;
    std::string contentLength;
    std::string etag;
    std::string lastModified;
    std::string location;
    std::string retryAfter;
    std::string contentEncoding;
};

// "HTTP/1.1 206 Partial Content" (or "HTTP/2 206"): its status, nullopt when the line is not one.
std::optional<int> parseStatusLine(std::string_view line, std::string* reason = nullptr);

// Takes one line of a head (its CR LF or LF optional) into `head`: a status line starts the head
// afresh (a redirect's or an interim answer's head is followed by another); a field line sets the field
// it names, in any letter case. False for a line that is neither (blank lines are ignored, true).
bool takeHeadLine(std::string_view line, AnswerHead& head);

// A whole head, lines separated by CR LF or LF; nullopt without a status line.
std::optional<AnswerHead> parseAnswerHead(std::string_view text);

struct ContentRange {
    bool satisfied = true; // false for "bytes */<total>"
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total; // nullopt for "/*"
};

// "bytes 0-99/1000", "bytes 0-99/*", "bytes */1000"; nullopt for anything else and for first > last or
// last >= total.
std::optional<ContentRange> parseContentRange(std::string_view value);

// A decimal without sign that fits 63 bits, surrounding blanks allowed.
std::optional<std::uint64_t> parseDecimal(std::string_view value);

// Retry-After as seconds from `now` (seconds since 1970, UTC): delta-seconds, or an HTTP date (the
// preferred form "Sun, 06 Nov 1994 08:49:37 GMT"); a date past gives 0. nullopt when unreadable.
std::optional<std::uint64_t> parseRetryAfter(std::string_view value, std::int64_t now);

// An HTTP date of the preferred form as seconds since 1970; nullopt otherwise.
std::optional<std::int64_t> parseHttpDate(std::string_view value);

// A strong entity tag: "...", not W/"...".
bool isStrongEtag(std::string_view value);

} // namespace filedriver::remote
