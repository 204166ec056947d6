#pragma once
// The release notes shown on the download page: one block per version that the download
// brings, in the user's language when the catalogue has it, in English otherwise.

#include <string>

struct PatchInfo;

// Visits info.changelog_list in catalogue order and keeps the entries whose version v satisfies
// lowerBound < v <= upperBound (CompareVersions). Each kept entry with a text in LanguageName()
// (else "English") gives
//   "Patch " v " :\n" "************\n" text "\n\n"
// and an entry with neither text gives nothing. Empty when no entry qualifies.
std::wstring BuildChangelogText(const std::wstring& upperBound, const std::wstring& lowerBound,
                                const PatchInfo& info);
