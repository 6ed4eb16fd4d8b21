#include "filedriver/remote/RemoteSettings.h"

#include "filedriver/remote/HttpAnswer.h"

#include <fstream>
#include <iterator>

namespace filedriver::remote {
namespace {

// "12", "0.5", "3.25" as milliseconds; nullopt otherwise.
std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text)
{
    const std::size_t point = text.find('.');
    const auto whole = parseDecimal(text.substr(0, point));
    if (!whole || *whole > 86400)
        return std::nullopt;
    std::uint64_t millis = *whole * 1000;
    if (point != std::string::npos) {
        const std::string fraction = (text.substr(point + 1) + "000").substr(0, 3);
        const auto part = parseDecimal(fraction);
        if (!part || text.size() == point + 1)
            return std::nullopt;
        millis += *part;
    }
    return std::chrono::milliseconds(millis);
}

bool readSeconds(const char* name, std::chrono::milliseconds& value, RemoteError& error)
{
    const auto text = environmentText(name);
    if (!text)
        return true;
    const auto seconds = parseSeconds(*text);
    if (!seconds || seconds->count() == 0) {
        error.set(RemoteErrorKind::Other, std::string(name) + ": '" + *text + "' is not a number of seconds above 0");
        return false;
    }
    value = *seconds;
    return true;
}

bool readCount(const char* name, std::uint64_t limit, std::uint64_t& value, RemoteError& error)
{
    const auto text = environmentText(name);
    if (!text)
        return true;
    const auto number = parseDecimal(*text);
    if (!number || *number > limit) {
        error.set(RemoteErrorKind::Other,
            std::string(name) + ": '" + *text + "' is not a whole number from 0 to " + std::to_string(limit));
        return false;
    }
    value = *number;
    return true;
}

} // namespace

std::string settingFileText(const std::filesystem::path& path)
{
    if (path.empty())
        return std::string();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<RemoteSettings> RemoteSettings::fromEnvironment(RemoteError& error)
{
    RemoteSettings settings;
    std::uint64_t retries = settings.retries;
    std::uint64_t cacheMiB = settings.cacheBytes >> 20;
    if (!readSeconds("GLEANER_HTTP_CONNECT_TIMEOUT", settings.connectTimeout, error) ||
        !readSeconds("GLEANER_HTTP_STALL_TIMEOUT", settings.stallTimeout, error) ||
        !readSeconds("GLEANER_HTTP_RETRY_TIME", settings.retryTime, error) ||
        !readCount("GLEANER_HTTP_RETRIES", 20, retries, error) ||
        !readCount("GLEANER_HTTP_CACHE_MB", std::uint64_t(1) << 30, cacheMiB, error))
        return std::nullopt;
    settings.retries = static_cast<unsigned>(retries);
    settings.cacheBytes = cacheMiB << 20;
    settings.caFile = environmentPath("GLEANER_HTTP_CA_FILE").value_or(std::filesystem::path());
    // A CA file that cannot be used would leave its servers refused for a reason nobody sees.
    if (!settings.caFile.empty() && settingFileText(settings.caFile).find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        error.set(RemoteErrorKind::Other, "GLEANER_HTTP_CA_FILE: no certificate can be read from the file it names");
        return std::nullopt;
    }
    settings.bearerToken = environmentText("GLEANER_HTTP_BEARER_TOKEN").value_or(std::string());
    settings.netrcFile = environmentPath("GLEANER_NETRC").value_or(defaultNetrcFile());
    settings.cacheDirectory = environmentPath("GLEANER_HTTP_CACHE_DIR").value_or(defaultCacheDirectory());
    if (settings.cacheDirectory.empty())
        settings.cacheBytes = 0;
    return settings;
}

} // namespace filedriver::remote
