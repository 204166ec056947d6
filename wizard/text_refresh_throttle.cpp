#include "wizard/text_refresh_throttle.h"

#include <utility>

#include "platform/platform.h"

TextRefreshThrottle::TextRefreshThrottle(Clock clock) : m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] { return platform::TickCountMs(); };
}

bool TextRefreshThrottle::ShouldShow(bool forced) {
    if (!m_started) {
        m_started = true;
        m_lastShown = m_clock();
    }
    const std::uint32_t elapsed = m_clock() - m_lastShown;
    return forced || elapsed > kTextRefreshIntervalMs;
}

void TextRefreshThrottle::MarkShown() {
    m_started = true;
    m_lastShown = m_clock();
}

TextRefreshThrottle& TextRefreshThrottle::ProcessWide() {
    static TextRefreshThrottle throttle;
    return throttle;
}
