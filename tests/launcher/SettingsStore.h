#pragma once
// Seeds the machine-wide settings store that RegistrySettings reads, isolated for one test.
//   Windows: the real HKEY_LOCAL_MACHINE of the build's own Wine prefix; the product keys made here are
//            deleted at the end, and product names are unique so that tests running at once never meet.
//   Linux:   settings files in a temporary directory that $XDG_CONFIG_DIRS points at for the test's
//            lifetime; the previous value comes back afterwards.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // A product name no other store uses, in this process or another.
    std::wstring uniqueProduct();

    // The value as a string; an empty product is the key "SOFTWARE\Orvana\Set" itself.
    bool setString(const std::wstring& product, const std::wstring& name, const std::wstring& value);
    // A value that is no string (a DWORD, or bytes); false where the store has no types, as on Linux.
    bool setDword(const std::wstring& product, const std::wstring& name, std::uint32_t value);
    bool setBinary(const std::wstring& product, const std::wstring& name, const std::string& bytes);
    bool removeValue(const std::wstring& product, const std::wstring& name);

    // The settings file that stands in for the product's key; there is none on Windows.
    std::filesystem::path fileOf(const std::wstring& product) const;

private:
    struct State;
    std::unique_ptr<State> state;
};
