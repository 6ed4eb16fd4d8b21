#include "filedriver/remote/Url.h"

#include <algorithm>
#include <cctype>

namespace filedriver::remote {
namespace {

constexpr std::uint16_t httpPort = 80;
constexpr std::uint16_t httpsPort = 443;

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return lower(a) == lower(b); });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return result;
}

// Spaces, controls and bytes above ASCII as %XX; everything else as given.
std::string percentEncodedForWire(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}') {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 15];
        } else {
            result += c;
        }
    }
    return result;
}

bool validHostName(std::string_view host)
{
    if (host.empty())
        return false;
    if (host.front() == '[')
        return host.size() > 2 && host.back() == ']' &&
               std::all_of(host.begin() + 1, host.end() - 1,
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
    });
}

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool parseAuthority(std::string_view authority, Url& url)
{
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        const auto user = percentDecoded(userInfo.substr(0, colon));
        const auto password =
            colon == std::string_view::npos ? std::optional<std::string>("") : percentDecoded(userInfo.substr(colon + 1));
        if (!user || !password)
            return false;
        url.user = *user;
        url.password = *password;
        url.hasCredentials = true;
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (!validHostName(host))
        return false;
    url.host.clear();
    std::transform(host.begin(), host.end(), std::back_inserter(url.host), lower);
    if (port.empty()) {
        url.port = url.secure ? httpsPort : httpPort;
        return colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket);
    }
    const auto number = parsePort(port);
    if (!number)
        return false;
    url.port = *number;
    return true;
}

// Splits "path?query#fragment" into the URL's path and query.
void setPathAndQuery(std::string_view rest, Url& url)
{
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    const std::size_t question = rest.find('?');
    url.hasQuery = question != std::string_view::npos;
    url.query = url.hasQuery ? std::string(rest.substr(question + 1)) : std::string();
    url.path = std::string(rest.substr(0, question));
    if (url.path.empty() || url.path.front() != '/')
        url.path.insert(url.path.begin(), '/');
}

std::string origin(const Url& url, bool alwaysPort)
{
    std::string text = url.secure ? "https://" : "http://";
    text += url.host;
    if (alwaysPort || url.port != (url.secure ? httpsPort : httpPort))
        text += ":" + std::to_string(url.port);
    return text;
}

// "/a/b/../c/./d" as "/a/c/d", for a relative redirect.
std::string withoutDotSegments(const std::string& path)
{
    std::string result;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            const std::size_t slash = result.rfind('/');
            result.erase(slash == std::string::npos ? 0 : slash);
            if (end == path.size())
                result += '/';
        } else if (segment == ".") {
            if (end == path.size())
                result += '/';
        } else {
            result += '/' + segment;
        }
        start = end + 1;
    }
    return result.empty() ? "/" : result;
}

} // namespace

std::string Url::displayText() const
{
    return origin(*this, false) + path;
}

std::string Url::cacheKey() const
{
    return origin(*this, true) + path;
}

std::string Url::requestTarget() const
{
    return percentEncodedForWire(path) + (hasQuery ? "?" + percentEncodedForWire(query) : std::string());
}

std::string Url::requestUrl() const
{
    return origin(*this, true) + requestTarget();
}

bool Url::sameOrigin(const Url& other) const
{
    return secure == other.secure && host == other.host && port == other.port;
}

bool isRemoteText(std::string_view text)
{
    return startsWithNoCase(text, "http://") || startsWithNoCase(text, "https://");
}

std::optional<Url> parseUrl(std::string_view text)
{
    Url url;
    if (startsWithNoCase(text, "https://")) {
        url.secure = true;
        text.remove_prefix(8);
    } else if (startsWithNoCase(text, "http://")) {
        text.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    const std::size_t authorityEnd = text.find_first_of("/?#");
    if (!parseAuthority(text.substr(0, authorityEnd), url))
        return std::nullopt;
    setPathAndQuery(authorityEnd == std::string_view::npos ? std::string_view() : text.substr(authorityEnd), url);
    return url;
}

std::optional<Url> resolveRedirect(const Url& base, std::string_view location)
{
    while (!location.empty() && (location.back() == ' ' || location.back() == '\t'))
        location.remove_suffix(1);
    if (location.empty())
        return std::nullopt;
    std::optional<Url> target;
    if (isRemoteText(location)) {
        target = parseUrl(location);
    } else if (location.substr(0, 2) == "//") {
        target = parseUrl(std::string(base.secure ? "https:" : "http:") + std::string(location));
    } else if (location.find(':') != std::string_view::npos &&
               location.find(':') < location.find_first_of("/?#")) {
        return std::nullopt; // another scheme
    } else {
        target = base;
        target->user.clear();
        target->password.clear();
        target->hasCredentials = false;
        std::string_view rest = location;
        if (rest.front() != '/' && rest.front() != '?') {
            const std::string directory = base.path.substr(0, base.path.rfind('/') + 1);
            const std::string joined = directory + std::string(rest);
            setPathAndQuery(joined, *target);
        } else if (rest.front() == '?') {
            setPathAndQuery(base.path + std::string(rest), *target);
        } else {
            setPathAndQuery(rest, *target);
        }
        target->path = withoutDotSegments(target->path);
    }
    if (!target)
        return std::nullopt;
    if (target->sameOrigin(base) && !target->hasCredentials) {
        target->user = base.user;
        target->password = base.password;
        target->hasCredentials = base.hasCredentials;
    } else if (!target->sameOrigin(base)) {
        target->user.clear();
        target->password.clear();
        target->hasCredentials = false;
    }
    return target;
}

std::string scrubbed(std::string text, const Url& url)
{
    for (const std::string* secret : {&url.query, &url.password, &url.user}) {
        if (secret->empty())
            continue;
        for (std::size_t at = text.find(*secret); at != std::string::npos; at = text.find(*secret, at + 3))
            text.replace(at, secret->size(), "...");
    }
    return text;
}

} // namespace filedriver::remote
