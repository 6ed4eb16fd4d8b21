#include "MemberNames.h"

#include "orva/WideText.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <cwchar>
#include <cwctype>

namespace mca {
namespace {

constexpr const wchar_t* plainDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
constexpr const wchar_t* numberedDevices[] = {L"COM", L"LPT"};
// Characters that no Windows file name may hold, besides the separators and the colon.
constexpr wchar_t windowsForbidden[] = L"<>\"|?*";

// Longest file name: on Linux in bytes of UTF-8, on Windows in UTF-16 units.
constexpr std::size_t longestFileName = 255;

// No unpaired surrogate and nothing past U+10FFFF, in UTF-32 (Linux) or UTF-16 (Windows) units.
bool isValidUnicode(const std::wstring& name)
{
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(name[i]);
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if constexpr (sizeof(wchar_t) == 2) {
            if (high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            return false;
    }
    return true;
}

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return text;
}

// True for CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any letter case, with any extension
// (and the spaces Windows drops before it).
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

} // namespace

const char* platformName(NamePlatform platform)
{
    return platform == NamePlatform::onWindows ? "Windows" : "Linux";
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
    if (!isValidUnicode(name))
        return "it is not valid Unicode";
    if (platform == NamePlatform::onLinux)
        return orva::toUtf8(name).size() > longestFileName ? "it is longer than 255 bytes" : nullptr;
    if (orva::toUtf16(name).size() > longestFileName)
        return "it is longer than 255 characters";
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

std::vector<NameProblem> nameProblems(const std::vector<std::wstring>& names, NamePlatform platform)
{
    std::vector<NameProblem> problems;
    std::map<std::wstring, std::size_t> firstOfName;
    for (std::size_t i = 0; i < names.size(); ++i) {
        NameProblem problem{i};
        problem.refused = refusedName(names[i], platform);
        if (!problem.refused) {
            const auto first = firstOfName.emplace(names[i], i).first->second;
            if (first != i)
                problem.sameNameAs = first;
        }
        if (problem.refused || problem.sameNameAs != NameProblem::noMember)
            problems.push_back(problem);
    }
    return problems;
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
