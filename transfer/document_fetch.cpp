#include "transfer/document_fetch.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "transfer/entry_fetch.h"
#include "transfer/local_source.h"
#include "transfer/transfer_limits.h"

namespace {

using std::chrono::milliseconds;

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load(std::memory_order_acquire);
}

// False as soon as stop is raised; the step keeps a stop's delay short without a signal to wait
// on (the flag belongs to the checking window).
bool Pause(milliseconds pause, const std::atomic<bool>* stop) {
    constexpr milliseconds kStep{20};
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!Stopped(stop)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kStep, until - now));
    }
    return false;
}

}  // namespace

bool FetchDocument(CCurlWrapper& curl, const std::wstring& url, MemoryBuffer& buffer,
                   const DocumentFetch& how, Failure* failure) {
    // A folder answers at once or not at all: there is nothing to wait for.
    std::wstring localPath;
    if (LocalPathOf(url, localPath))
        return ReadLocalDocument(localPath, buffer, kMaxMemoryBody, failure);
    RetryBackoff backoff(how.backoff, how.seed);
    Failure cause;
    for (;;) {
        bool aborted = false;
        const HttpValidators* condition = how.condition.Empty() ? nullptr : &how.condition;
        bool fetched = curl.DownloadToMemory(url, buffer, aborted, &cause, how.stop, condition);
        const bool unchanged = condition != nullptr && curl.LastHttpStatus() == 304;
        if (fetched && curl.LastHttpStatus() != 200 && !unchanged) {
            ReleaseBuffer(buffer);
            buffer.bytes = nullptr;
            buffer.byteCount = 0;
            cause = MakeFailure(FailureClass::kHttpStatus, static_cast<int>(curl.LastHttpStatus()),
                                {}, url);
            fetched = false;
        }
        if (fetched) {
            if (failure != nullptr)
                *failure = Failure{};
            return true;
        }
        std::optional<milliseconds> pause;
        if (!aborted && !Stopped(how.stop) && IsTransientFailure(cause)) {
            const long retryAfter =
                cause.cause == FailureClass::kHttpStatus ? curl.LastRetryAfterSeconds() : -1;
            pause = backoff.NextPause(KindOfRetry(cause, retryAfter), retryAfter);
        }
        if (!pause) {
            if (failure != nullptr)
                *failure = std::move(cause);
            return false;
        }
        if (how.onRetry)
            how.onRetry(*pause, backoff.Retries());
        if (!Pause(*pause, how.stop)) {
            if (failure != nullptr)
                *failure = MakeFailure(FailureClass::kStopped, 0, {}, url);
            return false;
        }
    }
}
