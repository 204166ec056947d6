#pragma once
// The download page as lines of text on the console's output: phase texts on lines of their
// own, the worker's progress as one line "[ 42%] text | File 1 of 2, about 0:14 left" that a
// terminal redraws in place and that is otherwise written as a plain line at most once a second.

#include <cstddef>
#include <cstdint>
#include <string>

#include "wizard/download_page_view.h"

class ConsoleUserInterface;

class ConsoleDownloadView : public DownloadPageView {
  public:
    // ui is not owned and must outlive the view.
    explicit ConsoleDownloadView(ConsoleUserInterface& ui);

    void SetChangelogText(const std::wstring& text) override { m_changelog = text; }
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int position) override;
    void SetProgressText(const std::wstring& text, bool forced) override;
    void SetStage(WizardStage stage, unsigned buttons) override;
    void SetFinishText(const std::wstring& text) override { m_finishText = text; }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;
    // Drawn after the progress line, behind " | ", while a file transfers.
    void SetPatchProgressText(const std::wstring& text) override;

    // Leaves the line that is being redrawn in place, so the next text starts afresh.
    void EndLine();

    const std::wstring& Changelog() const { return m_changelog; }
    const std::wstring& FinishText() const { return m_finishText; }

  private:
    int Percent() const;
    std::wstring Decorated() const;
    void ShowProgressLine(bool newText);

    ConsoleUserInterface& m_ui;
    const bool m_terminal;
    std::wstring m_changelog;
    std::wstring m_finishText;
    std::wstring m_line;
    std::wstring m_patchLine;
    int m_low = 0;
    int m_high = 100;
    int m_position = 0;
    std::size_t m_drawnWidth = 0;
    bool m_plainShown = false;
    std::uint32_t m_lastPlain = 0;
};
