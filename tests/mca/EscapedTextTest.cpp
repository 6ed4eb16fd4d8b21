#include "mca/EscapedText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    std::string bytes;
    bool valid;
    std::string escaped;
};

TEST(EscapedText, ValidUtf8AndItsEscapes)
{
    const Row rows[] = {
        {"", true, ""},
        {"plain.txt", true, "plain.txt"},
        {"\xc3\xa9t\xc3\xa9", true, "\xc3\xa9t\xc3\xa9"},
        {"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},        // beyond the BMP
        {"lat\xe9", false, "lat\\xe9"},                         // Latin-1
        {"\xc3", false, "\\xc3"},                               // cut short
        {"\xc0\xaf", false, "\\xc0\\xaf"},                      // overlong '/'
        {"\xe0\x80\xaf", false, "\\xe0\\x80\\xaf"},             // overlong, three bytes
        {"\xed\xa0\x80", false, "\\xed\\xa0\\x80"},             // a surrogate
        {"\xf4\x90\x80\x80", false, "\\xf4\\x90\\x80\\x80"},    // past U+10FFFF
        {"\xff", false, "\\xff"},
        {"a\nb\tc\x7f", true, "a\\x0ab\\x09c\\x7f"},           // control characters: valid, escaped
        {std::string("nul\0x", 5), true, "nul\\x00x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.escaped);
        EXPECT_EQ(mca::isValidUtf8(row.bytes), row.valid);
        EXPECT_EQ(mca::escaped(row.bytes), row.escaped);
    }
}

TEST(EscapedText, WideTextShownWithItsControlCharactersEscaped)
{
    EXPECT_EQ(mca::shown(L"roads.dat"), "roads.dat");
    EXPECT_EQ(mca::shown(L"line\nbreak\r"), "line\\x0abreak\\x0d");
    EXPECT_EQ(mca::shown(std::wstring(L"a\0b", 3)), "a\\x00b");
    EXPECT_EQ(mca::shown(L"\x1b[31mred"), "\\x1b[31mred");
}

} // namespace
