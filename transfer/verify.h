#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "transfer/file_digests.h"

struct PatchEntry;

// True when every file of the patch's download list exists below folder and has the listed
// digest (exact, case-sensitive), and the listed sha256 too when the entry has one (both come
// from one read of the file); an empty list passes. Stops at the first failing entry.
// When stop is given and raised, verification ends early and reports false. An entry whose
// target cannot be placed inside folder (BuildDownloadPath) fails; a null patch fails.
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop = nullptr);

// The same with the digests of a file supplied by the caller (FileDigests in the form above);
// lets a test see which files were read, and in which order.
using FileDigestFunction = std::function<FileDigestTexts(const std::wstring& path, bool withSha256,
                                                         const std::atomic<bool>* stop)>;
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const FileDigestFunction& digest, const std::atomic<bool>* stop);
