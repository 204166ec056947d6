#pragma once

#include <atomic>
#include <functional>
#include <string>

struct PatchEntry;

// True when every file of the patch's download list exists below folder and has the listed
// digest (exact, case-sensitive); an empty list passes. Stops at the first failing entry.
// When stop is given and raised, verification ends early and reports false. An entry whose
// target cannot be placed inside folder (BuildDownloadPath) fails; a null patch fails.
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop = nullptr);

// The same with the digest of a file supplied by the caller (CMD5Wrapper::FileHashW in the
// form above); lets a test see which files were read, and in which order.
using FileDigestFunction =
    std::function<std::wstring(const std::wstring& path, const std::atomic<bool>* stop)>;
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const FileDigestFunction& digest, const std::atomic<bool>* stop);
