// Win32 half of the settings store: the registry below HKEY_LOCAL_MACHINE, through its ANSI interface.
#include "RegistryAccess.h"

#include <windows.h>

#include <cstring>

namespace launcher {
namespace {

constexpr int narrowNameBytes = 1024;
constexpr std::size_t valueBufferBytes = 8192;

// The name in the ANSI code page; false when it does not fit.
bool toAnsi(const std::wstring& text, char (&out)[narrowNameBytes])
{
    return WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out, narrowNameBytes, nullptr, nullptr) != 0;
}

LONG openKey(HKEY root, const std::wstring& keyPath, DWORD options, REGSAM access, HKEY& key)
{
    char narrowPath[narrowNameBytes];
    if (!toAnsi(keyPath, narrowPath))
        return ERROR_INVALID_PARAMETER;
    return RegOpenKeyExA(root, narrowPath, options, access, &key);
}

// Reads the value and, for a string, rewrites `data` as a wide string. A value of any other type is
// refused: its bytes are no text.
LONG queryValue(HKEY key, const std::wstring& name, BYTE* data, DWORD& size)
{
    char narrowName[narrowNameBytes];
    if (!toAnsi(name, narrowName))
        return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, narrowName, nullptr, &type, data, &size);
    if (result != ERROR_SUCCESS)
        return result;
    if (type != REG_SZ)
        return ERROR_UNSUPPORTED_TYPE;
    wchar_t scratch[maxSettingValueBytes] = {};
    // The whole text with its terminator, which the zeroed buffer supplies if the stored value lacks one.
    const int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<const char*>(data), -1, scratch,
                                          static_cast<int>(maxSettingValueBytes));
    std::memcpy(data, scratch, static_cast<std::size_t>(units > 0 ? units : 0) * sizeof(wchar_t));
    reinterpret_cast<wchar_t*>(data)[units > 0 ? units - 1 : 0] = 0;
    return ERROR_SUCCESS;
}

} // namespace

std::wstring RegistryAccess::readString(const std::wstring& keyPath, const std::wstring& name)
{
    HKEY key = nullptr;
    if (openKey(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return {};
    // Zeroed and only half offered, so that whatever the query leaves is terminated.
    alignas(wchar_t) BYTE data[valueBufferBytes] = {};
    DWORD size = maxSettingValueBytes;
    const LONG result = queryValue(key, name, data, size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(data));
}

} // namespace launcher
