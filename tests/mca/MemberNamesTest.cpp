#include "mca/MemberNames.h"

#include "orva/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mca::NamePlatform;

struct Row {
    std::wstring name;
    const char* onLinux;   // nullptr: extracted
    const char* onWindows;
};

const char* const separator = "it holds a separator";
const char* const colon = "it holds a drive colon";
const char* const device = "it names a Windows device";
const char* const trailing = "it ends in a dot or a space";
const char* const forbidden = "it holds a character that Windows does not allow in a name";
const char* const notUnicode = "it is not valid Unicode";

TEST(MemberNames, RulesOfEachPlatform)
{
    const Row rows[] = {
        {L"roads.dat", nullptr, nullptr},
        {L"", "it is empty", "it is empty"},
        {L".", "it names a directory", "it names a directory"},
        {L"..", "it names a directory", "it names a directory"},
        {L"...", nullptr, trailing},
        {L".hidden", nullptr, nullptr},
        {L"a/b", separator, separator},
        {L"a\\b", separator, separator},
        {std::wstring(L"a\0b", 3), "it holds a NUL", "it holds a NUL"},
        {L"c:x.txt", nullptr, colon},
        {L"x:stream", nullptr, colon},
        {L"CON", nullptr, device},
        {L"con.txt", nullptr, device},
        {L"Nul.tar.gz", nullptr, device},
        {L"aux ", nullptr, trailing},
        {L"prn  .txt", nullptr, device},
        {L"COM1", nullptr, device},
        {L"lpt9.log", nullptr, device},
        {L"COM0", nullptr, nullptr},
        {L"COM10", nullptr, nullptr},
        {L"LPT", nullptr, nullptr},
        {L"CONSOLE", nullptr, nullptr},
        {L"xcon", nullptr, nullptr},
        {L"name.", nullptr, trailing},
        {L"name ", nullptr, trailing},
        {L" leading", nullptr, nullptr},
        {L"a?b", nullptr, forbidden},
        {L"a*b", nullptr, forbidden},
        {L"a<b>", nullptr, forbidden},
        {L"tab\there", nullptr, forbidden},
        {L"\u00e9t\u00e9.txt", nullptr, nullptr},
        // A file name holds 255 bytes of UTF-8 on Linux, 255 UTF-16 units on Windows.
        {std::wstring(255, L'a'), nullptr, nullptr},
        {std::wstring(256, L'a'), "it is longer than 255 bytes", "it is longer than 255 characters"},
        {std::wstring(127, L'\u00e9'), nullptr, nullptr},
        {std::wstring(128, L'\u00e9'), "it is longer than 255 bytes", nullptr},
        {std::wstring(85, L'\u65e5'), nullptr, nullptr},
        {std::wstring(86, L'\u65e5'), "it is longer than 255 bytes", nullptr},
        {std::wstring(L"x") + orva::fromUtf16(u"\xd800"), notUnicode, notUnicode},
        {orva::fromUtf16(u"\xdc00y"), notUnicode, notUnicode},
        {orva::fromUtf16(u"\xd83d\xde00"), nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(orva::toUtf8(row.name));
        const char* refusedOnLinux = mca::refusedName(row.name, NamePlatform::onLinux);
        const char* refusedOnWindows = mca::refusedName(row.name, NamePlatform::onWindows);
        EXPECT_EQ(std::string(refusedOnLinux ? refusedOnLinux : "-"), std::string(row.onLinux ? row.onLinux : "-"));
        EXPECT_EQ(std::string(refusedOnWindows ? refusedOnWindows : "-"), std::string(row.onWindows ? row.onWindows : "-"));
    }
}

// Refused names, and later members of a name already used: in table order, each once.
TEST(MemberNames, ProblemsOfATableNameEachRefusedOrUnreachableMember)
{
    const std::vector<std::wstring> names = {L"a", L"b/c", L"a", L"CON", L"b/c", L"a", L"d"};
    struct Expected {
        std::size_t member;
        const char* refused;
        std::size_t sameNameAs;
    };
    const std::size_t none = mca::NameProblem::noMember;
    const std::vector<Expected> onLinux = {{1, separator, none}, {2, nullptr, 0}, {4, separator, none}, {5, nullptr, 0}};
    const std::vector<Expected> onWindows = {
        {1, separator, none}, {2, nullptr, 0}, {3, device, none}, {4, separator, none}, {5, nullptr, 0}};
    for (const auto& [platform, expected] : {std::pair(NamePlatform::onLinux, onLinux), std::pair(NamePlatform::onWindows, onWindows)}) {
        const std::vector<mca::NameProblem> problems = mca::nameProblems(names, platform);
        ASSERT_EQ(problems.size(), expected.size()) << mca::platformName(platform);
        for (std::size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].member, expected[i].member);
            EXPECT_EQ(std::string(problems[i].refused ? problems[i].refused : "-"),
                      std::string(expected[i].refused ? expected[i].refused : "-"));
            EXPECT_EQ(problems[i].sameNameAs, expected[i].sameNameAs);
        }
    }
    EXPECT_TRUE(mca::nameProblems({}, NamePlatform::onLinux).empty());
}

TEST(MemberNames, ChosenMembersKeepTableOrder)
{
    struct Choice {
        std::vector<std::wstring> wanted;
        bool known;
        std::vector<std::size_t> positions;
        std::wstring unknown;
    };
    // Two members of one name (an archive made elsewhere may hold them): naming it takes both.
    const std::vector<std::wstring> names = {L"roads.dat", L"names.txt", L"empty", L"names.txt"};
    const Choice choices[] = {
        {{}, true, {0, 1, 2, 3}, L""},
        {{L"empty", L"roads.dat"}, true, {0, 2}, L""},
        {{L"names.txt"}, true, {1, 3}, L""},
        {{L"empty", L"empty"}, true, {2}, L""},
        {{L"roads.dat", L"Roads.dat", L"nope"}, false, {}, L"Roads.dat"},
        {{L""}, false, {}, L""},
    };
    for (const Choice& choice : choices) {
        std::vector<std::size_t> positions = {99};
        std::wstring unknown = L"-";
        const bool known = mca::chooseMembers(names, choice.wanted, positions, unknown);
        EXPECT_EQ(known, choice.known);
        if (known)
            EXPECT_EQ(positions, choice.positions);
        else
            EXPECT_EQ(unknown, choice.unknown);
    }
}

} // namespace
