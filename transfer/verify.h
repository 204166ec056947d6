#pragma once

#include <atomic>
#include <string>

struct PatchEntry;

// True when every file of the patch's download list exists below folder and has the listed
// digest (exact, case-sensitive); an empty list passes. Stops at the first failing entry.
// When stop is given and raised, verification ends early and reports false.
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop = nullptr);
