#pragma once
// URL text of a remote file: parsing, the forms sent and shown, and redirect targets. Pure functions.
//
// Accepted: http:// or https:// (any letter case), optional user[:password]@ (percent-decoded), a host
// name, an IPv4 address or a bracketed IPv6 address, an optional port, a path (empty means "/"), an
// optional query and a fragment (dropped: it is never sent). Bytes outside printable ASCII and spaces in
// the path and query are percent-encoded when sent.
//
// The query belongs to the file: it is sent with every request. It and the credentials never appear in
// displayText() or cacheKey(), which is what messages, logs and cache file names use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace filedriver::remote {

struct Url {
    bool secure = false; // https
    std::string user;     // decoded; empty when none
    std::string password; // decoded
    bool hasCredentials = false;
    std::string host;     // lower case; an IPv6 address keeps its brackets
    std::uint16_t port = 0;
    std::string path;     // as given (percent escapes kept), starting with '/'
    std::string query;    // as given, without '?'
    bool hasQuery = false;

    // "https://host[:port]/path", the port only where it is not the scheme's default.
    std::string displayText() const;
    // "https://host:port/path": the same file under every spelling of its port.
    std::string cacheKey() const;
    // What is sent: "/path?query", percent-encoded where needed.
    std::string requestTarget() const;
    // "https://host:port/path?query" without credentials, for clients that take a whole URL.
    std::string requestUrl() const;
    // Whether `other` is the same origin (scheme, host and port): credentials go only there.
    bool sameOrigin(const Url& other) const;
};

// Whether `text` starts with "http://" or "https://" in any letter case.
bool isRemoteText(std::string_view text);

// nullopt for anything but a well-formed http or https URL.
std::optional<Url> parseUrl(std::string_view text);

// The target of a redirect from `base` to `location` (absolute, scheme-relative, absolute path or
// relative path); nullopt when `location` is malformed. Credentials stay only on the same origin.
std::optional<Url> resolveRedirect(const Url& base, std::string_view location);

// `text` with each occurrence of the URL's query, password and user replaced by "...": for messages that
// come from a library below us.
std::string scrubbed(std::string text, const Url& url);

} // namespace filedriver::remote
