#include "ui/terminal_safe.h"

#include <gtest/gtest.h>

#include "text/utf8.h"

namespace {

std::string Utf8(const std::wstring& text) {
    return WideToUtf8(std::wstring_view(text));
}

TEST(TerminalSafeTest, AnAnsiEscapeSequenceLosesItsEscape) {
    // Clear the screen, then red text: the escape goes, the rest stays readable.
    EXPECT_EQ(Utf8(TerminalSafe(L"Fixed\x1b[2J\x1b[31mRed")), Utf8(L"Fixed\uFFFD[2J\uFFFD[31mRed"));
}

TEST(TerminalSafeTest, TheC1ControlsAreReplacedToo) {
    // U+009B is a CSI of its own for a terminal that reads C1 controls; U+0085 is NEL.
    EXPECT_EQ(Utf8(TerminalSafe(L"a\u009b2Jb\u0080c\u009fd\u0085e")),
              Utf8(L"a\uFFFD2Jb\uFFFDc\uFFFDd\uFFFDe"));
}

TEST(TerminalSafeTest, OtherC0ControlsAndDeleteAreReplaced) {
    const std::wstring controls{L'\0', L'\a', L'\b', L'\r', L'\v', L'\f', L'\x1f', L'\x7f'};
    const std::wstring safe = TerminalSafe(controls);
    EXPECT_EQ(safe, std::wstring(controls.size(), L'\uFFFD'));
}

TEST(TerminalSafeTest, TabLineFeedAndOrdinaryTextAreKept) {
    // The neighbours of the replaced ranges (space, tilde, U+00A0) and letters of every script
    // the launcher shows stay as they are.
    const std::wstring text = L"Patch 1.1 :\n\tBr\u00fccke ~ \u00a0\u00e9\u4e2d\uFFFD";
    EXPECT_EQ(TerminalSafe(text), text);
}

TEST(TerminalSafeTest, EveryCharacterKeepsItsPlace) {
    const std::wstring text = L"\x1b]0;title\a\u009b\t\n";
    const std::wstring safe = TerminalSafe(text);
    ASSERT_EQ(safe.size(), text.size());
    EXPECT_EQ(safe.substr(2, 8), L"0;title\uFFFD");
    EXPECT_EQ(safe.substr(safe.size() - 2), L"\t\n");
}

}  // namespace
