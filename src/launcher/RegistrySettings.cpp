#include "launcher/RegistrySettings.h"

namespace launcher {

RegistrySettings settings;

RegistrySettings::RegistrySettings() : registry(std::make_unique<RegistryAccess>()) {}

RegistrySettings::~RegistrySettings() = default;

std::wstring settingsKeyPath(const std::wstring& productName)
{
    return std::wstring(L"SOFTWARE\\") + L"Orvana" + L"\\Set\\" + productName;
}

std::wstring RegistrySettings::readValue(const std::wstring& name) const
{
    return registry->readString(settingsKeyPath(productName), name);
}

} // namespace launcher
