// POSIX half of the settings store: the settings file below the first entry of $XDG_CONFIG_DIRS.
#include "RegistryAccess.h"

#include "SettingsFile.h"
#include "orva/WideText.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace launcher {
namespace {

constexpr char defaultConfigRoot[] = "/etc/xdg";
// A settings file is a few lines; anything larger is not one.
constexpr off_t maxSettingsFileBytes = 1 << 20;

std::string configRoot()
{
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    const std::string first = dirs ? std::string(dirs).substr(0, std::string(dirs).find(':')) : std::string();
    return first.empty() ? defaultConfigRoot : first;
}

bool readSettingsFile(const std::string& path, std::string& text)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    struct stat status;
    bool ok = fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= maxSettingsFileBytes;
    if (ok) {
        text.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (ok && done < text.size()) {
            const ssize_t got = read(file, text.data() + done, text.size() - done);
            if (got > 0)
                done += static_cast<std::size_t>(got);
            else
                ok = got == 0 || errno == EINTR;
            if (got == 0)
                text.resize(done);
        }
    }
    close(file);
    return ok;
}

} // namespace

std::wstring RegistryAccess::readString(const std::wstring& keyPath, const std::wstring& name)
{
    const std::wstring file = settingsFileFor(orva::fromNative(configRoot()), keyPath);
    std::string text;
    std::string value;
    if (file.empty() || !readSettingsFile(orva::toNative(file), text) || !findSetting(text, orva::toNative(name), value)
        || value.size() + 1 > maxSettingValueBytes)
        return {};
    return orva::fromNative(value);
}

} // namespace launcher
