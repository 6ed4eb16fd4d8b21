#pragma once
// The machine-wide settings store, read only.
//   Windows: string values of a key below HKEY_LOCAL_MACHINE, read through the ANSI registry interface,
//            so only characters of the ANSI code page come back unchanged.
//   Linux:   the settings file that stands in for the key (SettingsFile.h), below the first entry of
//            $XDG_CONFIG_DIRS (default /etc/xdg).

#include <cstddef>
#include <string>

namespace launcher {

// The most a value may take with its terminator, in (narrow) bytes.
constexpr std::size_t maxSettingValueBytes = 4096;

class RegistryAccess {
public:
    // The value `name` of the key `keyPath` (such as "SOFTWARE\Orvana\Set\Wayscope 10"); empty when the
    // key or the value cannot be read, is not a string, or with its terminator exceeds
    // maxSettingValueBytes.
    std::wstring readString(const std::wstring& keyPath, const std::wstring& name);
};

} // namespace launcher
