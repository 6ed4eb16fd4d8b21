// Settings files below a temporary $XDG_CONFIG_DIRS, written whole after every change.
#include "launcher/SettingsStore.h"

#include "orva/WideText.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

struct SettingsStore::State {
    testsupport::TempDir root;
    std::optional<std::string> previousDirs;
    std::map<std::wstring, std::vector<std::pair<std::string, std::string>>> files;

    bool write(const std::wstring& product, const std::filesystem::path& file)
    {
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "# written by the tests\n";
        for (const auto& [name, value] : files[product])
            out << name << '=' << value << '\n';
        return static_cast<bool>(out.flush());
    }
};

SettingsStore::SettingsStore() : state(std::make_unique<State>())
{
    if (const char* dirs = std::getenv("XDG_CONFIG_DIRS"))
        state->previousDirs = dirs;
    // Only the first entry counts; the second must never be read.
    setenv("XDG_CONFIG_DIRS", (state->root.path().string() + ":/unused").c_str(), 1);
}

SettingsStore::~SettingsStore()
{
    if (state->previousDirs)
        setenv("XDG_CONFIG_DIRS", state->previousDirs->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_DIRS");
}

std::wstring SettingsStore::uniqueProduct()
{
    static unsigned counter = 0;
    return L"Gleaner Test " + std::to_wstring(getpid()) + L"-" + std::to_wstring(++counter);
}

std::filesystem::path SettingsStore::fileOf(const std::wstring& product) const
{
    const std::filesystem::path set = state->root.path() / "Orvana" / "Set";
    return product.empty() ? std::filesystem::path(set.string() + ".conf")
                           : set / (orva::toNative(product) + ".conf");
}

bool SettingsStore::setString(const std::wstring& product, const std::wstring& name, const std::wstring& value)
{
    auto& lines = state->files[product];
    const std::string narrowName = orva::toNative(name);
    bool replaced = false;
    for (auto& line : lines)
        if (line.first == narrowName) {
            line.second = orva::toNative(value);
            replaced = true;
        }
    if (!replaced)
        lines.emplace_back(narrowName, orva::toNative(value));
    return state->write(product, fileOf(product));
}

bool SettingsStore::setDword(const std::wstring&, const std::wstring&, std::uint32_t)
{
    return false;
}

bool SettingsStore::setBinary(const std::wstring&, const std::wstring&, const std::string&)
{
    return false;
}

bool SettingsStore::removeValue(const std::wstring& product, const std::wstring& name)
{
    auto& lines = state->files[product];
    const std::string narrowName = orva::toNative(name);
    std::erase_if(lines, [&](const auto& line) { return line.first == narrowName; });
    return state->write(product, fileOf(product));
}
