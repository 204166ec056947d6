#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/file_identity.h"
#include "platform/platform.h"
#include "text/utf8.h"

namespace platform {

namespace {

std::atomic<FileSystemRule> g_fileSystemRule{nullptr};

bool ChangeTimeKeptOn(int fd) {
    struct statfs fileSystem {};
    if (fstatfs(fd, &fileSystem) != 0)
        return false;
    const FileSystemRule rule = g_fileSystemRule.load();
    const auto kind = static_cast<std::uint64_t>(static_cast<unsigned long>(fileSystem.f_type));
    return rule != nullptr ? rule(kind) : KeepsChangeTime(kind);
}

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
// The status and the file system are read from one descriptor, so both describe one file.
bool FromDescriptor(int fd, const std::wstring& subject, FileIdentity& identity, Failure* failure) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(errno, subject);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kNotRegularFile, 0, {}, subject);
        return false;
    }
    Fill(status, identity);
    identity.changeTimeKept = ChangeTimeKeptOn(fd);
    return true;
}

}  // namespace

bool KeepsChangeTime(std::uint64_t fileSystemKind) {
    // Disk and memory file systems that set the change time from the clock on every write.
    // Not listed, so not trusted: squashfs and erofs (times from the image), FAT and exFAT (no
    // change time at all), network and FUSE file systems (whatever the other end says), and
    // overlays (the time of whichever layer the file comes from).
    switch (fileSystemKind) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0x01021994:  // tmpfs
        case 0x858458F6:  // ramfs
        case 0xF2F52010:  // f2fs
        case 0x2FC12FC1:  // zfs
        case 0xCA451A4E:  // bcachefs
        case 0x3153464A:  // jfs
        case 0x52654973:  // reiserfs
        case 0x3434:      // nilfs2
            return true;
        default:
            return false;
    }
}

void SetFileSystemRule(FileSystemRule rule) {
    g_fileSystemRule.store(rule);
}

bool ReadFileIdentity(const std::wstring& path, FileIdentity& identity, Failure* failure) {
    // O_PATH opens nothing for reading (a FIFO does not block) and, with O_NOFOLLOW, a link
    // in the last component is the link itself, which is then refused as no regular file.
    const int fd = path.empty() ? -1
                                : open(WideToUtf8(std::wstring_view(path)).c_str(),
                                       O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (failure != nullptr)
            *failure = SystemFailure(path.empty() ? ENOENT : errno, path);
        return false;
    }
    const bool read = FromDescriptor(fd, path, identity, failure);
    close(fd);
    return read;
}

bool ReadOpenFileIdentity(std::FILE* file, FileIdentity& identity, Failure* failure) {
    if (file == nullptr) {
        if (failure != nullptr)
            *failure = SystemFailure(EBADF);
        return false;
    }
    return FromDescriptor(fileno(file), std::wstring(), identity, failure);
}

}  // namespace platform
