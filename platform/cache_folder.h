#pragma once
// Where the launcher keeps what it can always compute again, and how a file there is swapped
// for a new version so that a reader never meets a half-written one.

#include <string>

#include "text/failure.h"

namespace platform {

// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache. The
// folder itself may not exist yet. False when neither can be named.
bool GetCacheFolder(std::wstring& out);

// Puts the file from in the place of the file to in one step: a reader of to sees either the
// old or the new content, never a mix. Both must be on the same file system.
bool ReplaceFile(const std::wstring& from, const std::wstring& to, Failure* failure = nullptr);

}  // namespace platform
