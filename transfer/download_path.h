#pragma once
// Where a file named by the catalogue lives below the download folder.

#include <string>

#include "text/limits.h"

// Builds folder + separator + target (platform::JoinPath), with every '\' or '/' of the target
// turned into the platform's separator. An empty folder stands for the current directory (the
// target alone); a folder that already ends in a separator gets no second one.
//
// Refused (false, out untouched), because a catalogue must never reach outside the folder:
// an empty target; a target that is absolute ('/' or '\' first, or a drive such as "C:");
// a component ".." (or any component made only of dots and blanks with two dots or more,
// which Windows trims to ".."); a NUL inside the target; and a result longer than
// kMaxPathLength.
bool BuildDownloadPath(const std::wstring& folder, const std::wstring& target, std::wstring& out);
