#include "filedriver/remote/Credentials.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace filedriver::remote {
namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next token from `at`; empty at the end.
std::string nextToken(std::string_view text, std::size_t& at)
{
    while (at < text.size() && blank(text[at]))
        ++at;
    std::string token;
    if (at < text.size() && text[at] == '"') {
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size())
                ++at;
            token += text[at];
        }
        ++at;
        return token;
    }
    while (at < text.size() && !blank(text[at]))
        token += text[at++];
    return token;
}

void skipMacro(std::string_view text, std::size_t& at)
{
    const std::size_t end = text.find("\n\n", at);
    at = end == std::string_view::npos ? text.size() : end + 2;
}

bool sameHost(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::optional<NetrcLogin> netrcLogin(std::string_view text, std::string_view host)
{
    std::optional<NetrcLogin> match;
    std::optional<NetrcLogin> fallback;
    std::optional<NetrcLogin>* current = nullptr;
    std::size_t at = 0;
    for (std::string token = nextToken(text, at); !token.empty(); token = nextToken(text, at)) {
        if (token == "machine") {
            const std::string name = nextToken(text, at);
            current = sameHost(name, host) && !match ? &match : nullptr;
            if (current)
                current->emplace();
        } else if (token == "default") {
            current = fallback ? nullptr : &fallback;
            if (current)
                current->emplace();
        } else if (token == "login" || token == "password" || token == "account") {
            const std::string value = nextToken(text, at);
            if (current && token == "login")
                (*current)->user = value;
            else if (current && token == "password")
                (*current)->password = value;
        } else if (token == "macdef") {
            skipMacro(text, at);
            current = nullptr;
        }
    }
    return match ? match : fallback;
}

std::string basicAuthorization(std::string_view user, std::string_view password)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string encoded = "Basic ";
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, plain.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < count ? static_cast<unsigned char>(plain[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            encoded += k <= count ? alphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return encoded;
}

std::string authorizationFor(const UrlCredentials& fromUrl, std::string_view host, std::string_view netrcText,
    std::string_view bearerToken)
{
    if (fromUrl.present)
        return basicAuthorization(fromUrl.user, fromUrl.password);
    if (const auto login = netrcLogin(netrcText, host))
        return basicAuthorization(login->user, login->password);
    if (!bearerToken.empty())
        return "Bearer " + std::string(bearerToken);
    return std::string();
}

} // namespace filedriver::remote
