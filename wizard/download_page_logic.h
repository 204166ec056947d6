#pragma once
// The download page without a toolkit: builds the release notes, starts a fresh download
// worker on each activation, turns the worker's messages into calls on a DownloadPageView (under
// the 100 ms text throttle) and ends the download stage in "Install" or in message 207.
// Cancel, and the destructor, stop a running worker and wait for it at most 2000 ms.
//
// Threads: every member is called on one thread, the user-interface thread. The worker talks
// to the page only through a message queue that this class owns; a front end learns that
// messages are waiting through the wake callback (called on the worker's thread: it must only
// schedule a DispatchMessages on the user-interface thread) or, in a loop of its own, through
// WaitAndDispatch.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "text/failure.h"
#include "wizard/download_page_view.h"
#include "wizard/download_wizard_request.h"
#include "wizard/text_refresh_throttle.h"
#include "wizard/wizard_buttons.h"

struct PatchInfo;
class DownloadJob;
namespace platform {
class WindowMessageQueue;
struct WindowMessage;
}  // namespace platform

class DownloadPageLogic {
  public:
    // info must outlive this object (the worker gets its own copy of the patch). throttle
    // null: the process-wide one. request.folderClaim is asked on every activation, before the
    // worker starts, for info.download_folder: a refusal starts no worker, and the page shows
    // message 230 naming the folder and ends the stage as failed (DownloadFailure: kBusy).
    // Every worker uses the digest cache request names.
    DownloadPageLogic(PatchInfo& info, DownloadPageView& view,
                      TextRefreshThrottle* throttle = nullptr, DownloadWizardRequest request = {});
    DownloadPageLogic(const DownloadPageLogic&) = delete;
    DownloadPageLogic& operator=(const DownloadPageLogic&) = delete;
    // Cancels a running worker.
    ~DownloadPageLogic();

    // Once per wizard, when the page is first created: progress range 0 to 100 and the release
    // notes (installed_game->latest->version down to installed_version) handed to the view.
    void OnInitDialog();
    // On every activation: stage kDownloading, then a fresh worker over a fresh queue fetching
    // installed_game->latest into info.download_folder. False when no worker could be started;
    // the page then ends the stage as a failed download (message 207, then kFailed).
    bool OnSetActive();

    // Called, on the worker's thread, when messages start waiting in the current queue (and
    // in every later one). It must not call back into this object.
    void SetWakeCallback(std::function<void()> wake);
    // Handles the messages waiting so far, in order, on the calling thread; returns how many.
    // A nested call (from inside an error box's own event loop, say) handles nothing.
    std::size_t DispatchMessages();
    // For a front end without an event loop: waits up to timeoutMs for messages, then handles
    // them. A worker that has ended without a verdict (it could not run at all) is reported
    // like a failed download, so a caller waiting for the stage to change never waits in vain.
    std::size_t WaitAndDispatch(unsigned timeoutMs);

    // The handlers of the worker's messages (WM_DL_SETPOS, WM_DL_SETTEXT, WM_DL_SETRANGE,
    // WM_DL_STARTED, WM_DL_FINISHED).
    void OnSetProgressPos(std::uintptr_t wParam, std::intptr_t lParam);
    // lParam 1 forces the text past the throttle; a progress line's wParam is its file's number.
    void OnSetProgressText(const std::wstring& text, std::uintptr_t wParam, std::intptr_t lParam);
    void OnSetProgressRange(std::uintptr_t wParam, std::intptr_t lParam);
    void OnDownloadStarted(std::uintptr_t wParam, std::intptr_t lParam);
    // wParam 1: kVerified and the Finish button captioned message 217. Anything else: the error
    // box with message 207 (caption 202), then kFailed. Either way the worker is forgotten.
    void OnDownloadFinished(std::uintptr_t wParam, std::intptr_t lParam);

    // Stops a running worker: closes its queue (what it still says is dropped, and a worker
    // waiting in a sent message is released), asks it to stop (also while it hashes or
    // verifies) and waits at most 2000 ms. A worker that has given its verdict and is still
    // ending is waited for too. True when no worker thread runs any more.
    bool Cancel();

    // The failed stage's ways forward (ChoicesFor): "Play without the patch" only when the
    // request says whom to tell.
    FailedStageChoices Choices() const;
    // "Try again" on the failed stage: a fresh worker at once, over what is already on disk, as
    // Back and Next would start. False (nothing done) on any other stage.
    bool TryAgain();
    // "Play without the patch" on the failed stage: tells the request's playWithoutPatch; the
    // front end then closes the wizard as cancelled. False (nothing done) when not offered.
    bool PlayWithoutPatch();

    // A worker was started and has not yet given its verdict or been cancelled.
    bool WorkerRunning() const;
    // The thread of the last worker started has not yet ended (it may have given its verdict
    // and be on its way out, or still be stopping after a cancel whose wait ran out).
    bool WorkerThreadAlive() const;
    WizardStage Stage() const { return m_stage; }
    const std::wstring& ChangelogText() const { return m_changelog; }
    // Why the last download failed, once WM_DL_FINISHED said so (already while the error box
    // shows): the first failure the worker met, with the entry's target as subject, or why no
    // worker could be started. kNone while downloading, after a verified download, and when the
    // worker names no cause (there was no patch to fetch).
    const Failure& DownloadFailure() const { return m_failure; }

    // Called about once a second by a front end while the page shows: when no progress line
    // has come for kStallNoticeMs during a transfer, the patch line says that the launcher
    // waits for the server instead of leaving an old speed standing.
    void OnTimer();
    // The clock of the patch line and of the stall notice (milliseconds, wrapping); tests set
    // their own. Default: platform::TickCountMs.
    void SetClock(std::function<std::uint32_t()> clock);
    // The bar's position: the share of the whole patch, not of the file being fetched.
    int BarPosition() const { return m_barPos; }
    // What the page's second line shows now.
    const std::wstring& PatchProgressText() const { return m_patchLine; }

  private:
    struct PatchFile {
        std::wstring target;
        std::uint64_t size = 0;
    };
    void StartPatchProgress();
    // The file the worker speaks of now (its number, from 1); another file starts at 0 %.
    void SelectFile(std::uintptr_t number);
    // The patch line and the bar from the files done, the current file's share and the rate.
    void UpdatePatchProgress();
    void ShowPatchLine(std::wstring text);
    // The share of the patch's listed bytes already in the folder, failedTarget not counted.
    int PatchPercentInPlace(const std::wstring& failedTarget) const;
    void Handle(const platform::WindowMessage& message);
    void EnterStage(WizardStage stage);

    PatchInfo& m_info;
    DownloadPageView& m_view;
    TextRefreshThrottle& m_throttle;
    std::wstring m_changelog;
    WizardStage m_stage = WizardStage::kInstallPathShown;
    Failure m_failure;
    std::function<void()> m_wake;
    const DownloadWizardRequest m_request;
    std::shared_ptr<platform::WindowMessageQueue> m_queue;
    std::unique_ptr<DownloadJob> m_job;
    // The worker of m_job is still owed a verdict (cleared by OnDownloadFinished and Cancel).
    bool m_workerKnown = false;
    bool m_dispatching = false;

    // The whole patch's progress, from the catalogue's sizes and the worker's lines.
    std::function<std::uint32_t()> m_clock;
    std::vector<PatchFile> m_files;
    std::uint64_t m_patchBytes = 0;
    std::size_t m_fileIndex = 0;
    int m_filePercent = 0;
    bool m_transferring = false;
    bool m_waitingShown = false;
    // The worker's line on what deltas saved, shown again once the patch is verified.
    std::wstring m_deltaSummary;
    std::uint32_t m_lastLineTick = 0;
    std::uint32_t m_startTick = 0;
    std::uint64_t m_bytesAtFirstLine = 0;
    bool m_rateStarted = false;
    std::wstring m_patchLine;
    int m_barPos = 0;
};

// No progress line for this long while a file transfers: the server is silent.
inline constexpr std::uint32_t kStallNoticeMs = 3000;

// "1:05" or "2:03:10" for a number of seconds.
std::wstring DurationText(std::uint64_t seconds);
