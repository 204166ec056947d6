#pragma once
// One entry of the download list brought into its file: kept when its digest is right,
// resumed when it is short, fetched from the start otherwise.

#include <cstdint>
#include <string>

#include "catalogue/patch_info.h"
#include "text/failure.h"
#include "transfer/download_thread_data.h"

enum class EntryOutcome { kNext, kStop };

// Keeps, resumes or fetches one entry whose path is already built. A resume that fails, or
// that does not leave the file at its listed size, is followed by one full download; a full
// download's failure is left to the verification. kStop once a stop was requested.
//
// failure, when given, is emptied first and receives, with the entry's target as subject, why
// the entry is not known to be in place: the last attempt's cause (see DownloadFile), kHttpStatus
// with the status when the server answered an error page (which is written like data), or
// kStopped. A kept or completed entry leaves it empty.
EntryOutcome FetchEntry(DownloadThreadData& data, const DownloadEntry& entry,
                        const std::wstring& path, Failure* failure = nullptr);

// One transfer into one file: "ab" from resumeOffset when it is not 0, else "wb". On false,
// failure (when given) receives the cause with target as subject: kSystem with errno when the
// file cannot be opened or its last bytes cannot be written on closing, else the transfer's
// (CCurlWrapper::DownloadToFile). On true it is emptied.
bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset,
                  Failure* failure = nullptr);
