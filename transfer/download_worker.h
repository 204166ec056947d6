#pragma once
// The download worker: brings every file of a patch into the download folder (keeping complete
// files, resuming short ones, fetching the rest: entry_fetch.h), verifies the list and reports
// to the download page through its message queue (the progress line: progress_line.h).
// DownloadJob starts and stops it the way the page does.

#include <memory>
#include <string>
#include <thread>

#include "catalogue/patch_info.h"
#include "platform/window_messages.h"
#include "text/failure.h"
#include "transfer/download_thread_data.h"
#include "transfer/entry_fetch.h"
#include "transfer/progress_line.h"
#include "transfer/worker_messages.h"

// How long a cancel waits for the worker to end.
inline constexpr unsigned kCancelWaitMs = 2000;

// The thread's body. Returns 0 whatever happened.
int DownloadWorker(const std::shared_ptr<DownloadThreadData>& data);

// Starts and stops one worker at a time, as the download page does.
class DownloadJob {
  public:
    DownloadJob() = default;
    DownloadJob(const DownloadJob&) = delete;
    DownloadJob& operator=(const DownloadJob&) = delete;
    // Asks a worker that still runs to stop and lets it end on its own.
    ~DownloadJob();

    // Copies what the worker needs and starts its thread. False when a worker still runs.
    // digestCachePath names the digest cache file for the files found in the folder (empty:
    // none, every file is read); localSource the folder the files are copied from first
    // (DownloadThreadData::localSource); gameFolder is where the bases of deltas are (empty:
    // the current folder); rateLimit caps the download, in bytes per second (0: none).
    bool Start(const PatchEntry* patch, const std::wstring& folder,
               std::shared_ptr<platform::WindowMessageQueue> queue,
               std::wstring digestCachePath = {}, std::wstring localSource = {},
               std::wstring gameFolder = {}, std::int64_t rateLimit = 0);
    // Raises stop and waits at most kCancelWaitMs for the worker; true when it has ended.
    // A worker blocked in a sent message is only released when the receiver drains or closes
    // the queue, so a page going away closes its queue first.
    bool Cancel();
    bool IsRunning() const;
    // The last worker's first failure (DownloadThreadData::LastFailure); when no worker could
    // be started, why (kSystem with the errno of the thread's creation).
    Failure LastFailure() const;
    // What deltas did in the last worker's run, once it has sent its verdict.
    DeltaTally Deltas() const;

  private:
    std::shared_ptr<DownloadThreadData> m_data;
    std::thread m_thread;
    Failure m_startFailure;
};
