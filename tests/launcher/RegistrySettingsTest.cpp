// The same cases on both platforms: the registry under Wine, settings files on Linux.
#include "launcher/RegistrySettings.h"

#include "launcher/SettingsStore.h"
#include "orva/WideText.h"

#include <gtest/gtest.h>

namespace {

class RegistrySettingsRead : public ::testing::Test {
protected:
    void SetUp() override { settings.productName = product; }

    SettingsStore store;
    const std::wstring product = store.uniqueProduct();
    launcher::RegistrySettings settings;
};

TEST_F(RegistrySettingsRead, StringValuesAndTheirLimits)
{
    struct Seed {
        const wchar_t* name;
        std::wstring value;
    };
    const Seed seeds[] = {
        {L"InstallDir", L"C:\\Program Files\\Gleaner"},
        {L"Empty", L""},
        {L"Equals", L"a=b=c"},
        {L"Padded", L"  padded  "},
        {L"Longest", std::wstring(4095, L'x')},
        {L"OneTooLong", std::wstring(4096, L'y')},
        {L"Huge", std::wstring(20000, L'z')},
    };
    for (const Seed& seed : seeds)
        ASSERT_TRUE(store.setString(product, seed.name, seed.value)) << seed.name;

    struct Case {
        const wchar_t* name;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"InstallDir", L"C:\\Program Files\\Gleaner"},
        {L"INSTALLDIR", L"C:\\Program Files\\Gleaner"},
        {L"installdir", L"C:\\Program Files\\Gleaner"},
        {L"Empty", L""},
        {L"Equals", L"a=b=c"},
        {L"Padded", L"  padded  "},
        {L"Longest", std::wstring(4095, L'x')},
        {L"OneTooLong", L""},
        {L"Huge", L""},
        {L"Missing", L""},
        {L"Install", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings.readValue(c.name), c.expected) << c.name;
}

TEST_F(RegistrySettingsRead, AMissingKeyReadsEmpty)
{
    ASSERT_TRUE(store.setString(store.uniqueProduct(), L"Name", L"elsewhere"));
    EXPECT_EQ(settings.readValue(L"Name"), L"");
}

TEST_F(RegistrySettingsRead, ValuesThatAreNoStringsReadEmpty)
{
    ASSERT_TRUE(store.setString(product, L"Text", L"text"));
    if (!store.setDword(product, L"Number", 0x41424344))
        GTEST_SKIP() << "this store has no value types";
    // Bytes that would pass for a terminated string must still be refused.
    ASSERT_TRUE(store.setBinary(product, L"Bytes", std::string("abc\0", 4)));
    EXPECT_EQ(settings.readValue(L"Number"), L"");
    EXPECT_EQ(settings.readValue(L"Bytes"), L"");
    EXPECT_EQ(settings.readValue(L"Text"), L"text");
}

TEST_F(RegistrySettingsRead, EveryReadOpensTheStoreAfresh)
{
    EXPECT_EQ(settings.readValue(L"Name"), L"");
    ASSERT_TRUE(store.setString(product, L"Name", L"first"));
    EXPECT_EQ(settings.readValue(L"Name"), L"first");
    ASSERT_TRUE(store.setString(product, L"Name", L"second"));
    EXPECT_EQ(settings.readValue(L"Name"), L"second");
    ASSERT_TRUE(store.removeValue(product, L"Name"));
    EXPECT_EQ(settings.readValue(L"Name"), L"");
}

TEST_F(RegistrySettingsRead, AnEmptyProductNameReadsTheParentKey)
{
    // The parent key is shared between tests running at once, so the value name is the unique one.
    const std::wstring name = store.uniqueProduct();
    ASSERT_TRUE(store.setString(L"", name, L"parent"));
    ASSERT_TRUE(store.setString(product, name, L"child"));
    settings.productName = L"";
    EXPECT_EQ(settings.readValue(name), L"parent");
    settings.productName = product;
    EXPECT_EQ(settings.readValue(name), L"child");
}

TEST_F(RegistrySettingsRead, NonAsciiTextComesBackUnchanged)
{
    const std::wstring value = L"Grüße";
    // Windows reads through the ANSI code page, which need not hold these.
    if (orva::fromNative(orva::toNative(value)) != value)
        GTEST_SKIP() << "the native code page cannot hold the text";
    ASSERT_TRUE(store.setString(product, L"Greeting", value));
    EXPECT_EQ(settings.readValue(L"Greeting"), value);
}

TEST(RegistrySettingsKey, KeyPathEndsInTheProductName)
{
    EXPECT_EQ(launcher::settingsKeyPath(L"Wayscope 10"), L"SOFTWARE\\Orvana\\Set\\Wayscope 10");
    EXPECT_EQ(launcher::settingsKeyPath(L""), L"SOFTWARE\\Orvana\\Set\\");
}

} // namespace
