#include "transfer/entry_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "text/log.h"
#include "text/messages.h"
#include "transfer/curl_result.h"
#include "transfer/file_digests.h"
#include "transfer/known_digests.h"
#include "transfer/local_source.h"
#include "transfer/progress_line.h"
#include "transfer/range_fetch.h"
#include "transfer/receive_digester.h"
#include "transfer/retry_backoff.h"
#include "transfer/worker_messages.h"

namespace {

using std::chrono::milliseconds;

void SetFailure(Failure* out, Failure failure) {
    if (out != nullptr)
        *out = std::move(failure);
}

EntryOutcome Stop(Failure* failure, const std::wstring& target) {
    SetFailure(failure, MakeFailure(FailureClass::kStopped, 0, {}, target));
    return EntryOutcome::kStop;
}

Failure WithSubject(Failure failure, const std::wstring& target) {
    failure.subject = target;
    return failure;
}

// Reads the part of a file kept for a resume, once, into digests.part: the resume's digests go
// on from there. partKnown only when the part was read whole and the file kept one state
// across the read.
void ReadPart(DownloadThreadData& data, const platform::TrustedFolder& root,
              const DownloadEntry& entry, const std::wstring& relative, WriteDigests& digests) {
    digests = WriteDigests{};
    digests.withSha256 = !entry.sha256.empty();
    digests.part = RunningDigests(digests.withSha256);
    platform::UniqueFile file = root.OpenFile(relative, platform::FileAccess::kRead);
    if (file == nullptr)
        return;
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    data.fetchReads.push_back(relative);
    platform::FileIdentity before;
    platform::FileIdentity after;
    digests.partKnown = platform::ReadOpenFileIdentity(file.get(), before) &&
                        FeedFile(file.get(), digests.part, &data.stop) == nullptr &&
                        platform::ReadOpenFileIdentity(file.get(), after) && after == before &&
                        after.size == digests.part.Bytes();
    digests.partIdentity = after;
}

// The digests a whole fetch starts from.
WriteDigests FreshDigests(const DownloadEntry& entry) {
    WriteDigests digests;
    digests.withSha256 = !entry.sha256.empty();
    digests.part = RunningDigests(digests.withSha256);
    return digests;
}

// A resume counts only when it left the file at its listed size with its listed digests:
// libcurl also "succeeds" when the server refused the range (416, nothing written), and a file
// re-published under the same address leaves a finished file of other bytes.
bool ResumeCompleted(DownloadThreadData& data, const platform::TrustedFolder& root,
                     const DownloadEntry& entry, const std::wstring& relative) {
    platform::EntryStatus status;
    if (!root.Stat(relative, status) || status.kind != platform::EntryKind::kRegularFile)
        return false;
    // An entry that lists no size has none to compare.
    return EntryInPlace(data, root, entry, relative,
                        entry.size > 0 ? std::optional(status.size) : std::nullopt);
}

// Where the next try starts: from the end of what is on disk while that is short of the
// listed size, else from scratch.
std::int64_t ResumePoint(const platform::TrustedFolder& root, const DownloadEntry& entry,
                         const std::wstring& relative) {
    platform::EntryStatus status;
    if (!root.Stat(relative, status) || status.kind != platform::EntryKind::kRegularFile)
        return 0;
    if (entry.size > 0 && status.size >= entry.size) {
        root.RemoveFile(relative);
        return 0;
    }
    return status.size;
}

// A resume the server cannot serve, as opposed to one that failed on its way: the range was
// refused or ignored (a whole body is more than the rest of the file), or the finished file is
// not the listed one. Only these start the file over; any other failure keeps the bytes on disk.
bool ResumeRefused(const Failure& cause) {
    return (cause.cause == FailureClass::kNetwork && cause.code == CURLE_RANGE_ERROR) ||
           cause.cause == FailureClass::kTooLarge || cause.cause == FailureClass::kDigestMismatch;
}

// A source whose name is unknown or that refuses the connection is not coming back within any
// pause worth waiting: with another source at hand, that one is asked at once.
bool SourceIsGone(const Failure& cause) {
    return cause.cause == FailureClass::kNetwork &&
           (cause.code == CURLE_COULDNT_RESOLVE_HOST || cause.code == CURLE_COULDNT_CONNECT);
}

}  // namespace

bool SourceFault(const Failure& cause) {
    switch (cause.cause) {
        case FailureClass::kNetwork:
        case FailureClass::kStalled:
        case FailureClass::kHttpStatus:
        case FailureClass::kTooLarge:
        case FailureClass::kDigestMismatch:
            return true;
        default:
            return false;
    }
}

namespace {

// Each further source gets its own schedule, drawn apart from the first one's.
constexpr std::uint64_t kSourceSeedStep = 0x9E3779B97F4A7C15ull;

// A Retry-After counts only on the error answer that carried it.
std::optional<milliseconds> RetryPause(const DownloadThreadData& data, RetryBackoff& backoff,
                                       const Failure& cause) {
    const long retryAfter =
        cause.cause == FailureClass::kHttpStatus ? data.curl.LastRetryAfterSeconds() : -1;
    return backoff.NextPause(KindOfRetry(cause, retryAfter), retryAfter);
}

void AnnounceRetry(const DownloadThreadData& data, const std::wstring& target, milliseconds left,
                   std::size_t attempt) {
    if (data.page_window == nullptr)
        return;
    const long long seconds = (left.count() + 999) / 1000;
    // Sent as a line of its own, which the page shows at once: a progress line could be held
    // back by the page's refresh rate and leave the last one standing through the pause. It
    // carries its file's number, so the page's "File N of M" and bar follow it.
    data.page_window->Post(
        WM_DL_SETTEXT, data.fileNumber, 1,
        FormatMessageText(LoadMessage(kMsgRetrying),
                          {target, std::to_wstring(seconds), std::to_wstring(attempt)}));
}

// The pause before a retry, counted down on the page a second at a time. False when the
// worker was stopped meanwhile.
bool PauseBeforeRetry(DownloadThreadData& data, const std::wstring& target, milliseconds pause,
                      std::size_t attempt) {
    milliseconds left = pause;
    for (;;) {
        AnnounceRetry(data, target, left, attempt);
        // Until the seconds shown drop by one.
        const milliseconds step = left - milliseconds(1000) * ((left.count() - 1) / 1000);
        if (left <= milliseconds(0))
            return !WorkerStopped(data);
        if (!WaitBeforeRetry(data, std::min(step, left)))
            return false;
        left -= std::min(step, left);
        if (left <= milliseconds(0))
            return true;
    }
}

// The digester of a transfer into file, written from offset on: fresh for a new file; for a
// resume, going on from the part's digests only when the file opened for appending is the very
// file that was read, untouched since. Null when its bytes cannot all be seen.
std::unique_ptr<ReceiveDigester> StartDigester(const WriteDigests* digests, std::FILE* file,
                                               std::int64_t offset) {
    if (digests == nullptr)
        return nullptr;
    if (offset == 0)
        return std::make_unique<ReceiveDigester>(RunningDigests(digests->withSha256));
    platform::FileIdentity now;
    if (!digests->partKnown || digests->part.Bytes() != offset ||
        !platform::ReadOpenFileIdentity(file, now) || now != digests->partIdentity)
        return nullptr;
    return std::make_unique<ReceiveDigester>(digests->part);
}

// A copy moves a megabyte at a time: the stick sets the pace, and memory stays small.
constexpr std::size_t kCopyBlock = 1u << 20;

// Copies in into relative below root, digesting every byte on its way; true when the copy is
// whole and has the entry's size and digests, which this run then knows without reading the
// file back (as after a transfer).
bool CopyInto(DownloadThreadData& data, const platform::TrustedFolder& root,
              const DownloadEntry& entry, const std::wstring& relative, std::FILE* in) {
    data.written.Forget(relative);
    platform::UniqueFile out = root.OpenFile(relative, platform::FileAccess::kWriteFromScratch);
    if (out == nullptr)
        return false;
    std::setvbuf(in, nullptr, _IONBF, 0);
    // A stick is slow and a patch file large: the page shows the copy as it shows a transfer.
    TransferProgress record;
    ProgressContext context;
    context.displayName = entry.target;
    context.windowCell = data.page_window.get();
    context.fileNumber = data.fileNumber;
    record.context = &context;
    record.receiveTotal = static_cast<double>(entry.size);
    const std::uint32_t started = platform::TickCountMs();
    RunningDigests digests(!entry.sha256.empty());
    std::vector<unsigned char> block(kCopyBlock);
    bool written = true;
    std::size_t got = 0;
    while (written && !WorkerStopped(data) &&
           (got = std::fread(block.data(), 1, block.size(), in)) > 0) {
        digests.Feed(block.data(), got);
        written = std::fwrite(block.data(), 1, got, out.get()) == got;
        record.received += static_cast<double>(got);
        const std::uint32_t elapsed = platform::TickCountMs() - started;
        record.receiveSpeed = elapsed > 0 ? record.received * 1000.0 / elapsed : 0;
        ReportTransferProgress(&record);
    }
    platform::FileIdentity identity;
    const bool complete =
        written && !WorkerStopped(data) && std::ferror(in) == 0 && std::fflush(out.get()) == 0 &&
        platform::ReadOpenFileIdentity(out.get(), identity) && identity.size == digests.Bytes();
    const bool closed = platform::CloseFile(out);
    const FileDigestTexts texts = digests.Texts();
    if (!complete || !closed || !MatchEntry(entry, texts, digests.Bytes()).All())
        return false;
    data.written.Record(relative, identity, texts);
    return true;
}

// The file the local source holds for entry's address, copied into relative: the first regular
// file of the listed size found under the address's path (LocalCandidates), never through a
// link, that proves to have the listed digests. touched: relative was written over (a copy that
// proved wrong is removed again).
bool CopyFromLocalSource(DownloadThreadData& data, const platform::TrustedFolder& root,
                         const DownloadEntry& entry, const std::wstring& relative, bool& touched) {
    touched = false;
    platform::TrustedFolder source;
    if (data.localSource.empty() || !source.Open(data.localSource))
        return false;
    for (const std::wstring& candidate : LocalCandidates(entry.url)) {
        platform::EntryStatus status;
        if (!source.Stat(candidate, status) || status.kind != platform::EntryKind::kRegularFile ||
            (entry.size > 0 && status.size != entry.size))
            continue;
        platform::UniqueFile in = source.OpenFile(candidate, platform::FileAccess::kRead);
        if (in == nullptr)
            continue;
        touched = true;
        if (CopyInto(data, root, entry, relative, in.get())) {
            LogLine("%s: copied from %s", LogText(entry.target).c_str(),
                    LogText(data.localSource + candidate).c_str());
            return true;
        }
        root.RemoveFile(relative);
        LogLine("%s: %s in the local folder is not the listed file", LogText(entry.target).c_str(),
                LogText(candidate).c_str());
        if (WorkerStopped(data))
            return false;
    }
    return false;
}

}  // namespace

bool EntryInPlace(DownloadThreadData& data, const platform::TrustedFolder& root,
                  const DownloadEntry& entry, const std::wstring& relative,
                  std::optional<std::int64_t> size) {
    platform::UniqueFile file = root.OpenFile(relative, platform::FileAccess::kRead);
    if (file == nullptr)
        return false;
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    const KnownDigests known{&data.written, data.digestCache.get(), &data.fetchReads};
    return MatchEntry(
               entry,
               DigestsOfOpenFile(file.get(), relative, !entry.sha256.empty(), known, &data.stop),
               size)
        .All();
}

bool IsTransientFailure(const Failure& failure) {
    switch (failure.cause) {
        case FailureClass::kStalled:
            return true;
        case FailureClass::kHttpStatus:
            return failure.code >= 500 || failure.code == 408 || failure.code == 429;
        case FailureClass::kNetwork:
            return ClassifyCurlResult(failure.code).retryable;
        default:
            return false;
    }
}

EntryOutcome FetchEntry(DownloadThreadData& data, const platform::TrustedFolder& root,
                        const DownloadEntry& entry, const std::wstring& relative,
                        Failure* failure) {
    SetFailure(failure, Failure{});
    platform::EntryStatus status;
    Failure cause;
    if (!root.Stat(relative, status, &cause)) {
        SetFailure(failure, WithSubject(std::move(cause), entry.target));
        return EntryOutcome::kNext;
    }
    if (status.kind == platform::EntryKind::kFolder || status.kind == platform::EntryKind::kOther) {
        SetFailure(failure, MakeFailure(FailureClass::kNotRegularFile, 0, {}, entry.target));
        return EntryOutcome::kNext;
    }

    std::int64_t offset = 0;
    WriteDigests digests = FreshDigests(entry);
    // A file written in ranges is taken up from its record, before the rules below: at its
    // listed size it would be read for nothing and removed.
    bool ranged = status.kind == platform::EntryKind::kRegularFile && entry.size > 0 &&
                  HasRangeRecord(data, root, entry, relative);
    if (!ranged && !root.Stat(relative, status))
        status = platform::EntryStatus{};
    if (!ranged && status.kind == platform::EntryKind::kRegularFile) {
        // A short file is read for the state its resume goes on from; whether it happens to
        // be the listed file already is seen from the same read.
        const bool isShort = status.size < entry.size;
        if (isShort)
            ReadPart(data, root, entry, relative, digests);
        const bool kept = isShort
                              ? digests.partKnown && MatchEntry(entry, digests.part.Texts()).All()
                              : EntryInPlace(data, root, entry, relative);
        if (WorkerStopped(data))
            return Stop(failure, entry.target);
        if (kept) {
            LogLine("download: %s: kept, already on disk with its digests",
                    LogText(entry.target).c_str());
            return EntryOutcome::kNext;
        }
        if (isShort) {
            offset = status.size;
        } else {
            root.RemoveFile(relative);  // a failed removal is left to the open, which truncates
        }
    }

    // The local folder first; the network only for what is missing or wrong there.
    bool touched = false;
    if (CopyFromLocalSource(data, root, entry, relative, touched)) {
        ForgetRanges(root, relative);
        return EntryOutcome::kNext;
    }
    if (WorkerStopped(data))
        return Stop(failure, entry.target);
    if (touched) {
        ForgetRanges(root, relative);
        ranged = false;
        offset = 0;
        digests = FreshDigests(entry);
    }

    bool wholeFetchLeft = offset > 0;
    // The catalogue's address, then its mirrors: each serves the same bytes, so a file goes on
    // from what is on disk whichever source brought it.
    std::vector<std::wstring> sources{entry.url};
    sources.insert(sources.end(), entry.mirrors.begin(), entry.mirrors.end());
    std::size_t source = 0;
    // Only the current source's ranges, once bytes from several failed the digests together.
    bool oneSource = false;
    if (!ranged)
        ranged = WorthRanges(data, entry, offset, sources[source]);
    const std::uint64_t seed = data.backoffSeed++;
    RetryBackoff backoff(data.backoff, seed);
    // Where the next try starts: the record of a file written in ranges, else the end of what
    // is on disk while that is short of the listed size (read for its digests), else nothing.
    const auto takeUp = [&]() {
        ranged = HasRangeRecord(data, root, entry, relative);
        if (ranged) {
            offset = 0;
            digests = FreshDigests(entry);
            return;
        }
        offset = ResumePoint(root, entry, relative);
        if (offset > 0)
            ReadPart(data, root, entry, relative, digests);
        else
            digests = FreshDigests(entry);
        ranged = WorthRanges(data, entry, offset, sources[source]);
    };
    // Leaves the source that failed for the next one, if any: from the bytes on disk, or from
    // nothing when they are not to be trusted (a digest or length the source got wrong).
    const auto nextSource = [&](const Failure& why, bool keepBytes) {
        if (source + 1 >= sources.size())
            return false;
        ++source;
        backoff = RetryBackoff(data.backoff, seed + source * kSourceSeedStep);
        if (!keepBytes) {
            root.RemoveFile(relative);
            ForgetRanges(root, relative);
        }
        takeUp();
        wholeFetchLeft = offset > 0;
        if (LogEnabled())
            LogLine("%s: source %s failed (%s); next %s from byte %lld",
                    LogText(entry.target).c_str(), LogText(sources[source - 1]).c_str(),
                    DescribeFailure(why).c_str(), LogText(sources[source]).c_str(),
                    static_cast<long long>(ranged ? RangesOnDisk(data, root, entry, relative) : offset));
        return true;
    };
    for (;;) {
        bool aborted = false;
        RangedFetch inRanges;
        const bool fetched =
            ranged ? DownloadInRanges(data, root, entry, relative, sources, source, oneSource,
                                      offset, digests, aborted, inRanges, &cause)
                   : DownloadFile(entry.target, aborted, data, root, sources[source], relative,
                                  offset, entry.size, &cause, &digests);
        if (aborted || WorkerStopped(data))
            return Stop(failure, entry.target);
        if (inRanges.rangesRefused) {
            LogLine("download: %s: %s serves no ranges; one connection goes on",
                    LogText(entry.target).c_str(), LogText(inRanges.refusedBy).c_str());
            takeUp();
            wholeFetchLeft = offset > 0;
            if (WorkerStopped(data))
                return Stop(failure, entry.target);
            continue;
        }
        if (fetched && ranged) {
            if (EntryInPlace(data, root, entry, relative, entry.size))
                return EntryOutcome::kNext;
            if (WorkerStopped(data))
                return Stop(failure, entry.target);
            // Which source sent the bad bytes is told by fetching the file from one at a time.
            if (inRanges.severalSources && !oneSource) {
                LogLine("%s: the bytes of several sources fail the digests; again from %s alone",
                        LogText(entry.target).c_str(), LogText(sources[source]).c_str());
                oneSource = true;
                root.RemoveFile(relative);
                takeUp();
                continue;
            }
            if (nextSource(MakeFailure(FailureClass::kDigestMismatch, 0, "fetched file",
                                       entry.target),
                           false))
                continue;
            return EntryOutcome::kNext;  // the verification says what is wrong
        }
        if (fetched && offset == 0) {
            // With no source left, whatever a whole fetch brought the verification judges; with
            // one, the digests this fetch took on its way tell at once whether to ask it.
            if (source + 1 >= sources.size() ||
                EntryInPlace(data, root, entry, relative,
                             entry.size > 0 ? std::optional(entry.size) : std::nullopt))
                return EntryOutcome::kNext;
            if (WorkerStopped(data))
                return Stop(failure, entry.target);
            nextSource(MakeFailure(FailureClass::kDigestMismatch, 0, "fetched file", entry.target),
                       false);
            continue;
        }
        if (fetched) {
            const bool completed = ResumeCompleted(data, root, entry, relative);
            if (WorkerStopped(data))
                return Stop(failure, entry.target);
            if (completed)
                return EntryOutcome::kNext;
            cause = MakeFailure(FailureClass::kDigestMismatch, 0, "resumed file", entry.target);
        } else if (IsTransientFailure(cause)) {
            if (SourceIsGone(cause) && nextSource(cause, true))
                continue;
            const std::optional<milliseconds> pause = RetryPause(data, backoff, cause);
            if (!pause && nextSource(cause, true))
                continue;
            if (!pause) {
                // The server or the network is not coming back soon: the later files would
                // meet the same, and a partial patch installs nothing.
                SetFailure(failure, std::move(cause));
                return EntryOutcome::kEndJob;
            }
            LogLine("download: %s: retry %zu in %lld ms after %s", LogText(entry.target).c_str(),
                    static_cast<std::size_t>(backoff.Retries()),
                    static_cast<long long>(pause->count()), DescribeFailure(cause).c_str());
            if (!PauseBeforeRetry(data, entry.target, *pause, backoff.Retries()))
                return Stop(failure, entry.target);
            // What the failed transfer wrote is taken from the disk, not from its digests.
            takeUp();
            wholeFetchLeft = wholeFetchLeft || offset > 0;
            if (WorkerStopped(data))
                return Stop(failure, entry.target);
            continue;
        }
        if (!ranged && wholeFetchLeft && ResumeRefused(cause)) {
            wholeFetchLeft = false;
            root.RemoveFile(relative);
            offset = 0;
            digests = FreshDigests(entry);
            ranged = WorthRanges(data, entry, offset, sources[source]);
            continue;
        }
        // An error answer, a length or digest the source got wrong: the next source, if any.
        if (SourceFault(cause) && nextSource(cause, cause.cause != FailureClass::kDigestMismatch &&
                                                        cause.cause != FailureClass::kTooLarge))
            continue;
        SetFailure(failure, std::move(cause));
        return EntryOutcome::kNext;
    }
}

bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const platform::TrustedFolder& root, const std::wstring& url,
                  const std::wstring& relative, std::int64_t resumeOffset, std::int64_t sizeCap,
                  Failure* failure, const WriteDigests* digests) {
    SetFailure(failure, Failure{});
    data.written.Forget(relative);
    platform::EntryStatus before;
    const bool existed = root.Stat(relative, before) &&
                         before.kind == platform::EntryKind::kRegularFile && before.links <= 1;
    Failure openFailure;
    platform::UniqueFile file = root.OpenFile(
        relative,
        resumeOffset != 0 ? platform::FileAccess::kAppend : platform::FileAccess::kWriteFromScratch,
        &openFailure);
    if (file == nullptr) {
        SetFailure(failure, WithSubject(std::move(openFailure), target));
        return false;
    }
    // A link or a second hard link at the name was replaced by a fresh file: nothing to resume.
    std::int64_t offset = 0;
    if (resumeOffset != 0 && !platform::GetOpenFileSize(file.get(), offset))
        offset = 0;
    std::unique_ptr<ReceiveDigester> digester = StartDigester(digests, file.get(), offset);

    PageTransfer transfer(data, target, offset);
    TransferProgress& record = transfer.Record();
    Failure transferFailure;
    LogLine("download: %s from %s, from byte %lld", LogText(target).c_str(), LogText(url).c_str(),
            static_cast<long long>(offset));
    const std::uint32_t started = platform::TickCountMs();
    bool succeeded = data.curl.DownloadToFile(url, file.get(), offset, &record, aborted,
                                              &transferFailure, sizeCap, digester.get());
    if (LogEnabled()) {
        const unsigned ms = static_cast<unsigned>(platform::TickCountMs() - started);
        if (succeeded)
            LogLine("download: %s: HTTP status %ld, %.0f bytes in %u ms", LogText(target).c_str(),
                    data.curl.LastHttpStatus(), record.received, ms);
        else
            LogLine("download: %s: failed after %u ms: %s", LogText(target).c_str(), ms,
                    DescribeFailure(transferFailure).c_str());
    }
    transfer.Withdraw();
    // The record describes the file after its last write: every byte flushed, taken from the
    // open file itself, and all of them seen on their way.
    bool recorded = false;
    platform::FileIdentity identity;
    FileDigestTexts written;
    if (succeeded && digester != nullptr) {
        const RunningDigests total = digester->Finish();
        recorded = std::fflush(file.get()) == 0 &&
                   platform::ReadOpenFileIdentity(file.get(), identity) &&
                   identity.size == total.Bytes();
        if (recorded)
            written = total.Texts();
    }
    digester.reset();
    // Bytes still buffered in the stream that cannot reach the disk make the file incomplete;
    // what did reach it stays for a resume.
    Failure closeFailure;
    if (!platform::CloseFile(file, &closeFailure) && succeeded) {
        succeeded = false;
        SetFailure(failure, WithSubject(std::move(closeFailure), target));
    } else if (!succeeded) {
        SetFailure(failure, WithSubject(std::move(transferFailure), target));
    }
    if (succeeded && recorded)
        data.written.Record(relative, identity, written);
    platform::EntryStatus grown;
    if (root.Stat(relative, grown) && grown.kind == platform::EntryKind::kRegularFile &&
        grown.size > offset)
        data.bytesFetched += grown.size - offset;
    if (!succeeded && !existed) {
        // A file that never received a byte is no file of the patch; nothing is left behind.
        platform::EntryStatus after;
        if (root.Stat(relative, after) && after.kind == platform::EntryKind::kRegularFile &&
            after.size == 0)
            root.RemoveFile(relative);
    }
    return succeeded;
}
