// Keys below HKEY_LOCAL_MACHINE of the test's own Wine prefix, written through the ANSI interface that
// the code under test reads with.
#include "launcher/SettingsStore.h"

#include "orva/WideText.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace {

std::string keyOf(const std::wstring& product)
{
    return "SOFTWARE\\Orvana\\Set" + (product.empty() ? std::string() : "\\" + orva::toNative(product));
}

LONG deleteValue(const std::string& path, const std::string& name)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    return result;
}

} // namespace

struct SettingsStore::State {
    std::vector<std::string> createdKeys;
    // Values put into the shared key "SOFTWARE\Orvana\Set", which is never deleted.
    std::vector<std::string> sharedValues;

    bool setValue(const std::wstring& product, const std::wstring& name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        DWORD disposition = 0;
        const std::string path = keyOf(product);
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            &disposition)
            != ERROR_SUCCESS)
            return false;
        if (disposition == REG_CREATED_NEW_KEY && !product.empty())
            createdKeys.push_back(path);
        const std::string narrowName = orva::toNative(name);
        if (product.empty())
            sharedValues.push_back(narrowName);
        const LONG result = RegSetValueExA(key, narrowName.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }
};

SettingsStore::SettingsStore() : state(std::make_unique<State>()) {}

SettingsStore::~SettingsStore()
{
    for (const std::string& name : state->sharedValues)
        deleteValue(keyOf(std::wstring()), name);
    for (const std::string& path : state->createdKeys)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::wstring SettingsStore::uniqueProduct()
{
    static unsigned counter = 0;
    // The tick count keeps apart a process that reuses the id of one that left keys behind.
    return L"Gleaner Test " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-"
           + std::to_wstring(++counter);
}

bool SettingsStore::setString(const std::wstring& product, const std::wstring& name, const std::wstring& value)
{
    const std::string narrow = orva::toNative(value);
    return state->setValue(product, name, REG_SZ, narrow.c_str(), static_cast<DWORD>(narrow.size() + 1));
}

bool SettingsStore::setDword(const std::wstring& product, const std::wstring& name, std::uint32_t value)
{
    const DWORD data = value;
    return state->setValue(product, name, REG_DWORD, &data, sizeof data);
}

bool SettingsStore::setBinary(const std::wstring& product, const std::wstring& name, const std::string& bytes)
{
    return state->setValue(product, name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool SettingsStore::removeValue(const std::wstring& product, const std::wstring& name)
{
    return deleteValue(keyOf(product), orva::toNative(name)) == ERROR_SUCCESS;
}

std::filesystem::path SettingsStore::fileOf(const std::wstring&) const
{
    return {};
}
