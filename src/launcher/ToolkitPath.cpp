#include "ToolkitPath.h"

namespace launcher {
namespace {

constexpr std::wstring_view longUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view longPrefix = L"\\\\?\\";

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// A root keeps its separator: "/" alone or a drive's "C:/".
bool isRoot(std::wstring_view path)
{
    return path == L"/" || (path.size() == 3 && path[1] == L':' && path[2] == L'/');
}

} // namespace

std::wstring toolkitPath(std::wstring_view nativePath)
{
    std::wstring path;
    if (nativePath.substr(0, longUncPrefix.size()) == longUncPrefix) {
        path = L"//";
        nativePath.remove_prefix(longUncPrefix.size());
    } else if (nativePath.substr(0, longPrefix.size()) == longPrefix) {
        nativePath.remove_prefix(longPrefix.size());
    }
    for (const wchar_t c : nativePath)
        path.push_back(c == L'\\' ? L'/' : c);
    while (path.size() > 1 && path.back() == L'/' && !isRoot(path))
        path.pop_back();
    return path;
}

std::wstring toolkitDirectoryOf(std::wstring_view filePath)
{
    std::size_t end = filePath.size();
    while (end > 0 && !isSeparator(filePath[end - 1]))
        --end;
    if (end == 0)
        return {};
    // The separator stays, so that a root remains one ("C:\" rather than the drive-relative "C:").
    return toolkitPath(filePath.substr(0, end));
}

} // namespace launcher
