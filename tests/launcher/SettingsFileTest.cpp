#include "launcher/SettingsFile.h"

#include "launcher/RegistrySettings.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsFileFor, MapsKeyPathsBelowSoftware)
{
    struct Case {
        const wchar_t* root;
        const wchar_t* key;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"/etc/xdg", L"SOFTWARE\\Orvana\\Set\\Wayscope 10", L"/etc/xdg/Orvana/Set/Wayscope 10.conf"},
        {L"/etc/xdg/", L"SOFTWARE\\Orvana\\Set\\Wayscope 10", L"/etc/xdg/Orvana/Set/Wayscope 10.conf"},
        {L"/r", L"SOFTWARE\\Orvana\\Set\\", L"/r/Orvana/Set.conf"},
        {L"/r", L"SOFTWARE\\Orvana\\Set", L"/r/Orvana/Set.conf"},
        {L"/r", L"SOFTWARE\\A\\B\\C\\D", L"/r/A/B/C/D.conf"},
        {L"/r", L"SOFTWARE\\Straße", L"/r/Straße.conf"},
        {L"/r", L"HARDWARE\\Orvana", L""},
        {L"/r", L"SOFTWARE", L""},
        {L"/r", L"XSOFTWARE\\Orvana", L""},
        {L"/r", L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(launcher::settingsFileFor(c.root, c.key), c.expected) << c.key;

    EXPECT_EQ(launcher::settingsFileFor(L"/etc/xdg", launcher::settingsKeyPath(L"P")), L"/etc/xdg/Orvana/Set/P.conf");
    EXPECT_EQ(launcher::settingsFileFor(L"/etc/xdg", launcher::settingsKeyPath(L"")), L"/etc/xdg/Orvana/Set.conf");
}

TEST(FindSetting, LineRules)
{
    struct Case {
        std::string text;
        const char* name;
        bool found;
        std::string value;
    };
    const Case cases[] = {
        {"Name=Value\n", "Name", true, "Value"},
        {"Name=Value", "Name", true, "Value"},
        {"name=Value\n", "NAME", true, "Value"},
        {"Other=1\nName=Value\r\n", "Name", true, "Value"},
        {"Name=a\rb\r\n", "Name", true, "a\rb"},
        {"Name=\n", "Name", true, ""},
        {"Name=a=b==c\n", "Name", true, "a=b==c"},
        {"Name=a#b;c\n", "Name", true, "a#b;c"},
        {"Name=first\nNAME=second\n", "Name", true, "first"},
        {"# Name=hidden\n; Name=hidden\nName=shown\n", "Name", true, "shown"},
        {"\n\r\n\nName=after blanks", "Name", true, "after blanks"},
        {"Name\nName=after a line without equals\n", "Name", true, "after a line without equals"},
        {"Name\n", "Name", false, ""},
        {"#Name=x\n;Name=y\n", "Name", false, ""},
        {"Names=x\nNam=y\n", "Name", false, ""},
        {"", "Name", false, ""},
        // Only ASCII letters fold.
        {"N\xC3\xA4me=x\n", "N\xC3\xA4ME", true, "x"},
        {"N\xC3\xA4me=x\n", "N\xC3\x84ME", false, ""},
        {std::string("Bin\0ary\nName=v\0w\n", 18), "Name", true, std::string("v\0w", 3)},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(launcher::findSetting(c.text, c.name, value), c.found) << c.text;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

} // namespace
