#pragma once
// The download page redraws its progress text at most once per 100 ms, except for the texts the
// worker forces (phase texts), so that a fast transfer's notifications do not flood the window.

#include <cstdint>
#include <functional>

constexpr std::uint32_t kTextRefreshIntervalMs = 100;

class TextRefreshThrottle {
  public:
    // A millisecond counter that wraps at 32 bits.
    using Clock = std::function<std::uint32_t()>;

    // Uses platform::TickCountMs when clock is empty.
    explicit TextRefreshThrottle(Clock clock = {});

    // One text arrives: true when it is to be shown. The first call of a throttle's life only
    // sets the reference time, so its text is shown only when forced. A text is shown when
    // forced or when more than kTextRefreshIntervalMs passed since the last shown text (an
    // unsigned 32-bit difference, so the counter's wrap-around does no harm).
    bool ShouldShow(bool forced);
    // The text has been shown: the clock, read now, becomes the last shown time, so the time
    // the redraw took counts towards the interval.
    void MarkShown();

    // The one throttle of the process, which every download page shares.
    static TextRefreshThrottle& ProcessWide();

  private:
    Clock m_clock;
    bool m_started = false;
    std::uint32_t m_lastShown = 0;
};
