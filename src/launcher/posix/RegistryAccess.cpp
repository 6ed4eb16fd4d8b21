// POSIX half of the settings store: the settings file below the first entry of $XDG_CONFIG_DIRS.
#include "RegistryAccess.h"

#include "SettingsFile.h"
#include "filedriver/FileSystem.h"
#include "orva/WideText.h"

#include <cstdlib>

namespace launcher {
namespace {

constexpr char defaultConfigRoot[] = "/etc/xdg";
// A settings file is a few lines; anything larger is not one.
constexpr std::size_t maxSettingsFileBytes = 1 << 20;

std::string configRoot()
{
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    const std::string first = dirs ? std::string(dirs).substr(0, std::string(dirs).find(':')) : std::string();
    return first.empty() ? defaultConfigRoot : first;
}

} // namespace

std::wstring RegistryAccess::readString(const std::wstring& keyPath, const std::wstring& name)
{
    const std::wstring file = settingsFileFor(orva::fromNative(configRoot()), keyPath);
    std::string text;
    std::string value;
    if (file.empty() || !filedriver::readSmallFile(file, maxSettingsFileBytes, text)
        || !findSetting(text, orva::toNative(name), value) || value.size() + 1 > maxSettingValueBytes)
        return {};
    return orva::fromNative(value);
}

} // namespace launcher
