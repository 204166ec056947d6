#include "ui/console/console_wizard.h"

#include <cstdint>
#include <string>

#include "text/messages.h"
#include "catalogue/patch_info.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "text/utf8.h"
#include "ui/console/console_ui.h"
#include "wizard/download_page_logic.h"
#include "wizard/download_page_view.h"
#include "wizard/install_path_page_logic.h"

namespace {

// How long the download loop waits for the worker before it looks at Ctrl-C again.
constexpr unsigned kPollIntervalMs = 100;
// Without a terminal the progress line is written as plain lines, at most one per second.
constexpr std::uint32_t kPlainLineIntervalMs = 1000;

std::wstring FromInput(std::string line) {
    // A line typed on a system that ends lines with CR LF: the CR is not part of the answer.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Utf8ToWide(std::string_view(line));
}

}  // namespace

// The download page as lines of text on the console's output.
class ConsoleDownloadView : public DownloadPageView {
  public:
    explicit ConsoleDownloadView(ConsoleUserInterface& ui)
        : m_ui(ui), m_terminal(platform::IsTerminal(ui.Output())) {}

    void SetChangelogText(const std::wstring& text) override { m_changelog = text; }
    void SetProgressRange(int low, int high) override {
        m_low = low;
        m_high = high;
    }
    void SetProgressPos(int position) override {
        m_position = position;
        if (!m_line.empty())
            ShowProgressLine(false);
    }
    void SetProgressText(const std::wstring& text, bool forced) override {
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
    void SetStage(WizardStage stage, unsigned /*buttons*/) override {
        if (stage != WizardStage::kDownloading)
            EndLine();
        if (stage == WizardStage::kDownloading)
            m_plainShown = false;
    }
    void SetFinishText(const std::wstring& text) override { m_finishText = text; }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override {
        EndLine();
        m_ui.MessageBox(text, caption, kMbOk | kMbIconError);
    }

    // Leaves the line that is being redrawn in place, so the next text starts afresh.
    void EndLine() {
        if (m_drawnWidth == 0)
            return;
        m_ui.Write(L"\n");
        m_drawnWidth = 0;
    }

    const std::wstring& Changelog() const { return m_changelog; }
    const std::wstring& FinishText() const { return m_finishText; }

  private:
    int Percent() const {
        if (m_high <= m_low)
            return 0;
        const int clamped =
            m_position < m_low ? m_low : (m_position > m_high ? m_high : m_position);
        return (clamped - m_low) * 100 / (m_high - m_low);
    }

    std::wstring Decorated() const {
        std::wstring percent = std::to_wstring(Percent());
        while (percent.size() < 3)
            percent.insert(percent.begin(), L' ');
        return L"[" + percent + L"%] " + m_line;
    }

    void ShowProgressLine(bool newText) {
        std::wstring line = Decorated();
        if (m_terminal) {
            // A line wider than the terminal would wrap, and the carriage return would then
            // redraw only its last row: keep it to one row.
            const int columns = platform::TerminalColumns(m_ui.Output());
            if (columns > 1 && line.size() >= static_cast<std::size_t>(columns))
                line.resize(static_cast<std::size_t>(columns) - 1);
            std::wstring out = L"\r" + line;
            // Blank out what a longer earlier line left behind.
            if (line.size() < m_drawnWidth)
                out.append(m_drawnWidth - line.size(), L' ');
            m_ui.Write(out);
            m_drawnWidth = line.size();
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

    ConsoleUserInterface& m_ui;
    const bool m_terminal;
    std::wstring m_changelog;
    std::wstring m_finishText;
    std::wstring m_line;
    int m_low = 0;
    int m_high = 100;
    int m_position = 0;
    std::size_t m_drawnWidth = 0;
    bool m_plainShown = false;
    std::uint32_t m_lastPlain = 0;
};

ConsoleDownloadWizard::ConsoleDownloadWizard(ConsoleUserInterface& ui, PatchInfo& info,
                                             TextRefreshThrottle* throttle)
    : m_ui(ui),
      m_info(info),
      m_view(std::make_unique<ConsoleDownloadView>(ui)),
      m_logic(std::make_unique<DownloadPageLogic>(info, *m_view, throttle)) {}

ConsoleDownloadWizard::~ConsoleDownloadWizard() {
    // The logic stops its worker before the view it reports to goes.
    m_logic.reset();
}

bool ConsoleDownloadWizard::WorkerThreadAlive() const {
    return m_logic->WorkerThreadAlive();
}

bool ConsoleDownloadWizard::Interrupted() const {
    return m_interrupt != nullptr && m_interrupt->Interrupted();
}

bool ConsoleDownloadWizard::Ask(const std::wstring& prompt, std::string& answer) {
    m_ui.Write(prompt);
    if (Interrupted() || !m_ui.ReadLine(answer) || Interrupted()) {
        m_ui.Write(L"\n");
        return false;
    }
    // Scripted answers are not echoed by a terminal: write them, so the record reads as a
    // dialogue.
    if (!platform::IsTerminal(m_ui.Input()))
        m_ui.Write(FromInput(answer) + L"\n");
    return true;
}

bool ConsoleDownloadWizard::Run() {
    platform::ScopedInterruptCatcher interrupt;
    m_interrupt = &interrupt;
    m_folderText = ProposeDownloadFolder();
    bool install = false;
    while (RunFolderPage()) {
        const Outcome outcome = RunDownloadPage();
        if (outcome == Outcome::kBack)
            continue;
        install = outcome == Outcome::kInstall;
        break;
    }
    m_logic->Cancel();
    m_interrupt = nullptr;
    return install;
}

bool ConsoleDownloadWizard::RunFolderPage() {
    const std::wstring caption = LoadMessage(kMsgCaption);
    m_ui.Write(L"\n[" + caption + L" 1/2]\n" + BuildVersionText(m_info) + L"\n");
    for (;;) {
        m_ui.Write(LoadMessage(kMsgDownloadFolderLabel) + L"\n" + m_folderText + L"\n");
        std::wstring folder = m_folderText;
        if (m_ui.AssumeYes()) {
            m_ui.Write(L"> \n");
        } else {
            std::string line;
            if (!Ask(L"> ", line))
                return false;
            if (!line.empty())
                folder = FromInput(line);
        }
        // Enter keeps the proposal: the working directory, or after Back the folder accepted
        // last time; a refused text never becomes the proposal.
        if (AcceptDownloadFolder(folder, m_info)) {
            m_folderText = folder;
            return true;
        }
        m_ui.MessageBox(LoadMessage(kMsgInvalidFolder), caption, kMbOk | kMbIconError);
        if (m_ui.AssumeYes() || Interrupted())
            return false;
    }
}

ConsoleDownloadWizard::Outcome ConsoleDownloadWizard::RunDownloadPage() {
    m_ui.Write(L"\n[" + LoadMessage(kMsgCaption) + L" 2/2]\n");
    if (!m_pageInitialised) {
        m_pageInitialised = true;
        m_logic->OnInitDialog();
        // The notes already end in an empty line; no notes, no gap.
        m_ui.Write(m_view->Changelog());
    }
    m_logic->OnSetActive();
    while (m_logic->Stage() == WizardStage::kDownloading) {
        if (Interrupted()) {
            m_view->EndLine();
            return Outcome::kCancel;
        }
        m_logic->WaitAndDispatch(kPollIntervalMs);
    }
    m_view->EndLine();

    if (m_logic->Stage() == WizardStage::kVerified) {
        const std::wstring prompt = m_view->FinishText() + L"? (y/n) ";
        if (m_ui.AssumeYes()) {
            m_ui.Write(prompt + L"y\n");
            return Outcome::kInstall;
        }
        for (;;) {
            std::string answer;
            if (!Ask(prompt, answer))
                return Outcome::kCancel;
            const int choice = ParseYesNoAnswer(answer);
            if (choice == kIdYes)
                return Outcome::kInstall;
            if (choice == kIdNo)
                return Outcome::kCancel;
        }
    }

    // Failed: message 207 has been shown.
    if (m_ui.AssumeYes())
        return Outcome::kCancel;
    for (;;) {
        std::string answer;
        if (!Ask(L"< Back (b) / Cancel (c): ", answer))
            return Outcome::kCancel;
        std::wstring word = FromInput(answer);
        for (wchar_t& c : word)
            if (c >= L'A' && c <= L'Z')
                c = static_cast<wchar_t>(c - L'A' + L'a');
        if (word == L"b" || word == L"back")
            return Outcome::kBack;
        if (word == L"c" || word == L"cancel")
            return Outcome::kCancel;
    }
}

bool ConsoleUserInterface::RunDownloadWizard(PatchInfo& info) {
    ConsoleDownloadWizard wizard(*this, info);
    return wizard.Run();
}
