#include "ui/console/console_download_view.h"

#include "platform/platform.h"
#include "ui/console/console_ui.h"

namespace {

// Without a terminal the progress line is written as plain lines, at most one per second.
constexpr std::uint32_t kPlainLineIntervalMs = 1000;

}  // namespace

ConsoleDownloadView::ConsoleDownloadView(ConsoleUserInterface& ui)
    : m_ui(ui), m_terminal(platform::IsTerminal(ui.Output())) {}

void ConsoleDownloadView::SetProgressRange(int low, int high) {
    m_low = low;
    m_high = high;
}

void ConsoleDownloadView::SetProgressPos(int position) {
    m_position = position;
    if (!m_line.empty())
        ShowProgressLine(false);
}

void ConsoleDownloadView::SetProgressText(const std::wstring& text, bool forced) {
    if (forced) {
        // A phase text stands on a line of its own; the empty one only ends the progress.
        EndLine();
        m_line.clear();
        if (!text.empty())
            m_ui.Write(text + L"\n");
        return;
    }
    m_line = text;
    ShowProgressLine(true);
}

void ConsoleDownloadView::SetPatchProgressText(const std::wstring& text) {
    m_patchLine = text;
    // A line only stands while a file transfers; a failure's text comes in its own box.
    if (!m_line.empty())
        ShowProgressLine(true);
}

void ConsoleDownloadView::SetStage(WizardStage stage, unsigned /*buttons*/) {
    if (stage != WizardStage::kDownloading)
        EndLine();
    if (stage == WizardStage::kDownloading)
        m_plainShown = false;
}

void ConsoleDownloadView::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    EndLine();
    m_ui.MessageBox(text, caption, kMbOk | kMbIconError);
}

void ConsoleDownloadView::EndLine() {
    if (m_drawnWidth == 0)
        return;
    m_ui.Write(L"\n");
    m_drawnWidth = 0;
}

int ConsoleDownloadView::Percent() const {
    if (m_high <= m_low)
        return 0;
    const int clamped = m_position < m_low ? m_low : (m_position > m_high ? m_high : m_position);
    return (clamped - m_low) * 100 / (m_high - m_low);
}

std::wstring ConsoleDownloadView::Decorated() const {
    std::wstring percent = std::to_wstring(Percent());
    while (percent.size() < 3)
        percent.insert(percent.begin(), L' ');
    std::wstring line = L"[" + percent + L"%] " + m_line;
    if (!m_patchLine.empty())
        line += L" | " + m_patchLine;
    return line;
}

void ConsoleDownloadView::ShowProgressLine(bool newText) {
    std::wstring line = Decorated();
    if (m_terminal) {
        // A line wider than the terminal would wrap, and the carriage return would then
        // redraw only its last row: keep it to one row.
        const int columns = platform::TerminalColumns(m_ui.Output());
        if (columns > 1 && line.size() >= static_cast<std::size_t>(columns))
            line.resize(static_cast<std::size_t>(columns) - 1);
        const std::size_t width = line.size();
        // Blank out what a longer earlier line left behind.
        if (width < m_drawnWidth)
            line.append(m_drawnWidth - width, L' ');
        m_ui.WriteOverLine(line);
        m_drawnWidth = width;
        return;
    }
    const std::uint32_t now = platform::TickCountMs();
    if (!newText && m_plainShown)
        return;
    if (m_plainShown && static_cast<std::uint32_t>(now - m_lastPlain) < kPlainLineIntervalMs)
        return;
    m_ui.Write(line + L"\n");
    m_plainShown = true;
    m_lastPlain = now;
}
