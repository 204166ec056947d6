#pragma once
// How much a folder's file system can still take.

#include <cstdint>
#include <string>

#include "text/failure.h"

namespace platform {

// The bytes an unprivileged process may still write on the file system that holds folder
// (what the system keeps for its administrator is not counted). False, with the cause, when
// the folder cannot be asked.
bool GetFreeSpace(const std::wstring& folder, std::uint64_t& bytes, Failure* failure = nullptr);

}  // namespace platform
