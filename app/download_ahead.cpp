#include "app/download_ahead.h"

#include <memory>

#include "app/command_line.h"
#include "catalogue/patch_info.h"
#include "platform/interrupt.h"
#include "platform/platform.h"
#include "platform/window_messages.h"
#include "text/log.h"
#include "text/messages.h"
#include "transfer/digest_cache.h"
#include "transfer/download_worker.h"
#include "transfer/known_digests.h"
#include "transfer/local_source.h"
#include "transfer/verify.h"
#include "ui/user_interface.h"
#include "wizard/failure_text.h"
#include "wizard/install_path_page_logic.h"

namespace {

// How long the loop waits for the worker before it looks at Ctrl-C again.
constexpr unsigned kPollMs = 100;

// The worker as the download page runs it, with the log in place of the page: its phase texts
// and retries go to --verbose, its progress lines nowhere. True when the worker verified every
// file; otherwise failure says why.
bool FetchAndVerify(const UpdateFlow& flow, const PatchEntry& patch, const std::wstring& folder,
                    Failure& failure) {
    auto queue = std::make_shared<platform::WindowMessageQueue>();
    DownloadJob job;
    // As the page starts it: deltas from the game's own files, the player's cap on the rate.
    if (!job.Start(&patch, folder, queue, flow.digestCache,
                   LocalSourceFolder(flow.options.m_szUrl), flow.options.m_szPath,
                   flow.options.m_rateLimit)) {
        failure = job.LastFailure();
        return false;
    }
    platform::ScopedInterruptCatcher interrupt;
    bool finished = false;
    bool verified = false;
    const auto handle = [&](const platform::WindowMessage& message) {
        if (message.id == WM_DL_FINISHED) {
            finished = true;
            verified = message.wParam == 1;
        } else if (message.id == WM_DL_SETTEXT && message.lParam == 1 && !message.text.empty()) {
            LogLine("download: %s", LogText(message.text).c_str());
        }
    };
    while (!finished && !interrupt.Interrupted()) {
        queue->WaitForMessage(kPollMs);
        queue->Dispatch(handle);
    }
    // After the verdict the worker only ends; before it, a Ctrl-C stops it, keeping what is on
    // disk for the next run.
    queue->Close();
    job.Cancel();
    if (!verified)
        failure = finished ? job.LastFailure() : MakeFailure(FailureClass::kStopped);
    if (!verified && !failure.IsFailure())
        failure = MakeFailure(FailureClass::kDigestMismatch);
    return verified;
}

// The worker knew the digests of what it wrote without reading it back, but the cache only
// trusts a digest taken well after the file's last change, so the next start would read the
// whole patch again. Nobody waits for a download made ahead of time: the files are left to
// settle and read once more, and the cache remembers them.
void RememberForNextStart(const UpdateFlow& flow, const PatchEntry& patch,
                          const std::wstring& folder, unsigned settleMs) {
    DigestCache cache(flow.digestCache);
    if (!cache.IsEnabled())
        return;
    platform::SleepMs(settleMs);
    cache.Load();
    Failure failure;
    const KnownDigests known{nullptr, &cache, nullptr};
    const bool verified = VerifyDownloadList(&patch, folder, known, nullptr, &failure);
    const bool saved = cache.Save();
    LogLine("digest cache for the next start: %s, %s", verified ? "patch verified" : "changed",
            saved ? "saved" : "not saved");
}

void Fail(UpdateFlow& flow, Failure failure, const char* what) {
    if (LogEnabled())
        LogLine("download ahead: %s: %s", what, DescribeFailure(failure).c_str());
    flow.failure = std::move(failure);
    flow.outcome = RunOutcome::kUpdateFailed;
}

}  // namespace

void RunDownloadAhead(UpdateFlow& flow, unsigned settleMs) {
    bool bStartGame = true;
    if (!RunUpdateChecks(flow, bStartGame)) {
        // Without a catalogue nobody knows whether a patch is due: a timer's owner wants to hear
        // of that. Without a game there is nothing to patch.
        if (flow.catalogueRead) {
            flow.outcome = RunOutcome::kNothingDue;
        } else {
            Failure failure = flow.failure.IsFailure()
                                  ? flow.failure
                                  : MakeFailure(FailureClass::kUnreadable, 0, "not a catalogue",
                                                flow.options.m_szUrl);
            Fail(flow, std::move(failure), "catalogue not read");
        }
        return;
    }
    PatchInfo& info = *flow.patchInfo;
    const PatchEntry* latest =
        info.installed_game != nullptr ? info.installed_game->latest : nullptr;
    if (latest == nullptr || info.installed_version == latest->version) {
        LogLine("download ahead: nothing due");
        flow.outcome = RunOutcome::kNothingDue;
        return;
    }
    // The newer launcher's question is left to the next start: a night's timer opens no
    // browser.
    if (!flow.options.m_bAssumeYes &&
        flow.ui.MessageBox(FormatPatchOffer(info.installed_version, latest->version),
                           LoadMessage(kMsgCaption), kMbYesNo | kMbIconQuestion) != kIdYes) {
        flow.outcome = RunOutcome::kStoppedByPlayer;
        return;
    }

    // A start from the menu downloads where the wizard would have proposed.
    if (flow.outsideWorkingFolder && info.download_folder.empty())
        info.download_folder = flow.downloadFolder;
    const std::wstring proposal = ProposeDownloadFolder(info);
    std::wstring refusal;
    if (!AcceptDownloadFolder(proposal, info, &refusal)) {
        ShowErrorMessage(flow.ui, refusal);
        Fail(flow, MakeFailure(FailureClass::kUnsafePath, 0, "folder refused", proposal),
             "folder refused");
        return;
    }
    const std::wstring folder = info.download_folder;
    if (!ClaimDownloadFolder(flow, folder)) {
        flow.failure = MakeFailure(FailureClass::kBusy, 0, {}, folder);
        ShowErrorMessage(flow.ui, FailureMessage(flow.failure));
        flow.outcome = RunOutcome::kFolderBusy;
        return;
    }
    LogLine("download ahead: patch %s into %s", LogText(latest->version).c_str(),
            LogText(folder).c_str());
    Failure failure;
    if (!FetchAndVerify(flow, *latest, folder, failure)) {
        ShowErrorMessage(flow.ui, FailureMessage(failure));
        Fail(flow, std::move(failure), "download failed");
    } else {
        RememberForNextStart(flow, *latest, folder, settleMs);
        flow.outcome = RunOutcome::kPatchReady;
        LogLine("download ahead: patch %s ready", LogText(latest->version).c_str());
    }
    flow.folderLock.Release();
    flow.lockedFolder.clear();
}
