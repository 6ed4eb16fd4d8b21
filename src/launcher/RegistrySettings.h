#pragma once
// Named string values of a product's machine-wide settings, below the key
// SOFTWARE\Orvana\Set\<productName> (RegistryAccess.h says where that is on each platform).
// Reading never fails loudly: every problem reads as an empty string. Every read opens the store afresh.

#include "RegistryAccess.h"

#include <memory>
#include <string>

namespace launcher {

class RegistrySettings {
public:
    RegistrySettings();
    ~RegistrySettings();
    RegistrySettings(const RegistrySettings&) = delete;
    RegistrySettings& operator=(const RegistrySettings&) = delete;

    std::wstring readValue(const std::wstring& name) const;

    std::unique_ptr<RegistryAccess> registry;
    // The last component of the key path; empty reads the key "SOFTWARE\Orvana\Set\" itself.
    std::wstring productName;
};

// "SOFTWARE\Orvana\Set\" followed by the product name.
std::wstring settingsKeyPath(const std::wstring& productName);

// The process-wide settings of the launcher: the first of the process-wide objects to be built and the
// last to be finished (orva/ProcessObjects.h).
extern RegistrySettings settings;

} // namespace launcher
