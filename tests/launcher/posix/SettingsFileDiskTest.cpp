// The settings file on Linux, read through the settings object as the launcher reads it.
#include "launcher/RegistrySettings.h"
#include "launcher/SettingsStore.h"
#include "support/TempDir.h"
#include "support/posix/Unprivileged.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

class SettingsFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override { settings.productName = product; }

    SettingsStore store;
    const std::wstring product = store.uniqueProduct();
    launcher::RegistrySettings settings;
};

TEST_F(SettingsFileOnDisk, OnlyTheFirstConfigDirectoryIsRead)
{
    ASSERT_TRUE(store.setString(product, L"Name", L"value"));
    const std::string dirs = std::getenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(settings.readValue(L"Name"), L"value");

    // Unset, the default root is read, where this product has no file.
    unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(settings.readValue(L"Name"), L"");
    testsupport::TempDir other;
    setenv("XDG_CONFIG_DIRS", (other.path().string() + ":" + dirs).c_str(), 1);
    EXPECT_EQ(settings.readValue(L"Name"), L"");
    setenv("XDG_CONFIG_DIRS", dirs.c_str(), 1);
}

TEST_F(SettingsFileOnDisk, ADirectoryInPlaceOfTheFileReadsEmpty)
{
    std::filesystem::create_directories(store.fileOf(product));
    EXPECT_EQ(settings.readValue(L"Name"), L"");
}

TEST_F(SettingsFileOnDisk, ABinaryFileIsReadWithoutHarm)
{
    std::string bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.push_back(static_cast<char>((i * 131 + 7) % 256));
    bytes += "\nName=\xFF\xFEok\n";
    std::filesystem::create_directories(store.fileOf(product).parent_path());
    std::ofstream(store.fileOf(product), std::ios::binary) << bytes;

    EXPECT_EQ(settings.readValue(L"Missing"), L"");
    // Malformed UTF-8 still gives a value, with the text around it intact.
    const std::wstring value = settings.readValue(L"Name");
    ASSERT_GE(value.size(), 2u);
    EXPECT_EQ(value.substr(value.size() - 2), L"ok");
}

TEST_F(SettingsFileOnDisk, AHugeFileIsNoSettingsFile)
{
    std::filesystem::create_directories(store.fileOf(product).parent_path());
    std::ofstream(store.fileOf(product), std::ios::binary) << "Name=value\n" << std::string(2 << 20, '#');
    EXPECT_EQ(settings.readValue(L"Name"), L"");
}

TEST_F(SettingsFileOnDisk, AnUnreadableFileReadsEmpty)
{
    ASSERT_TRUE(store.setString(product, L"Name", L"value"));
    std::filesystem::permissions(store.fileOf(product), std::filesystem::perms::none);
    const int answer = testsupport::runUnprivileged([&] {
        if (access(store.fileOf(product).c_str(), R_OK) == 0)
            return 2; // readable after all: the check would prove nothing
        return settings.readValue(L"Name").empty() ? 0 : 1;
    });
    if (answer == testsupport::couldNotDropRights)
        GTEST_SKIP() << "this system lets no test process give up root's rights";
    EXPECT_EQ(answer, 0);
}

} // namespace
