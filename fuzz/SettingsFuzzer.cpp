// The settings file reader on any text: a value it finds comes from a line of that name.
#include "SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t split = bytes.find('\n');
    const std::string name = split == std::string::npos ? "Atlas" : bytes.substr(0, split);
    const std::string text = split == std::string::npos ? bytes : bytes.substr(split + 1);
    std::string value;
    if (launcher::findSetting(text, name, value) && text.find(value) == std::string::npos)
        std::abort();
    launcher::settingsFileFor(L"/etc/xdg", std::wstring(bytes.begin(), bytes.end()));
    return 0;
}
