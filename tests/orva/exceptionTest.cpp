#include "orva/exception.h"

#include "orva/WideText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

const std::string prefix = "orvana exception: ";
constexpr std::size_t maxText = orva::exception::messageSize - 1;

TEST(Exception, TextIsPrefixAndMessageCutAt1023)
{
    EXPECT_STREQ(orva::exception("").what(), "orvana exception: ");
    EXPECT_EQ(std::string(orva::exception("open %s (%d%%)", "f", 4).what()), prefix + "open f (4%)");
    const std::string longText(2000, 'x');
    EXPECT_EQ(std::string(orva::exception("%s", longText.c_str()).what()),
              prefix + longText.substr(0, maxText - prefix.size()));
    // A last character that would straddle the limit is left out whole.
    const std::string fill(maxText - prefix.size() - 1, 'a');
    std::string expected = prefix + fill + orva::toNative(L"\u00e9");
    if (expected.size() > maxText)
        expected.resize(maxText - 1);
    EXPECT_EQ(std::string(orva::exception("%s%ls", fill.c_str(), L"\u00e9").what()), expected);
}

TEST(Exception, CopiesKeepTheTextWithoutASecondPrefix)
{
    const orva::exception original("code %d", 7);
    orva::exception assigned("other");
    assigned = original;
    const orva::exception copied(assigned);
    EXPECT_STREQ(assigned.what(), "orvana exception: code 7");
    EXPECT_STREQ(copied.what(), "orvana exception: code 7");
    const orva::exception longOne("%s", std::string(2000, 'y').c_str());
    EXPECT_STREQ(orva::exception(longOne).what(), longOne.what());
}

TEST(Exception, KindsAndTheirDetailsSurviveCopies)
{
    const orva::exception damaged(orva::damagedBlock(41), "block %d", 41);
    const orva::exception system(orva::systemFailure(13), "denied");
    const orva::exception missing(orva::ErrorKind::NotFound, "gone");
    const orva::exception plain("plain");
    EXPECT_EQ(plain.kind(), orva::ErrorKind::Other);
    EXPECT_EQ(missing.kind(), orva::ErrorKind::NotFound);
    struct Row {
        const orva::exception& original;
        orva::ErrorKind kind;
        std::int64_t block;
        int systemError;
    } const rows[] = {{damaged, orva::ErrorKind::Damaged, 41, 0},
                      {system, orva::ErrorKind::System, -1, 13},
                      {missing, orva::ErrorKind::NotFound, -1, 0},
                      {plain, orva::ErrorKind::Other, -1, 0}};
    for (const Row& row : rows) {
        orva::exception assigned("other");
        assigned = row.original;
        const orva::exception copied(row.original);
        for (const orva::exception* each : {&row.original, static_cast<const orva::exception*>(&assigned), &copied}) {
            EXPECT_EQ(each->kind(), row.kind) << row.original.what();
            EXPECT_EQ(each->block(), row.block) << row.original.what();
            EXPECT_EQ(each->systemError(), row.systemError) << row.original.what();
            EXPECT_STREQ(each->what(), row.original.what());
        }
    }
    // A detail belongs to its kind alone.
    orva::ErrorCause mixed = orva::systemFailure(5);
    mixed.block = 9;
    EXPECT_EQ(orva::exception(mixed, "x").block(), -1);
    mixed = orva::damagedBlock(9);
    mixed.systemError = 5;
    EXPECT_EQ(orva::exception(mixed, "x").systemError(), 0);
}

// The process starts in the "C" locale, where the C library's own "%ls" gives up on non-ASCII.
TEST(Exception, NonAsciiWidePathComesOutWholeInAnyLocale)
{
    const std::wstring path = L"/data/caf\u00e9/\u65e5\u672c.txt";
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "C.UTF-8", ""}) {
        if (!std::setlocale(LC_ALL, locale))
            continue;
        SCOPED_TRACE(locale);
        const std::string text = orva::exception("can't open %ls", path.c_str()).what();
        EXPECT_EQ(text, prefix + "can't open " + orva::toNative(path));
        if constexpr (sizeof(wchar_t) == 4) {
            EXPECT_EQ(text, prefix + "can't open /data/caf\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.txt");
        }
    }
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
