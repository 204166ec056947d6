#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_identity.h"
#include "text/utf8.h"

namespace platform {

namespace {

std::int64_t Nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

void Fill(const struct stat& status, FileIdentity& identity) {
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedNs = Nanoseconds(status.st_mtim);
    identity.changedNs = Nanoseconds(status.st_ctim);
}

// Only a regular file has an identity worth remembering digests by.
bool FromStatus(const struct stat& status, const std::wstring& subject, FileIdentity& identity,
                Failure* failure) {
    if (!S_ISREG(status.st_mode)) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kNotRegularFile, 0, {}, subject);
        return false;
    }
    Fill(status, identity);
    return true;
}

}  // namespace

bool ReadFileIdentity(const std::wstring& path, FileIdentity& identity, Failure* failure) {
    struct stat status {};
    if (path.empty() || fstatat(AT_FDCWD, WideToUtf8(std::wstring_view(path)).c_str(), &status,
                                AT_SYMLINK_NOFOLLOW) != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(path.empty() ? ENOENT : errno, path);
        return false;
    }
    return FromStatus(status, path, identity, failure);
}

bool ReadOpenFileIdentity(std::FILE* file, FileIdentity& identity, Failure* failure) {
    struct stat status {};
    if (file == nullptr || fstat(fileno(file), &status) != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(file == nullptr ? EBADF : errno);
        return false;
    }
    return FromStatus(status, std::wstring(), identity, failure);
}

}  // namespace platform
