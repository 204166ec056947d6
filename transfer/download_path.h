#pragma once
// Where a file named by the catalogue lives below the download folder.

#include <string>

#include "text/limits.h"

// The catalogue's path (a target or the installer) with every '\' or '/' turned into the
// platform's separator, unchecked: the catalogue is written for Windows.
std::wstring NativeTarget(const std::wstring& target);

// Why BuildDownloadPath refuses a target.
enum class PathRefusal {
    kNone,
    kEmpty,
    kAbsolute,   // '/' or '\' first, or a drive such as "C:"
    kNul,        // a NUL inside the target
    kClimbsOut,  // a component ".." (or one of dots and blanks with two dots or more, which
                 // Windows trims to "..")
    kTooLong,    // the result is longer than kMaxPathLength
};

// Builds folder + separator + NativeTarget(target) (platform::JoinPath). An empty folder
// stands for the current directory (the target alone); a folder that already ends in a
// separator gets no second one. Refused (false, out untouched, the reason in refusal when
// given), because a catalogue must never reach outside the folder.
bool BuildDownloadPath(const std::wstring& folder, const std::wstring& target, std::wstring& out,
                       PathRefusal* refusal = nullptr);
