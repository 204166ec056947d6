#pragma once
// A small document (the catalogue, its signature) fetched into memory the way the patch files
// are fetched: only a 200 answer is a document, and a failure that may pass is tried again.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "text/failure.h"
#include "transfer/curl_wrapper.h"
#include "transfer/memory_buffer.h"
#include "transfer/retry_backoff.h"

struct DocumentFetch {
    BackoffSettings backoff = CatalogueBackoff();
    std::uint64_t seed = 0;
    // Raised from another thread, it ends a transfer or a pause at once; may be null.
    const std::atomic<bool>* stop = nullptr;
    // Told of every pause before it starts: the pause and the number of the retry after it.
    std::function<void(std::chrono::milliseconds, unsigned)> onRetry;
    // The copy the caller keeps (empty: none): sent as the request's condition, so that a 304
    // answer says that copy is still current.
    HttpValidators condition;
};

// Fetches url into buffer (emptied first). The status is read before anyone sees a byte: any
// answer but 200 fails with kHttpStatus (code: the status) and leaves the buffer empty, so an
// error page never reaches a parser; a 304 to a request with how.condition succeeds with the
// buffer empty (LastHttpStatus says which). A transient failure (IsTransientFailure) is tried again
// after the pauses of a RetryBackoff of how.backoff seeded with how.seed, until its budget is
// spent; the last failure is then the result. failure, when given, receives the cause
// (CCurlWrapper::DownloadToMemory's, kStopped for a stop raised during a pause).
bool FetchDocument(CCurlWrapper& curl, const std::wstring& url, MemoryBuffer& buffer,
                   const DocumentFetch& how, Failure* failure = nullptr);
