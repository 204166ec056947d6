#pragma once
// One entry of the download list brought into its file: kept when its digests are right,
// resumed when it is short, fetched from the start otherwise, and tried again after a failure
// that may pass.

#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/patch_info.h"
#include "platform/file_identity.h"
#include "platform/safe_files.h"
#include "text/failure.h"
#include "transfer/download_thread_data.h"
#include "transfer/file_digests.h"

// kEndJob: the entry's transfer ran out of retries; no later entry is worth fetching.
enum class EntryOutcome { kNext, kStop, kEndJob };

// Keeps, resumes or fetches one entry. relative is its place below root, the open download
// folder ('/' between folders; BuildDownloadPath has accepted it); nothing is reached but
// through root, so no link below the folder is ever followed.
//
// A regular file with the listed MD5 (and the listed sha256, when there is one) is kept; its
// digests come from the digest cache when it holds a trusted entry for the open file, else from
// one read, which the cache then remembers. One shorter than its listed size is read once (the
// cache cannot help a file about to grow) and resumed, its digests going on from that read;
// anything else at the name is fetched whole (a link there is replaced, never followed; a folder,
// FIFO or device fails the entry). A transient failure (IsTransientFailure) is tried again from
// what is on disk after a pause of the entry's own RetryBackoff (data.backoff, seeded with
// data.backoffSeed, which is then counted up), announced to the page; once its budget is spent
// the result is kEndJob. A resume the server cannot serve (a
// refused or ignored range), or whose finished file has the wrong size or digests, is followed by a
// whole fetch; any other failure keeps what is on disk for the next run. kStop once a stop was
// requested, pauses included.
//
// The sources are the entry's url, then its mirrors. A source that fails (an error answer, a
// wrong length, a network fault once its own retries are spent, at once when its name is unknown
// or it refuses the connection), or whose whole file does not give the listed size and digests,
// is left for the next one, which goes on from what is on disk (from nothing after bad bytes);
// the last source's failure is the entry's.
//
// failure, when given, is emptied first and receives, with the entry's target as subject, why
// the entry is not known to be in place: the last attempt's cause (see DownloadFile), the
// cause of a sub-folder that cannot be reached (kUnsafePath for a link), kNotRegularFile, or
// kStopped. A kept or completed entry leaves it empty.
EntryOutcome FetchEntry(DownloadThreadData& data, const platform::TrustedFolder& root,
                        const DownloadEntry& entry, const std::wstring& relative,
                        Failure* failure = nullptr);

// Whether the regular file at relative below root is the file entry lists (MatchEntry, with
// size when given), from this run's record of its own write, the digest cache, or one read.
bool EntryInPlace(DownloadThreadData& data, const platform::TrustedFolder& root,
                  const DownloadEntry& entry, const std::wstring& relative,
                  std::optional<std::int64_t> size = std::nullopt);

// Worth another try in the same run: a cut or reset connection, a refused connection (the
// retryable results of ClassifyCurlResult), a stall, HTTP 408, 429 and 5xx. A full disk, any other
// error answer, an unsafe path, a file larger than listed are not.
bool IsTransientFailure(const Failure& failure);

// A fault of the source rather than of this machine (the network, a stall, an error answer, a
// wrong length or digest): worth asking another source.
bool SourceFault(const Failure& failure);

// How DownloadFile digests the bytes it writes (ReceiveDigester), so that a finished file need
// not be read to learn its digests.
struct WriteDigests {
    bool withSha256 = false;
    // For a resume: the digests of the part on disk and the identity of the file they were read
    // from (unchanged across that read). Without them, or when the file opened for appending is
    // not in exactly that state, a resume is not digested.
    bool partKnown = false;
    RunningDigests part;
    platform::FileIdentity partIdentity;
};

// One transfer into the file at relative below root: appended from its end when resumeOffset
// is not 0 (the offset is taken from the opened file, which is fresh when a link stood at the
// name), else written from scratch. The file never grows past sizeCap (0: no cap). A file this
// call created and into which no byte came is removed again when the transfer fails.
// On false, failure (when given) receives the cause with target as subject: kSystem with
// errno when the file cannot be opened or written (a full disk) or its last bytes cannot be
// written on closing, kUnsafePath or kNotRegularFile from the open, else the transfer's
// (CCurlWrapper::DownloadToFile). On true it is emptied.
//
// With digests given, the bytes are digested as they are written, and a transfer that
// succeeded leaves the file's digests in data.written with the identity the file had after its
// last write; any failure on the way (of the transfer, a write, the flush) leaves no record.
// Whatever was recorded for relative before is forgotten first. The bytes the file grew by are
// added to data.bytesFetched, whatever the outcome.
bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const platform::TrustedFolder& root, const std::wstring& url,
                  const std::wstring& relative, std::int64_t resumeOffset, std::int64_t sizeCap,
                  Failure* failure = nullptr, const WriteDigests* digests = nullptr);
