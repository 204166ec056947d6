#pragma once
// The progress line of one file transfer and its way to the download page: the notify function
// every transfer of the worker runs with.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/window_messages.h"
#include "transfer/curl_wrapper.h"

// Room for a progress line, terminator included; a longer line is cut to fit.
inline constexpr std::size_t kProgressTextCapacity = 256;
// A progress line is posted at most this often; the page redraws at most every 100 ms, so it
// always has a line younger than its own refresh to show.
inline constexpr std::uint32_t kProgressTextIntervalMs = 20;

// Per-transfer state of the progress notification, reached through TransferProgress::context.
struct ProgressContext {
    std::wstring displayName;
    platform::WindowMessageQueue* windowCell = nullptr;
    // The file's number in the patch, sent with each line (WM_DL_SETTEXT's wParam).
    std::uintptr_t fileNumber = 0;
    // Bytes on disk when the transfer started, so a resumed file is shown against its size.
    float baseBytes = 0;
    // What was last posted, so the receiver is not flooded with lines it cannot show.
    int lastPercent = -1;
    bool textPosted = false;
    std::uint32_t lastTextTick = 0;
    // The byte count of the last line: libcurl notifies while nothing arrives too, and a line
    // repeated then would tell the page the transfer moves (it shows a stall once lines stop).
    double lastTextReceived = -1;
};

// The progress line "<206> <name> <done> MB / <total> MB (<speed> <unit>)" and the percent of
// the current file. False, with nothing written, while the size to receive is unknown.
bool FormatProgressLine(const TransferProgress& record, const std::wstring& displayName,
                        float baseBytes, std::wstring& text, int& percent);

// The notify function of every transfer: posts the line and the position to the page; no line
// while no byte has come since the last one.
void ReportTransferProgress(TransferProgress* record);
