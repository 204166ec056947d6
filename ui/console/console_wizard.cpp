#include "ui/console/console_wizard.h"

#include <algorithm>
#include <optional>
#include <string>

#include "catalogue/patch_info.h"
#include "platform/interrupt.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "ui/console/console_download_view.h"
#include "ui/console/console_ui.h"
#include "wizard/download_page_logic.h"
#include "wizard/install_path_page_logic.h"

namespace {

// How long the download loop waits for the worker before it looks at Ctrl-C again.
constexpr unsigned kPollIntervalMs = 100;

std::wstring PageHeading(int page) {
    return L"\n[" + LoadMessage(kMsgCaption) + L" " + std::to_wstring(page) + L"/2]\n";
}

}  // namespace

ConsoleDownloadWizard::ConsoleDownloadWizard(ConsoleUserInterface& ui, PatchInfo& info,
                                             TextRefreshThrottle* throttle,
                                             const DownloadWizardRequest& request)
    : m_ui(ui),
      m_info(info),
      m_prompt(ui),
      m_view(std::make_unique<ConsoleDownloadView>(ui)),
      m_logic(std::make_unique<DownloadPageLogic>(info, *m_view, throttle, request)) {}

ConsoleDownloadWizard::~ConsoleDownloadWizard() {
    // The logic stops its worker before the view it reports to goes.
    m_logic.reset();
}

bool ConsoleDownloadWizard::WorkerThreadAlive() const {
    return m_logic->WorkerThreadAlive();
}

bool ConsoleDownloadWizard::Run() {
    platform::ScopedInterruptCatcher interrupt;
    m_prompt.WatchInterrupts(&interrupt);
    m_folderText = ProposeDownloadFolder(m_info);
    Outcome outcome = Outcome::kCancel;
    do {
        if (!RunFolderPage()) {
            outcome = Outcome::kCancel;
            break;
        }
        outcome = RunDownloadPage();
    } while (outcome == Outcome::kBack);
    m_logic->Cancel();
    m_prompt.WatchInterrupts(nullptr);
    return outcome == Outcome::kInstall;
}

bool ConsoleDownloadWizard::RunFolderPage() {
    m_ui.Write(PageHeading(1) + BuildVersionText(m_info) + L"\n");
    for (;;) {
        m_ui.Write(LoadMessage(kMsgDownloadFolderLabel) + L"\n" + ForDisplay(m_folderText) + L"\n");
        const std::optional<std::wstring> answer = m_prompt.AskLine(L"> ");
        if (!answer)
            return false;
        // Enter keeps the proposal: the working directory, or after Back the folder accepted
        // last time; a refused text never becomes the proposal.
        // The proposal's own bytes also when it is typed back as it was shown.
        const std::wstring folder =
            answer->empty() ? m_folderText : FolderFromPageText(*answer, m_folderText);
        std::wstring refusal;
        if (AcceptDownloadFolder(folder, m_info, &refusal)) {
            m_folderText = m_info.download_folder;
            return true;
        }
        m_ui.MessageBox(refusal, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
        if (m_ui.AssumeYes() || m_prompt.Interrupted())
            return false;
    }
}

ConsoleDownloadWizard::Outcome ConsoleDownloadWizard::RunDownloadPage() {
    ShowDownloadPage();
    for (;;) {
        if (!AwaitVerdict())
            return Outcome::kCancel;
        if (m_logic->Stage() == WizardStage::kVerified)
            return AskInstall();
        const Outcome outcome = AskBackOrCancel();
        if (outcome != Outcome::kTryAgain || !m_logic->TryAgain())
            return outcome == Outcome::kTryAgain ? Outcome::kCancel : outcome;
    }
}

void ConsoleDownloadWizard::ShowDownloadPage() {
    m_ui.Write(PageHeading(2));
    if (!m_pageInitialised) {
        m_pageInitialised = true;
        m_logic->OnInitDialog();
        // The notes already end in an empty line; no notes, no gap.
        m_ui.Write(m_view->Changelog());
    }
    m_logic->OnSetActive();
}

bool ConsoleDownloadWizard::AwaitVerdict() {
    while (m_logic->Stage() == WizardStage::kDownloading) {
        if (m_prompt.Interrupted()) {
            m_view->EndLine();
            return false;
        }
        m_logic->WaitAndDispatch(kPollIntervalMs);
        m_logic->OnTimer();
    }
    m_view->EndLine();
    return true;
}

ConsoleDownloadWizard::Outcome ConsoleDownloadWizard::AskInstall() {
    return m_prompt.AskYesNo(m_view->FinishText() + L"? (y/n) ") ? Outcome::kInstall
                                                                 : Outcome::kCancel;
}

ConsoleDownloadWizard::Outcome ConsoleDownloadWizard::AskBackOrCancel() {
    // The Qt page's ways forward under their own names, each with its letter.
    const FailedStageChoices choices = m_logic->Choices();
    std::wstring prompt = LoadMessage(kMsgTryAgain) + L" (t) / < Back (b) / ";
    if (choices.playWithoutPatch)
        prompt += LoadMessage(kMsgPlayWithoutPatch) + L" (p) / ";
    prompt += L"Cancel (c): ";
    prompt.erase(std::remove(prompt.begin(), prompt.end(), L'&'), prompt.end());
    for (;;) {
        switch (m_prompt.AskBackOrCancel(prompt)) {
            case BackOrCancel::kBack:
                return Outcome::kBack;
            case BackOrCancel::kTryAgain:
                return Outcome::kTryAgain;
            case BackOrCancel::kPlay:
                if (m_logic->PlayWithoutPatch())
                    return Outcome::kCancel;
                continue;  // not offered: asked again
            case BackOrCancel::kNeither:
            case BackOrCancel::kCancel:
                return Outcome::kCancel;
        }
    }
}

bool ConsoleUserInterface::RunDownloadWizard(PatchInfo& info,
                                             const DownloadWizardRequest& request) {
    ConsoleDownloadWizard wizard(*this, info, nullptr, request);
    return wizard.Run();
}
