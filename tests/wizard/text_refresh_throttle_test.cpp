// The progress text's 100 ms throttle, driven through the download page's own handler with a
// clock the test moves by hand.

#include "wizard/text_refresh_throttle.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/patch_info.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/download_page_logic.h"

namespace {

class TextThrottleTest : public ::testing::Test {
  protected:
    TextThrottleTest()
        : m_throttle([this] { return m_now; }), m_page(m_info, m_view, &m_throttle) {}

    void Posted(const std::wstring& text) { m_page.OnSetProgressText(text, 1, 0); }
    void Forced(const std::wstring& text) { m_page.OnSetProgressText(text, 0, 1); }
    std::vector<std::wstring> Shown() const { return m_view.With(L"text"); }

    std::uint32_t m_now = 5000;
    TextRefreshThrottle m_throttle;
    PatchInfo m_info;
    RecordingView m_view;
    DownloadPageLogic m_page;
};

TEST_F(TextThrottleTest, FirstPostedTextOfALifeIsDropped) {
    // The first call only sets the reference time, so an unforced text is measured against
    // itself and never passes.
    Posted(L"first");
    m_now += 50;
    Posted(L"second");
    EXPECT_TRUE(Shown().empty());
    m_now += 51;
    Posted(L"third");
    EXPECT_EQ(Shown(), std::vector<std::wstring>{L"text third"});
}

TEST_F(TextThrottleTest, FirstForcedTextIsShownAtOnce) {
    Forced(L"Downloading Patch");
    EXPECT_EQ(Shown(), std::vector<std::wstring>{L"text! Downloading Patch"});
}

TEST_F(TextThrottleTest, TwoPostedTextsWithin100MsShowOnlyTheFirstThenAForcedOneShows) {
    Forced(L"Downloading Patch");
    m_now += 200;
    Posted(L"line 1");
    m_now += 60;
    Posted(L"line 2");
    m_now += 1;
    Forced(L"Verifying");

    EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"text! Downloading Patch", L"text line 1",
                                                  L"text! Verifying"}));
}

TEST_F(TextThrottleTest, ExactlyTheIntervalIsNotEnough) {
    Forced(L"start");
    m_now += kTextRefreshIntervalMs;
    Posted(L"at 100");
    m_now += 1;
    Posted(L"at 101");
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"text! start", L"text at 101"}));
}

TEST_F(TextThrottleTest, AForcedTextRestartsTheInterval) {
    Forced(L"start");
    m_now += 150;
    Forced(L"phase");
    m_now += 60;
    Posted(L"too soon after the phase");
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"text! start", L"text! phase"}));
}

TEST_F(TextThrottleTest, TimeSpentShowingCountsTowardsTheInterval) {
    // The view takes 80 ms to draw; the clock is read again afterwards, so a text 120 ms after
    // the one that was drawn is only 40 ms after the drawing ended.
    m_view.onText = [this](const std::wstring&, bool) { m_now += 80; };
    Forced(L"slow");
    m_now += 40;
    Posted(L"dropped");
    m_now += 61;
    Posted(L"shown");
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"text! slow", L"text shown"}));
}

TEST_F(TextThrottleTest, ClockWrapAroundDoesNotFreezeTheText) {
    m_now = 0xFFFFFFF0u;
    Forced(L"before the wrap");
    m_now = 0x00000060u;  // 112 ms later, past the wrap
    Posted(L"after the wrap");
    m_now = 0x00000090u;  // 48 ms later
    Posted(L"too soon");
    EXPECT_EQ(Shown(),
              (std::vector<std::wstring>{L"text! before the wrap", L"text after the wrap"}));
}

TEST_F(TextThrottleTest, PositionsAndRangesAreNotThrottled) {
    Forced(L"start");
    m_page.OnSetProgressPos(10, 0);
    m_page.OnSetProgressPos(11, 0);
    m_page.OnSetProgressPos(12, 0);
    // Only the low 16 bits of each bound count.
    m_page.OnSetProgressRange(0x10005, 0x20064);
    EXPECT_EQ(m_view.With(L"pos"), (std::vector<std::wstring>{L"pos 10", L"pos 11", L"pos 12"}));
    EXPECT_EQ(m_view.With(L"range"), std::vector<std::wstring>{L"range 5 100"});
}

}  // namespace
