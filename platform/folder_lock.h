#pragma once
// An advisory lock on a folder itself, so that two launchers (whatever their runtime folders)
// never work in one download folder at once. The kernel drops it when its holder ends, also
// when the holder is killed, and a program the holder starts does not inherit it.

#include <string>

#include "platform/platform.h"
#include "text/failure.h"

namespace platform {

class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // One attempt, never waiting. kTaken: held until Release or destruction. kHeldElsewhere:
    // another process, or another FolderLock of this one, holds it (failure: kBusy).
    // kUnavailable: the folder cannot be opened or its file system has no locks (failure:
    // kSystem with errno). A lock held before is let go first.
    LockResult TryLock(const std::wstring& folder, Failure* failure = nullptr);
    bool IsHeld() const { return m_fd >= 0; }
    void Release();

  private:
    int m_fd = -1;
};

}  // namespace platform
