#include "orva/WideText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WideText, Utf16RoundTripsSurrogatePairsAndCarriesLoneSurrogates)
{
    EXPECT_EQ(orva::toUtf16(L"a\U0001F600"), (std::u16string{u'a', 0xD83D, 0xDE00}));
    EXPECT_EQ(orva::fromUtf16(u"a\U0001F600"), L"a\U0001F600");
    for (const std::wstring text : {L"", L"caf\u00e9 \u65e5", L"\U00010000\U0010FFFF"})
        EXPECT_EQ(orva::fromUtf16(orva::toUtf16(text)), text);
    for (const std::u16string& lone : {std::u16string{0xD800, u'x'}, std::u16string{u'x', 0xDBFF},
                                      std::u16string{0xDC00, 0xD800}}) {
        EXPECT_EQ(orva::fromUtf16(lone), std::wstring(lone.begin(), lone.end()));
        EXPECT_EQ(orva::toUtf16(orva::fromUtf16(lone)), lone);
    }
}

TEST(WideText, NativeRoundTripsWhatItHoldsAndMarksWhatItCannot)
{
    EXPECT_EQ(orva::fromNative(orva::toNative(L"caf\u00e9 r\u00e9sum\u00e9")), L"caf\u00e9 r\u00e9sum\u00e9");
    // One character the native text cannot hold is one '?'.
    EXPECT_EQ(orva::toNative(std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b'}), "a?b");
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(orva::toNative(L"a\U0001F600b"), "a?b");
    }
}

TEST(WideText, NativeIsUtf8OnLinux)
{
    if constexpr (sizeof(wchar_t) != 4)
        GTEST_SKIP() << "native text is the ANSI code page here";
    const std::pair<std::wstring, std::string> cases[] = {
        {L"caf\u00e9", "caf\xc3\xa9"},
        {L"\u07ff\u0800\u65e5", "\xdf\xbf\xe0\xa0\x80\xe6\x97\xa5"},
        {L"\U0001F600\U0010FFFF", "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf"},
    };
    for (const auto& [wide, utf8] : cases) {
        EXPECT_EQ(orva::toNative(wide), utf8);
        EXPECT_EQ(orva::fromNative(utf8), wide);
    }
}

TEST(WideText, MalformedUtf8GivesOneReplacementPerBadByte)
{
    if constexpr (sizeof(wchar_t) != 4)
        GTEST_SKIP() << "native text is the ANSI code page here";
    const std::pair<std::string, std::wstring> cases[] = {
        {"a\xff" "b", L"a\xfffd" L"b"},                           // stray byte
        {"a\xc3", L"a\xfffd"},                                    // cut short
        {"\xe6\x97x", L"\xfffd\xfffdx"},                          // broken sequence
        {"\xc0\xaf", L"\xfffd\xfffd"},                            // overlong
        {"\xed\xa0\x80", L"\xfffd\xfffd\xfffd"},                  // encoded surrogate
        {"\xf4\x90\x80\x80", L"\xfffd\xfffd\xfffd\xfffd"},        // beyond U+10FFFF
    };
    for (const auto& [bytes, decoded] : cases)
        EXPECT_EQ(orva::fromNative(bytes), decoded);
}

} // namespace
