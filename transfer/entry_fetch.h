#pragma once
// One entry of the download list brought into its file: kept when its digest is right,
// resumed when it is short, fetched from the start otherwise.

#include <cstdint>
#include <string>

#include "catalogue/patch_info.h"
#include "transfer/download_thread_data.h"

enum class EntryOutcome { kNext, kStop };

// Keeps, resumes or fetches one entry whose path is already built. A resume that fails, or
// that does not leave the file at its listed size, is followed by one full download; a full
// download's failure is left to the verification. kStop once a stop was requested.
EntryOutcome FetchEntry(DownloadThreadData& data, const DownloadEntry& entry,
                        const std::wstring& path);

// One transfer into one file: "ab" from resumeOffset when it is not 0, else "wb".
bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset);
