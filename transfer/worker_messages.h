#pragma once
// What the download worker tells the download page, as window-message ids. They keep the
// values the wizard has always used, numbered from WM_APP.

#include <cstdint>

constexpr std::uint32_t WM_DL_SETPOS = 0x8010;
// lParam 1: a phase text, shown at once; 0: a transfer's progress line, with wParam the number
// of the file it is about (1 for the list's first entry; empty entries are not counted).
constexpr std::uint32_t WM_DL_SETTEXT = 0x8011;
// WM_DL_SETTEXT's wParam on the phase text that says what deltas saved (message 284).
constexpr std::uintptr_t kDeltaSummaryText = 284;
constexpr std::uint32_t WM_DL_SETRANGE = 0x8012;
constexpr std::uint32_t WM_DL_STARTED = 0x8018;
constexpr std::uint32_t WM_DL_FINISHED = 0x8019;
