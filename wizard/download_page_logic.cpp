#include "wizard/download_page_logic.h"

#include <utility>

#include "catalogue/patch_info.h"
#include "platform/window_messages.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/download_worker.h"
#include "wizard/changelog_text.h"

namespace {

const PatchEntry* LatestPatch(const PatchInfo& info) {
    return info.installed_game != nullptr ? info.installed_game->latest : nullptr;
}

}  // namespace

DownloadPageLogic::DownloadPageLogic(PatchInfo& info, DownloadPageView& view,
                                     TextRefreshThrottle* throttle)
    : m_info(info),
      m_view(view),
      m_throttle(throttle != nullptr ? *throttle : TextRefreshThrottle::ProcessWide()) {}

DownloadPageLogic::~DownloadPageLogic() {
    Cancel();
}

void DownloadPageLogic::OnInitDialog() {
    m_view.SetProgressRange(0, 100);
    // Without a patch there is nothing to download, so there are no notes to show either.
    const PatchEntry* latest = LatestPatch(m_info);
    m_changelog = latest != nullptr
                      ? BuildChangelogText(latest->version, m_info.installed_version, m_info)
                      : std::wstring();
    m_view.SetChangelogText(m_changelog);
}

bool DownloadPageLogic::OnSetActive() {
    // Only one worker at a time: the buttons never allow this, but a front end might.
    if (m_workerKnown)
        Cancel();
    m_failure = Failure{};
    EnterStage(WizardStage::kDownloading);

    // A worker of an earlier activation has given its verdict and is only ending; its queue and
    // job go, and the new worker gets a queue of its own, so nothing it still says can reach
    // this activation.
    if (m_queue)
        m_queue->Close();
    if (m_folderClaim && !m_folderClaim(m_info.download_folder)) {
        m_failure = MakeFailure(FailureClass::kBusy, 0, {}, m_info.download_folder);
        m_view.ShowErrorBox(
            FormatMessageText(LoadMessage(kMsgFolderBusy), {ForDisplay(m_info.download_folder)}),
            LoadMessage(kMsgCaption));
        EnterStage(WizardStage::kFailed);
        return false;
    }
    m_queue = std::make_shared<platform::WindowMessageQueue>();
    if (m_wake)
        m_queue->SetWakeCallback(m_wake);
    m_job = std::make_unique<DownloadJob>();
    m_workerKnown = m_job->Start(LatestPatch(m_info), m_info.download_folder, m_queue);
    if (!m_workerKnown) {
        OnDownloadFinished(0, 0);
        return false;
    }
    return true;
}

void DownloadPageLogic::SetFolderClaim(DownloadFolderClaim claim) {
    m_folderClaim = std::move(claim);
}

void DownloadPageLogic::SetWakeCallback(std::function<void()> wake) {
    m_wake = std::move(wake);
    if (m_queue)
        m_queue->SetWakeCallback(m_wake);
}

std::size_t DownloadPageLogic::DispatchMessages() {
    if (m_dispatching || !m_queue)
        return 0;
    m_dispatching = true;
    // Held by value: a handler may start a new activation, which replaces m_queue.
    std::shared_ptr<platform::WindowMessageQueue> queue = m_queue;
    const std::size_t handled =
        queue->Dispatch([this](const platform::WindowMessage& message) { Handle(message); });
    m_dispatching = false;
    return handled;
}

std::size_t DownloadPageLogic::WaitAndDispatch(unsigned timeoutMs) {
    if (!m_queue)
        return 0;
    m_queue->WaitForMessage(timeoutMs);
    std::size_t handled = DispatchMessages();
    if (m_workerKnown && m_job && !m_job->IsRunning()) {
        // Everything a worker says is queued before it ends: take the rest, and if the verdict
        // is still missing the worker never gave one.
        handled += DispatchMessages();
        if (m_workerKnown)
            OnDownloadFinished(0, 0);
    }
    return handled;
}

void DownloadPageLogic::Handle(const platform::WindowMessage& message) {
    switch (message.id) {
        case WM_DL_SETPOS:
            OnSetProgressPos(message.wParam, message.lParam);
            break;
        case WM_DL_SETTEXT:
            OnSetProgressText(message.text, message.lParam);
            break;
        case WM_DL_SETRANGE:
            OnSetProgressRange(message.wParam, message.lParam);
            break;
        case WM_DL_STARTED:
            OnDownloadStarted(message.wParam, message.lParam);
            break;
        case WM_DL_FINISHED:
            OnDownloadFinished(message.wParam, message.lParam);
            break;
        default:
            break;
    }
}

void DownloadPageLogic::OnSetProgressPos(std::uintptr_t wParam, std::intptr_t /*lParam*/) {
    m_view.SetProgressPos(static_cast<int>(wParam));
}

void DownloadPageLogic::OnSetProgressText(const std::wstring& text, std::intptr_t lParam) {
    const bool forced = lParam == 1;
    if (!m_throttle.ShouldShow(forced))
        return;
    m_view.SetProgressText(text, forced);
    m_throttle.MarkShown();
}

void DownloadPageLogic::OnSetProgressRange(std::uintptr_t wParam, std::intptr_t lParam) {
    m_view.SetProgressRange(static_cast<int>(wParam & 0xFFFF),
                            static_cast<int>(static_cast<std::uintptr_t>(lParam) & 0xFFFF));
}

void DownloadPageLogic::OnDownloadStarted(std::uintptr_t, std::intptr_t) {}

void DownloadPageLogic::OnDownloadFinished(std::uintptr_t wParam, std::intptr_t /*lParam*/) {
    m_workerKnown = false;
    if (wParam == 1) {
        m_failure = Failure{};
        EnterStage(WizardStage::kVerified);
        m_view.SetFinishText(LoadMessage(kMsgInstall));
        return;
    }
    // The worker recorded its cause before it sent the verdict being handled here.
    m_failure = m_job ? m_job->LastFailure() : Failure{};
    m_view.ShowErrorBox(LoadMessage(kMsgFilesCorrupted), LoadMessage(kMsgCaption));
    EnterStage(WizardStage::kFailed);
}

bool DownloadPageLogic::Cancel() {
    m_workerKnown = false;
    if (!m_job || !m_job->IsRunning())
        return true;
    // Closing first releases a worker that waits in a sent message; otherwise it could not
    // notice the stop before the wait runs out. A worker that has already given its verdict is
    // only on its way out and is waited for all the same, so that nothing runs on once the
    // page has gone.
    if (m_queue)
        m_queue->Close();
    return m_job->Cancel();
}

bool DownloadPageLogic::WorkerRunning() const {
    return m_workerKnown;
}

bool DownloadPageLogic::WorkerThreadAlive() const {
    return m_job && m_job->IsRunning();
}

void DownloadPageLogic::EnterStage(WizardStage stage) {
    m_stage = stage;
    m_view.SetStage(stage, WizardButtons(stage));
}
