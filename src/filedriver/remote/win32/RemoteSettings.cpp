// Windows half of the settings' places: the wide environment, the local application data folder and the
// user's profile.
#include "filedriver/remote/RemoteSettings.h"

#include <cstdlib>
#include <windows.h>

namespace filedriver::remote {
namespace {

std::optional<std::wstring> wideEnvironment(const char* name)
{
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wideName.c_str());
    if (!value)
        return std::nullopt;
    return std::wstring(value);
}

} // namespace

std::optional<std::string> environmentText(const char* name)
{
    const auto value = wideEnvironment(name);
    if (!value)
        return std::nullopt;
    if (value->empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, value->data(), static_cast<int>(value->size()), nullptr, 0,
        nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value->data(), static_cast<int>(value->size()), text.data(), length, nullptr,
        nullptr);
    return text;
}

std::optional<std::filesystem::path> environmentPath(const char* name)
{
    const auto value = wideEnvironment(name);
    if (!value || value->empty())
        return std::nullopt;
    return std::filesystem::path(*value);
}

std::filesystem::path defaultCacheDirectory()
{
    if (const auto local = environmentPath("LOCALAPPDATA"))
        return *local / L"GleanerQt" / L"http-cache";
    return std::filesystem::path();
}

std::filesystem::path defaultNetrcFile()
{
    if (const auto profile = environmentPath("USERPROFILE"))
        return *profile / L"_netrc";
    return std::filesystem::path();
}

} // namespace filedriver::remote
