#include "MemberNames.h"

#include <algorithm>
#include <set>
#include <cwchar>
#include <cwctype>

namespace mca {
namespace {

constexpr const wchar_t* plainDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
constexpr const wchar_t* numberedDevices[] = {L"COM", L"LPT"};
// Characters that no Windows file name may hold, besides the separators and the colon.
constexpr wchar_t windowsForbidden[] = L"<>\"|?*";

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return text;
}

} // namespace

const char* platformName(NamePlatform platform)
{
    return platform == NamePlatform::onWindows ? "Windows" : "Linux";
}

bool isWindowsDeviceName(const std::wstring& name)
{
    std::wstring base = upper(name.substr(0, name.find(L'.')));
    base.erase(base.find_last_not_of(L' ') + 1);
    if (std::find(std::begin(plainDevices), std::end(plainDevices), base) != std::end(plainDevices))
        return true;
    return base.size() == 4 && base[3] >= L'1' && base[3] <= L'9'
           && std::find(std::begin(numberedDevices), std::end(numberedDevices), base.substr(0, 3))
                  != std::end(numberedDevices);
}

const char* refusedName(const std::wstring& name, NamePlatform platform)
{
    if (name.empty())
        return "it is empty";
    if (name == L"." || name == L"..")
        return "it names a directory";
    for (const wchar_t c : name) {
        // Either separator on both platforms: an archive made on one is extracted on the other.
        if (c == L'/' || c == L'\\')
            return "it holds a separator";
        if (c == 0)
            return "it holds a NUL";
    }
    if (platform == NamePlatform::onLinux)
        return nullptr;
    for (const wchar_t c : name) {
        if (c == L':')
            return "it holds a drive colon";
        if (c < 32 || std::wcschr(windowsForbidden, c))
            return "it holds a character that Windows does not allow in a name";
    }
    if (name.back() == L'.' || name.back() == L' ')
        return "it ends in a dot or a space";
    if (isWindowsDeviceName(name))
        return "it names a Windows device";
    return nullptr;
}

bool chooseMembers(const std::vector<std::wstring>& names, const std::vector<std::wstring>& wanted,
                   std::vector<std::size_t>& positions, std::wstring& unknown)
{
    const std::set<std::wstring> known(names.begin(), names.end());
    for (const std::wstring& name : wanted)
        if (!known.count(name)) {
            unknown = name;
            return false;
        }
    const std::set<std::wstring> chosen(wanted.begin(), wanted.end());
    positions.clear();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (chosen.empty() || chosen.count(names[i]))
            positions.push_back(i);
    return true;
}

} // namespace mca
