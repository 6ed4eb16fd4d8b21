#pragma once
// Who the reader says it is: the Authorization header for a request, from the URL's user and password,
// else a netrc entry for the host, else a bearer token. Pure.
//
// A netrc file's text: "machine <host> login <user> password <secret>" entries and one "default"
// entry, tokens separated by blanks or new lines, a token in double quotes may hold blanks; "macdef"
// bodies (up to a blank line) are skipped.

#include <optional>
#include <string>
#include <string_view>

namespace filedriver::remote {

struct NetrcLogin {
    std::string user;
    std::string password;
};

// The entry for `host` (letter case ignored), else the default entry; nullopt when neither exists.
std::optional<NetrcLogin> netrcLogin(std::string_view text, std::string_view host);

// "Basic <base64 of user:password>".
std::string basicAuthorization(std::string_view user, std::string_view password);

// The Authorization value for a request to `host`: the URL's credentials when it has them, else the
// netrc entry (`netrcText` may be empty), else "Bearer <token>" when a token is set, else empty.
struct UrlCredentials {
    bool present = false;
    std::string user;
    std::string password;
};
std::string authorizationFor(const UrlCredentials& fromUrl, std::string_view host, std::string_view netrcText,
    std::string_view bearerToken);

} // namespace filedriver::remote
