#include "orva/Format.h"

#include "orva/WideText.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

namespace {

// Formats into a buffer one cell longer than `capacity`; that cell must stay untouched.
template <class Char>
std::basic_string<Char> fmt(std::size_t capacity, const Char* format, ...)
{
    std::vector<Char> buffer(capacity + 1, Char('#'));
    std::va_list args;
    va_start(args, format);
    const std::size_t length = orva::formatText(buffer.data(), capacity, format, args);
    va_end(args);
    EXPECT_LE(length, capacity);
    EXPECT_EQ(buffer[capacity], Char('#'));
    return std::basic_string<Char>(buffer.data(), std::min(length, capacity));
}

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

struct Case {
    const char* format;
    int argument;
    const char* expected;
};

// Also unknown conversions, which stand as written and take no argument.
const Case integerCases[] = {
    {"%d", -12, "-12"},    {"%04d", 7, "0007"},     {"%04d", -7, "-007"}, {"%02d", 5, "05"},
    {"%02d", 123, "123"},  {"[%5d]", 42, "[   42]"}, {"[%-5d]", 42, "[42   ]"}, {"%+d", 3, "+3"},
    {"%.3d", 5, "005"},    {"%u", -1, "4294967295"}, {"%x", 255, "ff"},   {"%#X", 255, "0XFF"},
    {"%o", 8, "10"},       {"%hd", 65537, "1"},      {"%c", 'A', "A"},    {"%%%d%%", 50, "%50%"},
    {"100%", 1, "100%"},   {"%y%d", 7, "%y7"},       {"%5y%d", 7, "%5y7"}, {"%I64d%d", 7, "%I64d7"},
};

TEST(FormatText, NumbersAndVerbatimTextInBothWidths)
{
    for (const Case& c : integerCases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(fmt(64, c.format, c.argument), c.expected);
        EXPECT_EQ(fmt(64, widen(c.format).c_str(), c.argument), widen(c.expected));
    }
    EXPECT_EQ(fmt(64, "%lld|%zu", -9000000000LL, static_cast<std::size_t>(4000000000U)), "-9000000000|4000000000");
    EXPECT_EQ(fmt(64, "%*d|%-*d|%.2f", 4, 1, 3, 2, 3.14159), "   1|2  |3.14");
    int untouched = 77;
    EXPECT_EQ(fmt(64, L"ab%ncd", &untouched), L"abcd");
    EXPECT_EQ(untouched, 77);
}

const char* const stringFormats[][2] = {
    {"[%s]", "[abc]"}, {"[%5s]", "[  abc]"}, {"[%-5s]", "[abc  ]"}, {"[%.2s]", "[ab]"}, {"[%4.1s]", "[   a]"},
};

// Windows reading everywhere: narrow format %s narrow, %ls wide; wide format %s and %ls wide, %hs narrow.
TEST(FormatText, StringConversionsTakeTheWindowsWidths)
{
    for (const auto& [format, expected] : stringFormats) {
        SCOPED_TRACE(format);
        const std::string f = format, head = f.substr(0, f.size() - 2);
        const std::string withL = head + "ls]", withH = head + "hs]";
        EXPECT_EQ(fmt(64, format, "abc"), expected);
        EXPECT_EQ(fmt(64, withL.c_str(), L"abc"), expected);
        EXPECT_EQ(fmt(64, widen(f).c_str(), L"abc"), widen(expected));
        EXPECT_EQ(fmt(64, widen(withL).c_str(), L"abc"), widen(expected));
        EXPECT_EQ(fmt(64, widen(withH).c_str(), "abc"), widen(expected));
    }
    const char* nullNarrow = nullptr;
    const wchar_t* nullWide = nullptr;
    EXPECT_EQ(fmt(64, "%s|%ls|%.3s", nullNarrow, nullWide, nullNarrow), "(null)|(null)|(nu");
    EXPECT_EQ(fmt(64, L"%s|%hs", nullWide, nullNarrow), L"(null)|(null)");
    const std::wstring text = L"caf\u00e9 \u65e5 \U0001F600";
    EXPECT_EQ(fmt(64, "<%ls>", text.c_str()), "<" + orva::toNative(text) + ">");
    EXPECT_EQ(fmt(64, L"<%hs>", orva::toNative(text).c_str()), L"<" + orva::fromNative(orva::toNative(text)) + L">");
}

// What a cut at `capacity` keeps: whole characters, up to the first that does not fit.
std::string fittingNative(const std::wstring& text, std::size_t capacity)
{
    std::string kept;
    for (std::size_t at = 0, units; at < text.size(); at += units) {
        units = sizeof(wchar_t) == 2 && text[at] >= 0xD800 && text[at] <= 0xDBFF ? 2 : 1;
        const std::string encoded = orva::toNative(text.substr(at, units));
        if (kept.size() + encoded.size() > capacity)
            break;
        kept += encoded;
    }
    return kept;
}

TEST(FormatText, CapacityCutNeverSplitsACharacter)
{
    EXPECT_EQ(fmt(0, "abc"), "");
    EXPECT_EQ(fmt(4, "ab%dcd", 12345), "ab12");
    EXPECT_EQ(fmt(3, "%-8s|", "ab"), "ab ");
    for (const std::wstring text : {L"a\u00e9b", L"ab\u65e5c", L"x\U0001F600y"}) {
        const std::string native = orva::toNative(text);
        // Native text may hold fewer characters than the wide text it came from.
        const std::wstring held = orva::fromNative(native);
        for (std::size_t capacity = 0; capacity <= native.size(); ++capacity) {
            SCOPED_TRACE(testing::Message() << "capacity " << capacity << " of " << native.size());
            EXPECT_EQ(fmt(capacity, "%ls", text.c_str()), fittingNative(text, capacity));
            EXPECT_EQ(fmt(capacity, "%s", native.c_str()), fittingNative(held, capacity));
            EXPECT_EQ(fmt(capacity, native.c_str()), fittingNative(held, capacity));
            const std::string precision = "%." + std::to_string(capacity) + "s";
            EXPECT_EQ(fmt(64, precision.c_str(), native.c_str()), fittingNative(held, capacity));
        }
    }
    // On Windows the emoji is a surrogate pair, written whole or not at all.
    const std::wstring pair = L"x\U0001F600";
    EXPECT_EQ(fmt(pair.size() - 1, L"%ls", pair.c_str()), L"x");
    EXPECT_EQ(fmt(pair.size() - 1, pair.c_str()), L"x");
    EXPECT_EQ(fmt(pair.size(), pair.c_str()), pair);
}

} // namespace
