#pragma once
// One rule for every path the launcher puts together from a folder and a name, so that no
// join forgets the separator or the length of the buffer the result must fit.

#include <cstddef>
#include <string>

#include "text/limits.h"

namespace platform {

// The separator this platform puts between folders.
extern const wchar_t kPathSeparator;
// The longest path the system itself accepts, for paths the launcher hands only to the system
// (a name made absolute before a start, a lock file); a longer one cannot work anyway.
extern const std::size_t kMaxNativePathLength;

// folder, the platform's separator, name. The separator is added only when folder is not empty
// and does not already end in one ('/' counts everywhere: Windows takes it too), so an empty folder
// stands for the current directory. False, with out untouched, when the result would be longer than
// maxLength: the launcher's path buffer unless the caller builds a path for the system itself.
bool JoinPath(const std::wstring& folder, const std::wstring& name, std::wstring& out,
              std::size_t maxLength = kMaxPathLength);

}  // namespace platform
