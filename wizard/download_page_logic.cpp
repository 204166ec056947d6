#include "wizard/download_page_logic.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/window_messages.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/download_path.h"
#include "transfer/download_worker.h"
#include "wizard/changelog_text.h"
#include "wizard/failure_text.h"
#include "wizard/install_path_page_logic.h"

namespace {

const PatchEntry* LatestPatch(const PatchInfo& info) {
    return info.installed_game != nullptr ? info.installed_game->latest : nullptr;
}

}  // namespace

std::wstring DurationText(std::uint64_t seconds) {
    auto twoDigits = [](std::uint64_t value) {
        return (value < 10 ? L"0" : L"") + std::to_wstring(value);
    };
    const std::uint64_t hours = seconds / 3600;
    const std::uint64_t minutes = seconds / 60 % 60;
    if (hours > 0)
        return std::to_wstring(hours) + L":" + twoDigits(minutes) + L":" + twoDigits(seconds % 60);
    return std::to_wstring(minutes) + L":" + twoDigits(seconds % 60);
}

DownloadPageLogic::DownloadPageLogic(PatchInfo& info, DownloadPageView& view,
                                     TextRefreshThrottle* throttle, DownloadWizardRequest request)
    : m_info(info),
      m_view(view),
      m_throttle(throttle != nullptr ? *throttle : TextRefreshThrottle::ProcessWide()),
      m_request(std::move(request)),
      m_clock([] { return platform::TickCountMs(); }) {}

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
    StartPatchProgress();
}

bool DownloadPageLogic::OnSetActive() {
    // Only one worker at a time: the buttons never allow this, but a front end might.
    if (m_workerKnown)
        Cancel();
    m_failure = Failure{};
    StartPatchProgress();
    EnterStage(WizardStage::kDownloading);

    // A worker of an earlier activation has given its verdict and is only ending; its queue and
    // job go, and the new worker gets a queue of its own, so nothing it still says can reach
    // this activation.
    if (m_queue)
        m_queue->Close();
    if (m_request.folderClaim && !m_request.folderClaim(m_info.download_folder)) {
        m_failure = MakeFailure(FailureClass::kBusy, 0, {}, m_info.download_folder);
        const std::wstring text = FailureMessage(m_failure) + L"\n" + WayForwardText(m_failure);
        ShowPatchLine(text);
        m_view.ShowErrorBox(text, LoadMessage(kMsgCaption));
        EnterStage(WizardStage::kFailed);
        return false;
    }
    m_queue = std::make_shared<platform::WindowMessageQueue>();
    if (m_wake)
        m_queue->SetWakeCallback(m_wake);
    m_job = std::make_unique<DownloadJob>();
    m_workerKnown = m_job->Start(LatestPatch(m_info), m_info.download_folder, m_queue,
                                 m_request.digestCachePath, m_request.localSource,
                                 m_request.gameFolder, m_request.rateLimit);
    if (!m_workerKnown) {
        OnDownloadFinished(0, 0);
        return false;
    }
    return true;
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
            OnSetProgressText(message.text, message.wParam, message.lParam);
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
    // The worker counts each file from 0 to 100; the player watches the whole patch, so a bar
    // that refilled for every file would tell them nothing. Without the files' sizes the bar
    // can only follow the worker.
    const int filePercent = static_cast<int>(std::min<std::uintptr_t>(wParam, 100));
    if (m_patchBytes == 0) {
        m_barPos = filePercent;
    } else if (m_transferring) {
        m_filePercent = filePercent;
        UpdatePatchProgress();
    } else if (filePercent == 100) {
        // Sent once after the last file, before the verification.
        m_barPos = 100;
    }
    m_view.SetProgressPos(m_barPos);
}

void DownloadPageLogic::SetClock(std::function<std::uint32_t()> clock) {
    m_clock = std::move(clock);
}

void DownloadPageLogic::StartPatchProgress() {
    m_files.clear();
    m_patchBytes = 0;
    if (const PatchEntry* latest = LatestPatch(m_info)) {
        for (const auto& entry : latest->download_list) {
            if (entry == nullptr)
                continue;
            const std::uint64_t size =
                entry->size > 0 ? static_cast<std::uint64_t>(entry->size) : 0;
            m_files.push_back(PatchFile{entry->target, size});
            m_patchBytes += size;
        }
    }
    m_fileIndex = 0;
    m_filePercent = 0;
    m_transferring = false;
    m_waitingShown = false;
    m_rateStarted = false;
    m_barPos = 0;
    m_deltaSummary.clear();
    ShowPatchLine(std::wstring());
}

void DownloadPageLogic::SelectFile(std::uintptr_t number) {
    if (number >= 1 && number <= m_files.size() && number - 1 != m_fileIndex) {
        m_fileIndex = number - 1;
        m_filePercent = 0;
    }
}

void DownloadPageLogic::UpdatePatchProgress() {
    if (m_files.empty())
        return;
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < m_fileIndex && i < m_files.size(); ++i)
        done += m_files[i].size;
    if (m_fileIndex < m_files.size())
        done += m_files[m_fileIndex].size * static_cast<std::uint64_t>(m_filePercent) / 100;
    if (m_patchBytes > 0)
        m_barPos = static_cast<int>(std::min<std::uint64_t>(done * 100 / m_patchBytes, 100));
    const std::uint32_t now = m_clock();
    if (!m_rateStarted) {
        m_rateStarted = true;
        m_startTick = now;
        m_bytesAtFirstLine = done;
    }
    std::wstring line =
        FormatMessageText(LoadMessage(kMsgFileOfFiles),
                          {std::to_wstring(m_fileIndex + 1), std::to_wstring(m_files.size())});
    // The rate over the whole transfer so far, not the current speed: a time left that jumps
    // with every burst tells nothing.
    const std::uint32_t elapsed = now - m_startTick;
    // A retry line may name a file before any of its bytes came; the rate needs bytes moved.
    const std::uint64_t moved = done > m_bytesAtFirstLine ? done - m_bytesAtFirstLine : 0;
    if (elapsed >= 1000 && moved > 0 && done <= m_patchBytes) {
        const std::uint64_t left = (m_patchBytes - done) * elapsed / moved / 1000;
        line += L", " + FormatMessageText(LoadMessage(kMsgTimeLeft), {DurationText(left)});
    }
    // A player who set a cap long ago should not take a slow download for a slow server.
    if (m_request.rateLimit > 0)
        line +=
            L", " + FormatMessageText(LoadMessage(kMsgRateCapped),
                                      {SizeText(static_cast<std::uint64_t>(m_request.rateLimit))});
    m_waitingShown = false;
    ShowPatchLine(std::move(line));
}

void DownloadPageLogic::ShowPatchLine(std::wstring text) {
    if (text == m_patchLine)
        return;
    m_patchLine = std::move(text);
    m_view.SetPatchProgressText(m_patchLine);
}

int DownloadPageLogic::PatchPercentInPlace(const std::wstring& failedTarget) const {
    if (m_patchBytes == 0)
        return 0;
    std::uint64_t inPlace = 0;
    for (const PatchFile& file : m_files) {
        if (file.target == failedTarget)
            continue;
        platform::EntryStatus status;
        if (!platform::StatBelow(m_info.download_folder, NativeTarget(file.target), status) ||
            status.kind != platform::EntryKind::kRegularFile || status.size <= 0)
            continue;
        inPlace += std::min(file.size, static_cast<std::uint64_t>(status.size));
    }
    return static_cast<int>(inPlace * 100 / m_patchBytes);
}

void DownloadPageLogic::OnTimer() {
    if (!m_transferring || m_waitingShown)
        return;
    if (m_clock() - m_lastLineTick <= kStallNoticeMs)
        return;
    m_waitingShown = true;
    ShowPatchLine(LoadMessage(kMsgWaitingForServer));
}

void DownloadPageLogic::OnSetProgressText(const std::wstring& text, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    const bool forced = lParam == 1;
    if (forced && wParam == kDeltaSummaryText)
        m_deltaSummary = text;
    if (forced) {
        // A phase text: the transfers are over (or not yet begun); or the pause before a
        // retry, which names its file, so that "File N of M" and the bar speak of that one.
        m_transferring = false;
        if (wParam >= 1 && wParam <= m_files.size()) {
            SelectFile(wParam);
            UpdatePatchProgress();
            m_view.SetProgressPos(m_barPos);
        }
    } else {
        // The worker counts the files as StartPatchProgress lists them, from 1.
        SelectFile(wParam);
        m_transferring = true;
        m_lastLineTick = m_clock();
        UpdatePatchProgress();
    }
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
    if (m_job && m_request.deltaReport) {
        const DeltaTally deltas = m_job->Deltas();
        if (deltas.built > 0 || deltas.fellBack > 0)
            m_request.deltaReport(deltas);
    }
    if (wParam == 1) {
        m_failure = Failure{};
        // Nothing is left to fetch: a "time left" would only be stale. What deltas saved
        // stays in its place.
        m_transferring = false;
        const std::wstring checked = m_files.size() == 1
                                         ? LoadMessage(kMsgOneFileChecked)
                                         : FormatMessageText(LoadMessage(kMsgAllFilesChecked),
                                                             {std::to_wstring(m_files.size())});
        ShowPatchLine(m_deltaSummary.empty() ? checked : checked + L" " + m_deltaSummary);
        EnterStage(WizardStage::kVerified);
        m_view.SetFinishText(LoadMessage(kMsgInstall));
        return;
    }
    // The worker recorded its cause before it sent the verdict being handled here.
    m_failure = m_job ? m_job->LastFailure() : Failure{};
    if (m_request.failureReport)
        m_request.failureReport(m_failure);
    m_transferring = false;
    // The worker fills the bar before it verifies, and an error page fills it too; a failed
    // download shows how much of the patch is really in place.
    m_barPos = PatchPercentInPlace(m_failure.subject);
    m_view.SetProgressPos(m_barPos);
    std::wstring text;
    // A disk that filled up while the patch came in says how much is still missing and how
    // much room is left, as the check before the first byte does.
    const bool diskFull = m_failure.cause == FailureClass::kSystem && m_failure.code == ENOSPC &&
                          DiskSpaceShortText(m_info, m_info.download_folder, text);
    if (!diskFull)
        text = FailureMessage(m_failure);
    text += L"\n" + WayForwardText(m_failure);
    ShowPatchLine(text);
    m_view.ShowErrorBox(text, LoadMessage(kMsgCaption));
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

FailedStageChoices DownloadPageLogic::Choices() const {
    return ChoicesFor(m_stage, static_cast<bool>(m_request.playWithoutPatch));
}

bool DownloadPageLogic::TryAgain() {
    if (!Choices().tryAgain)
        return false;
    OnSetActive();
    return true;
}

bool DownloadPageLogic::PlayWithoutPatch() {
    if (!Choices().playWithoutPatch)
        return false;
    m_request.playWithoutPatch();
    return true;
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
