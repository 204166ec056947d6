#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/folder_lock.h"
#include "platform/platform.h"
#include "text/utf8.h"

namespace platform {

FolderLock::~FolderLock() {
    Release();
}

FolderLock::FolderLock(FolderLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void FolderLock::Release() {
    // Closing the only descriptor of the open file lets the lock go.
    if (m_fd >= 0)
        close(std::exchange(m_fd, -1));
}

LockResult FolderLock::TryLock(const std::wstring& folder, Failure* failure) {
    Release();
    const std::string native = folder.empty() ? "." : WideToUtf8(std::wstring_view(folder));
    if (native.find('\0') != std::string::npos) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kUnsafePath, 0, "NUL inside the path", folder);
        return LockResult::kUnavailable;
    }
    // Close-on-exec, so that a program started while the lock is held (the patch installer)
    // never keeps it alive after the launcher has gone.
    int fd;
    do {
        fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (failure != nullptr)
            *failure = SystemFailure(errno, folder);
        return LockResult::kUnavailable;
    }
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_fd = fd;
        return LockResult::kTaken;
    }
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kBusy, error,
                                   "another launcher is working in this folder", folder);
        return LockResult::kHeldElsewhere;
    }
    if (failure != nullptr)
        *failure = SystemFailure(error, folder);
    return LockResult::kUnavailable;
}

}  // namespace platform
