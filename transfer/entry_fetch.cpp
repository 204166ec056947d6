#include "transfer/entry_fetch.h"

#include <cerrno>
#include <utility>

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

void SetFailure(Failure* out, Failure failure) {
    if (out != nullptr)
        *out = std::move(failure);
}

EntryOutcome Stop(Failure* failure, const std::wstring& target) {
    SetFailure(failure, MakeFailure(FailureClass::kStopped, 0, {}, target));
    return EntryOutcome::kStop;
}

// A file opened with an errno of 0 failed for a reason the C library did not name.
Failure OpenFailure(int error, const std::wstring& target) {
    if (error != 0)
        return SystemFailure(error, target);
    return MakeFailure(FailureClass::kSystem, 0, "cannot open the file", target);
}

}  // namespace

EntryOutcome FetchEntry(DownloadThreadData& data, const DownloadEntry& entry,
                        const std::wstring& path, Failure* failure) {
    SetFailure(failure, Failure{});
    bool aborted = false;
    if (platform::FileExists(path)) {
        const std::wstring digest = CMD5Wrapper().FileHashW(path, &data.stop);
        if (WorkerStopped(data))
            return Stop(failure, entry.target);
        if (digest == entry.md5)
            return EntryOutcome::kNext;

        std::int64_t size = 0;
        if (platform::GetFileSize(path, size) && size < entry.size) {
            // Its cause does not outlive the fall-back, which tells what really happened.
            const bool resumed = DownloadFile(entry.target, aborted, data, entry.url, path, size);
            if (aborted || WorkerStopped(data))
                return Stop(failure, entry.target);
            if (resumed && ResumeCompleted(path, entry.size))
                return EntryOutcome::kNext;
        }
        // A failed removal is left to the "wb" open, which truncates or fails.
        platform::RemoveFile(path);
    }
    // Whatever this does not bring, the verification catches; the cause is kept beside it.
    Failure cause;
    const bool fetched = DownloadFile(entry.target, aborted, data, entry.url, path, 0, &cause);
    if (aborted || WorkerStopped(data))
        return Stop(failure, entry.target);
    if (!fetched)
        SetFailure(failure, std::move(cause));
    else if (const long status = data.curl.LastHttpStatus(); status >= 400)
        SetFailure(failure, MakeFailure(FailureClass::kHttpStatus, static_cast<int>(status), {},
                                        entry.target));
    return EntryOutcome::kNext;
}

bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset,
                  Failure* failure) {
    SetFailure(failure, Failure{});
    // Append mode writes at the end whatever the position, which is where the resume starts.
    errno = 0;
    platform::UniqueFile file = platform::OpenFile(path, resumeOffset != 0 ? "ab" : "wb");
    if (file == nullptr) {
        SetFailure(failure, OpenFailure(errno, target));
        return false;
    }

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
    Failure transferFailure;
    bool succeeded =
        data.curl.DownloadToFile(url, file.get(), resumeOffset, &record, aborted, &transferFailure);
    {
        std::lock_guard<std::mutex> lock(data.transferLock);
        data.transfer = nullptr;
    }
    // Bytes still buffered in the stream that cannot reach the disk make the file incomplete.
    Failure closeFailure;
    if (!platform::CloseFile(file, &closeFailure) && succeeded) {
        succeeded = false;
        closeFailure.subject = target;
        SetFailure(failure, std::move(closeFailure));
    } else if (!succeeded) {
        transferFailure.subject = target;
        SetFailure(failure, std::move(transferFailure));
    }
    return succeeded;
}
