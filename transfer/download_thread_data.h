#pragma once
// The download worker's start record: everything the worker reads, and the lock and flags
// through which the page stops it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/patch_info.h"
#include "platform/window_messages.h"
#include "text/failure.h"
#include "transfer/curl_wrapper.h"
#include "transfer/digest_cache.h"
#include "transfer/known_digests.h"
#include "transfer/progress_line.h"
#include "transfer/retry_backoff.h"
#include "transfer/transfer_limits.h"

// What deltas did in a run, for the page, the console and the run log.
struct DeltaTally {
    std::size_t built = 0;     // files that came as a delta
    std::size_t fellBack = 0;  // files whose delta was tried and failed, fetched whole instead
    // Bytes received in all (deltas and whole files, retries included), against the listed
    // sizes of the files that had to be fetched, however they came.
    std::int64_t fetchedBytes = 0;
    std::int64_t fileBytes = 0;
    // Why the first delta that was tried fell back.
    std::string firstReason;
};

// Everything the worker reads, owned by the worker (shared with the job that started it), so
// nothing can be freed under it when the page, the wizard or the catalogue go away first.
struct DownloadThreadData {
    // The worker's own copy of the patch; null when there was none to fetch.
    std::unique_ptr<PatchEntry> patch;
    std::wstring folder;
    // A folder to copy the files from before any is fetched (a file: base address), ending in
    // '/'; empty: none.
    std::wstring localSource;
    // The game's folder, where the bases of deltas are found (empty: the current folder).
    std::wstring gameFolder;
    // The page's queue; once the page closes it, whatever the worker still says is dropped.
    std::shared_ptr<platform::WindowMessageQueue> page_window;
    // The number of the file being fetched, as its progress lines carry it (WM_DL_SETTEXT); 0
    // before the first. The worker's alone.
    std::uintptr_t fileNumber = 0;
    // The running transfer's progress record, or null. Guarded by transferLock, which also
    // covers raising stop, so a cancel never writes into a record that is gone.
    TransferProgress* transfer = nullptr;
    std::mutex transferLock;
    // The job-wide stop request: seen between files, while hashing and while verifying.
    std::atomic<bool> stop{false};
    // Wakes a worker that pauses before a retry; raised with stop, under transferLock.
    std::condition_variable stopSignal;
    // The worker's own transfer wrapper: the process-wide one dies with the application.
    CCurlWrapper curl;
    // The pauses before the retries of a file after a failure that may pass, and the seed of
    // the next file's schedule (one more per file). Tests shorten the one and fix the other.
    BackoffSettings backoff = FileBackoff();
    std::uint64_t backoffSeed = FreshBackoffSeed();

    // The digest cache kept between runs, for the files found in the folder: loaded when the
    // worker starts and saved when it ends. Disabled (or null) when the start record named no
    // cache file (--no-cache, or no cache folder).
    std::unique_ptr<DigestCache> digestCache;
    // What this run wrote and digested on the way. The worker's alone.
    WrittenDigests written;
    // The files whose digests had to be read from the disk (relative paths, in order): while
    // fetching (files found in the folder, resumed parts) and while verifying. The worker's
    // alone; read them once it has ended.
    std::vector<std::wstring> fetchReads;
    std::vector<std::wstring> verifyReads;
    // The bytes this run's transfers added to files, and what deltas did so far. The worker's
    // alone; PublishDeltas hands a copy to the page.
    std::int64_t bytesFetched = 0;
    DeltaTally deltas;
    // Servers (scheme, host and port) seen to ignore ranges in this run: their large files come
    // over one connection without asking again. The worker's alone.
    std::vector<std::wstring> rangelessOrigins;
    // The smallest rest of a file fetched over several connections (kRangedMinimumBytes); tests
    // lower it, so that a small body is cut into ranges.
    std::int64_t rangedMinimum = kRangedMinimumBytes;
    // The most connections a file comes over (kConnectionsVariable, else kMaxConnections).
    std::size_t connections = kMaxConnections;

    // Raised by the thread as its last act.
    std::mutex endLock;
    std::condition_variable endSignal;
    bool ended = false;

    // Called by the worker for every failure it meets; only the first of the run is kept.
    void RecordFailure(const Failure& failure);
    // The first failure the run met (with the entry's target as subject), kNone while it met
    // none. Recorded before WM_DL_FINISHED is sent, so a page that has handled the verdict
    // reads the cause behind it. Safe from any thread.
    Failure LastFailure() const;
    // Published before WM_DL_FINISHED, read by the page once it has handled it.
    void PublishDeltas();
    DeltaTally Deltas() const;

  private:
    mutable std::mutex m_failureLock;
    Failure m_failure;
    DeltaTally m_published;
};

// Builds the start record: copies the patch (null allowed) and the folder; digestCachePath names
// the digest cache file (empty: no cache); rateLimit caps the worker's transfers, in bytes per
// second (0: none).
std::shared_ptr<DownloadThreadData> MakeDownloadThreadData(
    const PatchEntry* patch, const std::wstring& folder,
    std::shared_ptr<platform::WindowMessageQueue> queue, std::wstring digestCachePath = {},
    std::wstring gameFolder = {}, std::int64_t rateLimit = 0);

// Asks the worker to stop: raises stop on the running transfer (if any) and the job-wide flag,
// under the same lock as the worker's publishing and withdrawing of the transfer.
void RequestStop(DownloadThreadData& data);

// A transfer the page follows: its progress record posts lines and positions for the file being
// fetched (ReportTransferProgress, shown against baseBytes already on disk), and is the
// worker's running transfer (data.transfer) while this lives, so a stop reaches it; one
// requested before it was published is passed on at once.
class PageTransfer {
  public:
    PageTransfer(DownloadThreadData& data, const std::wstring& displayName, std::int64_t baseBytes);
    ~PageTransfer() { Withdraw(); }
    PageTransfer(const PageTransfer&) = delete;
    PageTransfer& operator=(const PageTransfer&) = delete;

    TransferProgress& Record() { return m_record; }
    // No longer the running transfer; a stop from now on is the job's alone.
    void Withdraw();

  private:
    DownloadThreadData& m_data;
    ProgressContext m_context;
    TransferProgress m_record;
    bool m_published = false;
};

// Waits pause before a retry; false, at once, when a stop is requested meanwhile (a closed page
// is noticed within a few milliseconds).
bool WaitBeforeRetry(DownloadThreadData& data, std::chrono::milliseconds pause);

// Nobody is left to tell: the page asked for a stop, or it went away and closed its queue.
bool WorkerStopped(const DownloadThreadData& data);
