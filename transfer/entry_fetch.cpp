#include "transfer/entry_fetch.h"

#include "platform/platform.h"
#include "transfer/md5.h"
#include "transfer/progress_line.h"

namespace {

// A resumed transfer "succeeds" in libcurl's eyes also when the server refused the range (416,
// nothing written) or found nothing left to send. Only a file that now has its listed size was
// really completed; anything else is started over, so a range the server will never honour
// cannot fail the same way on every retry.
bool ResumeCompleted(const std::wstring& path, std::int64_t expectedSize) {
    std::int64_t size = 0;
    return platform::GetFileSize(path, size) && size == expectedSize;
}

}  // namespace

EntryOutcome FetchEntry(DownloadThreadData& data, const DownloadEntry& entry,
                        const std::wstring& path) {
    bool aborted = false;
    if (platform::FileExists(path)) {
        const std::wstring digest = CMD5Wrapper().FileHashW(path, &data.stop);
        if (WorkerStopped(data))
            return EntryOutcome::kStop;
        if (digest == entry.md5)
            return EntryOutcome::kNext;

        std::int64_t size = 0;
        if (platform::GetFileSize(path, size) && size < entry.size) {
            const bool resumed = DownloadFile(entry.target, aborted, data, entry.url, path, size);
            if (aborted || WorkerStopped(data))
                return EntryOutcome::kStop;
            if (resumed && ResumeCompleted(path, entry.size))
                return EntryOutcome::kNext;
        }
        // A failed removal is left to the "wb" open, which truncates or fails.
        platform::RemoveFile(path);
    }
    // Its result is left to the verification, which catches whatever this did not bring.
    DownloadFile(entry.target, aborted, data, entry.url, path, 0);
    if (aborted || WorkerStopped(data))
        return EntryOutcome::kStop;
    return EntryOutcome::kNext;
}

bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset) {
    // Append mode writes at the end whatever the position, which is where the resume starts.
    platform::UniqueFile file = platform::OpenFile(path, resumeOffset != 0 ? "ab" : "wb");
    if (file == nullptr)
        return false;

    TransferProgress record;
    ProgressContext context;
    context.displayName = target;
    context.windowCell = data.page_window.get();
    context.baseBytes = static_cast<float>(resumeOffset);
    record.notify = &ReportTransferProgress;
    record.context = &context;
    {
        std::lock_guard<std::mutex> lock(data.transferLock);
        // A stop that came before the record was published must still reach this transfer.
        if (data.stop.load(std::memory_order_acquire))
            record.stop.store(true, std::memory_order_release);
        data.transfer = &record;
    }
    bool succeeded = data.curl.DownloadToFile(url, file.get(), resumeOffset, &record, aborted);
    {
        std::lock_guard<std::mutex> lock(data.transferLock);
        data.transfer = nullptr;
    }
    // Bytes still buffered in the stream that cannot reach the disk make the file incomplete.
    if (!platform::CloseFile(file))
        succeeded = false;
    return succeeded;
}
