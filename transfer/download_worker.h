#pragma once
// The download worker: brings every file of a patch into the download folder (keeping complete
// files, resuming short ones, fetching the rest), verifies the list and reports to the download
// page through its message queue. DownloadJob starts and stops it the way the page does.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "catalogue/patch_info.h"
#include "platform/window_messages.h"
#include "transfer/worker_messages.h"
#include "transfer/curl_wrapper.h"

// Room for a progress line, terminator included; a longer line is cut to fit.
inline constexpr std::size_t kProgressTextCapacity = 256;
// A progress line is posted at most this often; the page redraws at most every 100 ms, so it
// always has a line younger than its own refresh to show.
inline constexpr std::uint32_t kProgressTextIntervalMs = 20;
// How long a cancel waits for the worker to end.
inline constexpr unsigned kCancelWaitMs = 2000;

// Everything the worker reads, owned by the worker (shared with the job that started it), so
// nothing can be freed under it when the page, the wizard or the catalogue go away first.
struct DownloadThreadData {
    // The worker's own copy of the patch; null when there was none to fetch.
    std::unique_ptr<PatchEntry> patch;
    std::wstring folder;
    // The page's queue; once the page closes it, whatever the worker still says is dropped.
    std::shared_ptr<platform::WindowMessageQueue> page_window;
    // The running transfer's progress record, or null. Guarded by transferLock, which also
    // covers raising stop, so a cancel never writes into a record that is gone.
    TransferProgress* transfer = nullptr;
    std::mutex transferLock;
    // The job-wide stop request: seen between files, while hashing and while verifying.
    std::atomic<bool> stop{false};
    // The worker's own transfer wrapper: the process-wide one dies with the application.
    CCurlWrapper curl;

    // Raised by the thread as its last act.
    std::mutex endLock;
    std::condition_variable endSignal;
    bool ended = false;
};

// Builds the start record: copies the patch (null allowed) and the folder.
std::shared_ptr<DownloadThreadData> MakeDownloadThreadData(
    const PatchEntry* patch, const std::wstring& folder,
    std::shared_ptr<platform::WindowMessageQueue> queue);

// Asks the worker to stop: raises stop on the running transfer (if any) and the job-wide flag,
// under the same lock as the worker's publishing and withdrawing of the transfer.
void RequestStop(DownloadThreadData& data);

// The thread's body. Returns 0 whatever happened.
int DownloadWorker(const std::shared_ptr<DownloadThreadData>& data);

// One transfer into one file: "ab" from resumeOffset when it is not 0, else "wb".
bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset);

// Per-transfer state of the progress notification, reached through TransferProgress::context.
struct ProgressContext {
    std::wstring displayName;
    platform::WindowMessageQueue* windowCell = nullptr;
    // Bytes on disk when the transfer started, so a resumed file is shown against its size.
    float baseBytes = 0;
    // What was last posted, so the receiver is not flooded with lines it cannot show.
    int lastPercent = -1;
    bool textPosted = false;
    std::uint32_t lastTextTick = 0;
};

// The progress line "<206> <name> <done> MB / <total> MB (<speed> <unit>)" and the percent of
// the current file. False, with nothing written, while the size to receive is unknown.
bool FormatProgressLine(const TransferProgress& record, const std::wstring& displayName,
                        float baseBytes, std::wstring& text, int& percent);

// The notify function of every transfer: posts the line and the position to the page.
void ReportTransferProgress(TransferProgress* record);

// Starts and stops one worker at a time, as the download page does.
class DownloadJob {
  public:
    DownloadJob() = default;
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;
    // Asks a worker that still runs to stop and lets it end on its own.
    ~DownloadJob();

    // Copies what the worker needs and starts its thread. False when a worker still runs.
    bool Start(const PatchEntry* patch, const std::wstring& folder,
               std::shared_ptr<platform::WindowMessageQueue> queue);
    // Raises stop and waits at most kCancelWaitMs for the worker; true when it has ended.
    // A worker blocked in a sent message is only released when the receiver drains or closes
    // the queue, so a page going away closes its queue first.
    bool Cancel();
    bool IsRunning() const;

  private:
    std::shared_ptr<DownloadThreadData> m_data;
    std::thread m_thread;
};
