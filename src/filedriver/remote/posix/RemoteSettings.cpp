// POSIX half of the settings' places: getenv, XDG_CACHE_HOME, the home directory.
#include "filedriver/remote/RemoteSettings.h"

#include <cstdlib>

namespace filedriver::remote {

std::optional<std::string> environmentText(const char* name)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::filesystem::path> environmentPath(const char* name)
{
    const auto text = environmentText(name);
    if (!text || text->empty())
        return std::nullopt;
    return std::filesystem::path(*text);
}

std::filesystem::path defaultCacheDirectory()
{
    if (const auto cache = environmentPath("XDG_CACHE_HOME"); cache && cache->is_absolute())
        return *cache / "gleanerqt" / "http";
    if (const auto home = environmentPath("HOME"))
        return *home / ".cache" / "gleanerqt" / "http";
    return std::filesystem::path();
}

std::filesystem::path defaultNetrcFile()
{
    if (const auto home = environmentPath("HOME"))
        return *home / ".netrc";
    return std::filesystem::path();
}

} // namespace filedriver::remote
