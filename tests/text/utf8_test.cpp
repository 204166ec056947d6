#include <gtest/gtest.h>

#include <string>

#include "text/utf8.h"

namespace {

std::wstring Wide(const char* utf8) {
    std::wstring out = L"unset";
    EXPECT_TRUE(Utf8ToWide(utf8, out));
    return out;
}

std::string Narrow(const std::wstring& wide) {
    std::string out = "unset";
    EXPECT_TRUE(WideToUtf8(wide.c_str(), out));
    return out;
}

TEST(Utf8ToWideTest, NullFailsAndLeavesOutputAlone) {
    std::wstring out = L"kept";
    EXPECT_FALSE(Utf8ToWide(nullptr, out));
    EXPECT_EQ(out, L"kept");
}

TEST(Utf8ToWideTest, EmptyTextEmptiesTheOutput) {
    EXPECT_EQ(Wide(""), L"");
}

TEST(Utf8ToWideTest, EverySequenceLengthDecoded) {
    EXPECT_EQ(Wide("plain ASCII"), L"plain ASCII");
    EXPECT_EQ(Wide("\xC3\xA9t\xC3\xA9"), L"\u00E9t\u00E9");
    EXPECT_EQ(Wide("\xE2\x82\xAC \xEF\xBF\xBF"), L"\u20AC \uFFFF");
    EXPECT_EQ(Wide("\xF0\x9F\x98\x80|\xF4\x8F\xBF\xBF"), L"\U0001F600|\U0010FFFF");
}

TEST(Utf8ToWideTest, CatalogueNotesOutsideAsciiComeThroughWhole) {
    EXPECT_EQ(Wide("R\xC3\xA9sum\xC3\xA9 des corrections: \xC2\xAB"
                   "carte\xC2\xBB"),
              L"R\u00E9sum\u00E9 des corrections: \u00ABcarte\u00BB");
    EXPECT_EQ(Wide("\xC3\x84nderungen: Gr\xC3\xB6\xC3\x9F"
                   "e"),
              L"\u00C4nderungen: Gr\u00F6\u00DF"
              L"e");
    EXPECT_EQ(Wide("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), L"\u65E5\u672C\u8A9E");
}

// Each malformed piece becomes one U+FFFD and the text after it is kept.
TEST(Utf8ToWideTest, InvalidBytesReplacedRestKept) {
    EXPECT_EQ(Wide("a\x80z"), L"a\uFFFDz");
    EXPECT_EQ(Wide("a\xFF\xFEz"), L"a\uFFFD\uFFFDz");
    // Overlong forms are refused byte by byte.
    EXPECT_EQ(Wide("\xC0\xAF|\xE0\x80\xAF"), L"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD");
    // Beyond U+10FFFF.
    EXPECT_EQ(Wide("\xF4\x90\x80\x80z"), L"\uFFFD\uFFFD\uFFFD\uFFFDz");
    EXPECT_EQ(Wide("\xF8\x88\x80\x80\x80"), std::wstring(5, L'\uFFFD'));
}

TEST(Utf8ToWideTest, TruncatedSequencesGiveOneReplacement) {
    EXPECT_EQ(Wide("\xE2\x82"), L"\uFFFD");
    EXPECT_EQ(Wide("\xE2\x82z"), L"\uFFFDz");
    EXPECT_EQ(Wide("x\xF0\x9F\x98"), L"x\uFFFD");
    EXPECT_EQ(Wide("\xF0\x9F\x98\xC3\xA9"), L"\uFFFD\u00E9");
}

TEST(Utf8ToWideTest, EncodedSurrogatesNeverProduceSurrogates) {
    const std::wstring out = Wide("a\xED\xA0\x80\xED\xBF\xBFz");
    EXPECT_EQ(out, L"a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz");
    // The last code point below the surrogates still decodes.
    EXPECT_EQ(Wide("\xED\x9F\xBF"), L"\uD7FF");
}

TEST(Utf8ToWideTest, StringViewFormStopsAtItsLengthNotAtNul) {
    EXPECT_EQ(Utf8ToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(WideToUtf8Test, NullFailsAndLeavesOutputAlone) {
    std::string out = "kept";
    EXPECT_FALSE(WideToUtf8(nullptr, out));
    EXPECT_EQ(out, "kept");
}

TEST(WideToUtf8Test, RoundTripsNonAsciiText) {
    for (const std::wstring& text :
         {std::wstring(L""), std::wstring(L"http://dl.example/Gr\u00F6\u00DFe/patch 1.exe"),
          std::wstring(L"\u65E5\u672C\u8A9E \U0001F600 \u20AC")}) {
        EXPECT_EQ(Wide(Narrow(text).c_str()), text);
    }
    EXPECT_EQ(Narrow(L"\u00E9\u20AC\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(WideToUtf8Test, UnencodableCodePointsBecomeReplacement) {
    const std::string replacement = "\xEF\xBF\xBD";
    std::wstring lone = L"a";
    lone.push_back(static_cast<wchar_t>(0xD800));
    lone += L"b";
    EXPECT_EQ(Narrow(lone), "a" + replacement + "b");
    if constexpr (sizeof(wchar_t) == 4) {
        std::wstring beyond(1, static_cast<wchar_t>(0x110000));
        EXPECT_EQ(Narrow(beyond), replacement);
    }
}

}  // namespace
