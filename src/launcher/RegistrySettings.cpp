#include "RegistrySettings.h"

#include "orva/ProcessObjects.h"

namespace launcher {

RegistrySettings settings ORVA_PROCESS_OBJECT(orva::settingsStart);

RegistrySettings::RegistrySettings() : registry(std::make_unique<RegistryAccess>())
{
    if (this == &settings)
        orva::noteProcessObject(orva::ProcessObject::settings, true);
}

RegistrySettings::~RegistrySettings()
{
    if (this == &settings)
        orva::noteProcessObject(orva::ProcessObject::settings, false);
}

std::wstring settingsKeyPath(const std::wstring& productName)
{
    return std::wstring(L"SOFTWARE\\") + L"Orvana" + L"\\Set\\" + productName;
}

std::wstring RegistrySettings::readValue(const std::wstring& name) const
{
    return registry->readString(settingsKeyPath(productName), name);
}

} // namespace launcher
