#include "SettingsFile.h"

namespace launcher {
namespace {

constexpr std::wstring_view softwarePrefix = L"SOFTWARE\\";
constexpr wchar_t keySeparator = L'\\';
constexpr wchar_t fileExtension[] = L".conf";

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

} // namespace

std::wstring settingsFileFor(const std::wstring& configRoot, const std::wstring& keyPath)
{
    if (keyPath.compare(0, softwarePrefix.size(), softwarePrefix) != 0)
        return {};
    std::wstring relative = keyPath.substr(softwarePrefix.size());
    if (!relative.empty() && relative.back() == keySeparator)
        relative.pop_back();
    for (wchar_t& c : relative)
        if (c == keySeparator)
            c = L'/';
    std::wstring root = configRoot;
    if (!root.empty() && root.back() == L'/')
        root.pop_back();
    return root + L'/' + relative + fileExtension;
}

bool findSetting(std::string_view text, std::string_view name, std::string& value)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || !sameName(line.substr(0, equals), name))
            continue;
        value.assign(line.substr(equals + 1));
        return true;
    }
    return false;
}

} // namespace launcher
