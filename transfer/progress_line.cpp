#include "transfer/progress_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/platform.h"
#include "text/messages.h"
#include "transfer/worker_messages.h"

namespace {

// printf's "%.<precision>f" without the C locale's say: a GUI toolkit may have switched the
// process to a locale that writes a decimal comma.
void AppendFixed(std::wstring& out, double value, int precision) {
    char digits[128];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc{}) {
        out += L'?';
        return;
    }
    out.append(digits, result.ptr);
}

// What one notification shows, in single precision throughout.
struct ProgressFigures {
    float done = 0;   // MB
    float total = 0;  // MB
    float speed = 0;
    const wchar_t* unit = L"KB/s";
    int percent = 0;
};

bool ComputeFigures(const TransferProgress& record, float baseBytes, ProgressFigures& figures) {
    // Until the answer's length is known, a resumed file would read as complete (its bytes on
    // disk against a total of just those bytes): say nothing rather than a wrong 100 percent.
    if (!(record.receiveTotal > 0))
        return false;
    const float kPerKilo = 1.0f / 1024.0f;
    figures.done = (static_cast<float>(record.received) + baseBytes) * kPerKilo * kPerKilo;
    figures.total = (static_cast<float>(record.receiveTotal) + baseBytes) * kPerKilo * kPerKilo;
    figures.speed = static_cast<float>(record.receiveSpeed) * kPerKilo;
    figures.unit = L"KB/s";
    if (figures.speed >= 1024.0f) {
        figures.speed *= kPerKilo;
        figures.unit = L"MB/s";
    }
    if (figures.total == 0.0f)
        return false;
    const float share = std::floor(figures.done / figures.total * 100.0f);
    figures.percent = static_cast<int>(std::clamp(share, 0.0f, 100.0f));
    return true;
}

std::wstring ProgressLine(const ProgressFigures& figures, const std::wstring& displayName) {
    std::wstring line = LoadMessage(kMsgDownloading);
    line += L' ';
    line += displayName;
    line += L' ';
    AppendFixed(line, figures.done, 2);
    line += L" MB / ";
    AppendFixed(line, figures.total, 2);
    line += L" MB (";
    AppendFixed(line, figures.speed, 1);
    line += L' ';
    line += figures.unit;
    line += L')';
    if (line.size() > kProgressTextCapacity - 1)
        line.resize(kProgressTextCapacity - 1);
    return line;
}

}  // namespace

bool FormatProgressLine(const TransferProgress& record, const std::wstring& displayName,
                        float baseBytes, std::wstring& text, int& percent) {
    ProgressFigures figures;
    if (!ComputeFigures(record, baseBytes, figures))
        return false;
    text = ProgressLine(figures, displayName);
    percent = figures.percent;
    return true;
}

void ReportTransferProgress(TransferProgress* record) {
    if (record == nullptr || record->context == nullptr)
        return;
    auto& context = *static_cast<ProgressContext*>(record->context);
    ProgressFigures figures;
    if (!ComputeFigures(*record, context.baseBytes, figures) || context.windowCell == nullptr)
        return;

    // The line is only built when it is due: the notifications of a fast transfer come far
    // more often than anyone can read.
    bool delivered = true;
    const std::uint32_t now = platform::TickCountMs();
    if (!context.textPosted || (now - context.lastTextTick >= kProgressTextIntervalMs &&
                                record->received != context.lastTextReceived)) {
        delivered = context.windowCell->Post(WM_DL_SETTEXT, context.fileNumber, 0,
                                             ProgressLine(figures, context.displayName));
        context.textPosted = true;
        context.lastTextTick = now;
        context.lastTextReceived = record->received;
    }
    if (figures.percent != context.lastPercent) {
        delivered = context.windowCell->Post(WM_DL_SETPOS,
                                             static_cast<std::uintptr_t>(figures.percent), 0) &&
                    delivered;
        context.lastPercent = figures.percent;
    }
    // The page has gone away: nobody will see the rest of this file arrive.
    if (!delivered)
        record->stop.store(true, std::memory_order_release);
}
