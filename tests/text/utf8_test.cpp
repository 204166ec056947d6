#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

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

// The wide form of bytes that are not UTF-8: each byte carried as U+DC00 + byte.
std::wstring Carried(std::string_view bytes) {
    std::wstring out;
    for (const char byte : bytes)
        out.push_back(static_cast<wchar_t>(0xDC00 + static_cast<unsigned char>(byte)));
    return out;
}

// Each byte of a malformed piece is carried on its own and the text after it is kept; a person
// sees one U+FFFD per carried byte.
TEST(Utf8ToWideTest, InvalidBytesCarriedRestKept) {
    EXPECT_EQ(Wide("a\x80z"), L"a" + Carried("\x80") + L"z");
    EXPECT_EQ(ForDisplay(Wide("a\x80z")), L"a\uFFFDz");
    EXPECT_EQ(Wide("a\xFF\xFEz"), L"a" + Carried("\xFF\xFE") + L"z");
    EXPECT_EQ(ForDisplay(Wide("a\xFF\xFEz")), L"a\uFFFD\uFFFDz");
    // Overlong forms are refused byte by byte.
    EXPECT_EQ(Wide("\xC0\xAF|\xE0\x80\xAF"), Carried("\xC0\xAF") + L"|" + Carried("\xE0\x80\xAF"));
    EXPECT_EQ(ForDisplay(Wide("\xC0\xAF|\xE0\x80\xAF")), L"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD");
    // Beyond U+10FFFF.
    EXPECT_EQ(Wide("\xF4\x90\x80\x80z"), Carried("\xF4\x90\x80\x80") + L"z");
    EXPECT_EQ(ForDisplay(Wide("\xF4\x90\x80\x80z")), L"\uFFFD\uFFFD\uFFFD\uFFFDz");
    EXPECT_EQ(Wide("\xF8\x88\x80\x80\x80"), Carried("\xF8\x88\x80\x80\x80"));
    EXPECT_EQ(ForDisplay(Wide("\xF8\x88\x80\x80\x80")), std::wstring(5, L'\uFFFD'));
}

// Every byte of a cut-off sequence comes through, so the name still reaches the file system
// whole; a person sees one U+FFFD per byte.
TEST(Utf8ToWideTest, TruncatedSequencesAreCarriedByteByByte) {
    EXPECT_EQ(Wide("\xE2\x82"), Carried("\xE2\x82"));
    EXPECT_EQ(Wide("\xE2\x82z"), Carried("\xE2\x82") + L"z");
    EXPECT_EQ(Wide("x\xF0\x9F\x98"), L"x" + Carried("\xF0\x9F\x98"));
    EXPECT_EQ(Wide("\xF0\x9F\x98\xC3\xA9"), Carried("\xF0\x9F\x98") + L"\u00E9");
    EXPECT_EQ(ForDisplay(Wide("\xF0\x9F\x98\xC3\xA9")), L"\uFFFD\uFFFD\uFFFD\u00E9");
}

TEST(Utf8ToWideTest, EncodedSurrogatesAreCarriedNeverDecoded) {
    const std::wstring out = Wide("a\xED\xA0\x80\xED\xBF\xBFz");
    EXPECT_EQ(out, L"a" + Carried("\xED\xA0\x80\xED\xBF\xBF") + L"z");
    // The surrogate the bytes spell (U+D800, U+DFFF) never appears as a character of its own.
    EXPECT_EQ(out.find(static_cast<wchar_t>(0xD800)), std::wstring::npos);
    EXPECT_EQ(out.find(static_cast<wchar_t>(0xDFFF)), std::wstring::npos);
    EXPECT_EQ(ForDisplay(out), L"a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz");
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
    // Only U+DC80..U+DCFF carry a byte; the low surrogates just outside that range do not.
    for (const wchar_t outside :
         {wchar_t(0xDC00), wchar_t(0xDC7F), wchar_t(0xDD00), wchar_t(0xDFFF)}) {
        EXPECT_EQ(Narrow(std::wstring(1, outside)), replacement) << int(outside);
        EXPECT_EQ(ForDisplay(std::wstring(1, outside)), L"\uFFFD") << int(outside);
    }
    if constexpr (sizeof(wchar_t) == 4) {
        std::wstring beyond(1, static_cast<wchar_t>(0x110000));
        EXPECT_EQ(Narrow(beyond), replacement);
    }
}

// The promise a folder name leans on: bytes -> wide -> bytes gives the same bytes, whatever
// they are.
class ByteRoundTripTest : public ::testing::Test {
  protected:
    static void ExpectRoundTrip(std::string_view bytes) {
        const std::wstring wide = Utf8ToWide(bytes);
        EXPECT_EQ(WideToUtf8(std::wstring_view(wide)), bytes) << Hex(bytes);
        // The same through the forms that take a terminated text.
        std::string narrow;
        ASSERT_TRUE(WideToUtf8(wide.c_str(), narrow));
        EXPECT_EQ(narrow, bytes.substr(0, bytes.find('\0')));
    }
    static std::string Hex(std::string_view bytes) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string out;
        for (const char byte : bytes) {
            const auto b = static_cast<unsigned char>(byte);
            out += kDigits[b >> 4];
            out += kDigits[b & 15];
            out += ' ';
        }
        return out;
    }
};

TEST_F(ByteRoundTripTest, EveryLatin1FolderNameComesBackByteForByte) {
    // Each Latin-1 letter alone, between ASCII and next to every other one: alone a byte of
    // 0xC2..0xF4 looks like a lead byte and 0x80..0xBF like a continuation, so the pairs also
    // meet the cases where two Latin-1 bytes happen to spell a valid sequence.
    for (int a = 0x80; a <= 0xFF; ++a) {
        const std::string alone = "Spiele " + std::string(1, char(a)) + "x";
        ExpectRoundTrip(alone);
        for (int b = 0x80; b <= 0xFF; ++b)
            ExpectRoundTrip(std::string{char(a), char(b)});
    }
    ExpectRoundTrip("/home/joueur/Jeux/Velmora \xE9t\xE9 d\xE9j\xE0 \xC0 l'\xEEle");
    ExpectRoundTrip(
        "/home/spieler/Gr\xF6\xDF"
        "e \xDC"
        "bersicht");
}

TEST_F(ByteRoundTripTest, EveryKindOfMalformedSequenceComesBack) {
    const std::vector<std::string> pieces = {"\x80",
                                             "\xBF",
                                             "\x80\x80\x80",  // stray continuation bytes
                                             "\xC3",
                                             "\xE2\x82",
                                             "\xF0\x9F\x98",  // truncated sequences
                                             "\xC0\x80",
                                             "\xC1\xBF",
                                             "\xE0\x80\x80",  // overlong forms
                                             "\xE0\x9F\xBF",
                                             "\xF0\x8F\xBF\xBF",  //
                                             "\xED\xA0\x80",
                                             "\xED\xBF\xBF",  // surrogates spelt in UTF-8
                                             "\xF4\x90\x80\x80",
                                             "\xF7\xBF\xBF\xBF",  // beyond U+10FFFF
                                             "\xF8\x88\x80\x80\x80",
                                             "\xFE",
                                             "\xFF"};  // lead bytes UTF-8 never uses
    for (const std::string& piece : pieces) {
        ExpectRoundTrip(piece);
        ExpectRoundTrip("a" + piece + "z");
        ExpectRoundTrip(piece + "\xC3\xA9" + piece);
        // Each byte carried on its own: as many U+FFFD on screen as bytes in the piece.
        EXPECT_EQ(ForDisplay(Utf8ToWide(piece)), std::wstring(piece.size(), L'\uFFFD'))
            << Hex(piece);
    }
}

TEST_F(ByteRoundTripTest, ValidTextIsUntouchedByDisplay) {
    const std::wstring text = L"R\u00E9sum\u00E9 \u65E5\u672C \U0001F600 \uFFFD";
    EXPECT_EQ(ForDisplay(text), text);
    EXPECT_EQ(ForDisplay(L""), L"");
}

TEST_F(ByteRoundTripTest, ValidUtf8ByteSequencesRoundTripAtEveryLength) {
    // The edges of each sequence length, next to malformed bytes, must not pull them in.
    for (const char* bytes : {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF",
                              "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        ExpectRoundTrip(bytes);
        ExpectRoundTrip(std::string("\xFF") + bytes + "\x80");
        EXPECT_EQ(Utf8ToWide(std::string("\xFF") + bytes).size(), 2u) << Hex(bytes);
    }
}

}  // namespace
