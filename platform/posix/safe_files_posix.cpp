#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/safe_files.h"
#include "text/utf8.h"

namespace platform {

namespace {

// The entry at a name can change between two looks at it; a name that keeps changing under
// the launcher is given up rather than chased for ever.
constexpr int kReplaceAttempts = 4;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;

class OwnedFd {
  public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() { Reset(); }
    OwnedFd(OwnedFd&& other) noexcept : m_fd(other.Release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

void Report(Failure* failure, Failure what) {
    if (failure != nullptr)
        *failure = std::move(what);
}

void ReportSystem(Failure* failure, int error, const std::wstring& subject) {
    Report(failure, SystemFailure(error, subject));
}

void ReportUnsafe(Failure* failure, int error, const std::wstring& subject) {
    Report(failure, MakeFailure(FailureClass::kUnsafePath, error,
                                "a link or a non-folder stands on the way", subject));
}

void ReportNotRegular(Failure* failure, const std::wstring& subject) {
    Report(failure, MakeFailure(FailureClass::kNotRegularFile, 0, "not a regular file", subject));
}

// The components of a relative path, or false (kUnsafePath) for one that could leave the
// folder or does not name a file.
bool SplitRelative(const std::wstring& relative, std::vector<std::string>& parts,
                   Failure* failure) {
    const std::string narrow = WideToUtf8(std::wstring_view(relative));
    auto refuse = [&](const char* why) {
        Report(failure, MakeFailure(FailureClass::kUnsafePath, 0, why, relative));
        return false;
    };
    if (narrow.empty())
        return refuse("empty path");
    if (narrow.find('\0') != std::string::npos)
        return refuse("NUL inside the path");
    if (narrow.front() == '/')
        return refuse("absolute path");
    if (narrow.back() == '/')
        return refuse("path ends in a separator");
    parts.clear();
    std::size_t begin = 0;
    while (begin <= narrow.size()) {
        std::size_t end = narrow.find('/', begin);
        if (end == std::string::npos)
            end = narrow.size();
        std::string part = narrow.substr(begin, end - begin);
        if (part == "..")
            return refuse("path climbs out of its folder");
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        begin = end + 1;
    }
    if (parts.empty())
        return refuse("path names no file");
    return true;
}

// openat2 state: untried, in use, or not to be used (turned off or missing in the kernel).
enum : int { kBeneathUntried, kBeneathWorks, kBeneathOff };
std::atomic<int> g_beneathWalk{kBeneathUntried};

bool LooksUnsafe(int error) {
    // ELOOP: a link; ENOTDIR: a file (or a link, with O_NOFOLLOW) where a folder belongs;
    // EXDEV: the kernel saw the walk leave the folder.
    return error == ELOOP || error == ENOTDIR || error == EXDEV;
}

// One call for the whole way down, where the kernel has it. -1 with errno set; errno ENOSYS
// means "walk by hand" (the kernel lacks the call, a sandbox forbids it, or it is turned off).
int KernelWalk(int root, const std::string& subPath) {
    if (g_beneathWalk.load(std::memory_order_relaxed) == kBeneathOff) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd;
    do {
        fd = static_cast<int>(syscall(SYS_openat2, root, subPath.c_str(), &how, sizeof how));
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        int expected = kBeneathUntried;
        g_beneathWalk.compare_exchange_strong(expected, kBeneathWorks);
        return fd;
    }
    // A sandbox that filters system calls answers EPERM; a kernel without the call, ENOSYS.
    // Opening a folder for reading never fails with EPERM on its own.
    if (errno == ENOSYS || errno == EPERM) {
        g_beneathWalk.store(kBeneathOff, std::memory_order_relaxed);
        errno = ENOSYS;
    } else if (errno == EAGAIN) {
        // The kernel could not vouch for this one walk (a rename raced it): walk this one by
        // hand, and keep the call for the next.
        errno = ENOSYS;
    }
    return -1;
}

// A link or a non-folder at name fails with ENOTDIR (O_NOFOLLOW with O_DIRECTORY).
int OpenSubFolder(int at, const std::string& name) {
    int fd;
    do {
        fd = openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the folder that holds the last part, making missing sub-folders when asked. Every
// step refuses a link and anything that is not a folder.
OwnedFd OpenParent(int root, const std::vector<std::string>& parts, bool create,
                   const std::wstring& subject, Failure* failure) {
    if (parts.size() > 1 && !create) {
        std::string subPath = parts.front();
        for (std::size_t i = 1; i + 1 < parts.size(); ++i)
            subPath += '/' + parts[i];
        const int fd = KernelWalk(root, subPath);
        if (fd >= 0)
            return OwnedFd(fd);
        if (errno != ENOSYS) {
            const int error = errno;
            if (LooksUnsafe(error))
                ReportUnsafe(failure, error, subject);
            else
                ReportSystem(failure, error, subject);
            return OwnedFd();
        }
    }
    OwnedFd current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    if (!current.IsValid()) {
        ReportSystem(failure, errno, subject);
        return OwnedFd();
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        int fd = OpenSubFolder(current.Get(), parts[i]);
        if (fd < 0 && errno == ENOENT && create) {
            // Someone else making it at the same moment is as good as making it.
            if (mkdirat(current.Get(), parts[i].c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
                ReportSystem(failure, errno, subject);
                return OwnedFd();
            }
            fd = OpenSubFolder(current.Get(), parts[i]);
        }
        if (fd < 0) {
            const int error = errno;
            if (LooksUnsafe(error))
                ReportUnsafe(failure, error, subject);
            else
                ReportSystem(failure, error, subject);
            return OwnedFd();
        }
        current.Reset(fd);
    }
    return current;
}

bool ClearNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

UniqueFile StreamOf(OwnedFd fd, const char* mode, const std::wstring& subject, Failure* failure) {
    if (!ClearNonBlocking(fd.Get())) {
        ReportSystem(failure, errno, subject);
        return nullptr;
    }
    std::FILE* file = fdopen(fd.Get(), mode);
    if (file == nullptr) {
        ReportSystem(failure, errno, subject);
        return nullptr;
    }
    fd.Release();
    return UniqueFile(file);
}

// What counts is what was opened, not what an earlier look at the name saw.
UniqueFile ReadStreamOf(OwnedFd fd, const std::wstring& subject, Failure* failure) {
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        ReportSystem(failure, errno, subject);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ReportNotRegular(failure, subject);
        return nullptr;
    }
    return StreamOf(std::move(fd), "rb", subject, failure);
}

UniqueFile OpenForReading(int parent, const std::string& name, const std::wstring& subject,
                          Failure* failure) {
    // A first look without opening: opening a device can have effects of its own.
    struct stat st {};
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        ReportSystem(failure, errno, subject);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ReportNotRegular(failure, subject);
        return nullptr;
    }
    int fd;
    do {
        fd =
            openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // The name became a link after the first look.
        if (errno == ELOOP)
            ReportNotRegular(failure, subject);
        else
            ReportSystem(failure, errno, subject);
        return nullptr;
    }
    return ReadStreamOf(OwnedFd(fd), subject, failure);
}

UniqueFile CreateFresh(int parent, const std::string& name, bool append, int& error,
                       bool readWrite = false) {
    int flags = (readWrite ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    if (append)
        flags |= O_APPEND;
    int fd;
    do {
        fd = openat(parent, name.c_str(), flags, kNewFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, append ? "ab" : readWrite ? "w+b" : "wb");
    if (file == nullptr) {
        error = errno;
        close(fd);
        // The file was made by this call and holds nothing: leave no trace of it.
        unlinkat(parent, name.c_str(), 0);
        return nullptr;
    }
    return UniqueFile(file);
}

// update: kept as it is and open for reading and writing anywhere in it (no O_APPEND).
UniqueFile OpenForWriting(int parent, const std::string& name, bool append,
                          const std::wstring& subject, Failure* failure, bool update = false) {
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        struct stat st {};
        if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                ReportSystem(failure, errno, subject);
                return nullptr;
            }
            int error = 0;
            UniqueFile file = CreateFresh(parent, name, append, error, update);
            if (file != nullptr)
                return file;
            // Something took the name since the look: look again.
            if (error == EEXIST)
                continue;
            ReportSystem(failure, error, subject);
            return nullptr;
        }
        const bool shared = S_ISREG(st.st_mode) && st.st_nlink > 1;
        if (S_ISLNK(st.st_mode) || shared) {
            // The link itself goes (unlinkat never follows it); what it points to stays.
            if (unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT) {
                ReportSystem(failure, errno, subject);
                return nullptr;
            }
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            ReportNotRegular(failure, subject);
            return nullptr;
        }
        int flags = (update ? O_RDWR : O_WRONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        if (append)
            flags |= O_APPEND;
        int fd;
        do {
            fd = openat(parent, name.c_str(), flags);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            // Gone, or a link now: look again. (ENXIO: a FIFO without a reader now.)
            if (errno == ENOENT || errno == ELOOP || errno == ENXIO)
                continue;
            ReportSystem(failure, errno, subject);
            return nullptr;
        }
        OwnedFd owned(fd);
        if (fstat(owned.Get(), &st) != 0) {
            ReportSystem(failure, errno, subject);
            return nullptr;
        }
        if (!S_ISREG(st.st_mode)) {
            ReportNotRegular(failure, subject);
            return nullptr;
        }
        if (st.st_nlink > 1)
            continue;
        if (!append && !update && ftruncate(owned.Get(), 0) != 0) {
            ReportSystem(failure, errno, subject);
            return nullptr;
        }
        return StreamOf(std::move(owned), append ? "ab" : update ? "r+b" : "wb", subject, failure);
    }
    Report(failure, MakeFailure(FailureClass::kUnsafePath, EAGAIN,
                                "the entry kept changing while it was opened", subject));
    return nullptr;
}

UniqueFile OpenNew(int parent, const std::string& name, const std::wstring& subject,
                   Failure* failure, bool readWrite = false) {
    int error = 0;
    UniqueFile file = CreateFresh(parent, name, false, error, readWrite);
    if (file == nullptr)
        ReportSystem(failure, error, subject);
    return file;
}

// The parts of relative below an open folder, or false with the cause.
bool Prepare(int root, const std::wstring& relative, std::vector<std::string>& parts,
             Failure* failure) {
    if (root < 0) {
        ReportSystem(failure, EBADF, relative);
        return false;
    }
    return SplitRelative(relative, parts, failure);
}

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode))
        return EntryKind::kRegularFile;
    if (S_ISDIR(mode))
        return EntryKind::kFolder;
    if (S_ISLNK(mode))
        return EntryKind::kSymbolicLink;
    return EntryKind::kOther;
}

}  // namespace

TrustedFolder::~TrustedFolder() {
    if (m_fd >= 0)
        close(m_fd);
}

TrustedFolder::TrustedFolder(TrustedFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

TrustedFolder& TrustedFolder::operator=(TrustedFolder&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool TrustedFolder::Open(const std::wstring& folder, Failure* failure) {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    const std::string native = folder.empty() ? "." : WideToUtf8(std::wstring_view(folder));
    if (native.find('\0') != std::string::npos) {
        Report(failure, MakeFailure(FailureClass::kUnsafePath, 0, "NUL inside the path", folder));
        return false;
    }
    // A folder is held only as a place to start from (O_PATH): like any path below it, that
    // needs the right to pass through the folders, not to list them.
    int fd;
    do {
        fd = open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReportSystem(failure, errno, folder);
        return false;
    }
    m_fd = fd;
    return true;
}

UniqueFile TrustedFolder::OpenFile(const std::wstring& relative, FileAccess access,
                                   Failure* failure) const {
    std::vector<std::string> parts;
    if (!Prepare(m_fd, relative, parts, failure))
        return nullptr;
    const OwnedFd parent = OpenParent(m_fd, parts, false, relative, failure);
    if (!parent.IsValid())
        return nullptr;
    const std::string& name = parts.back();
    switch (access) {
        case FileAccess::kRead:
            return OpenForReading(parent.Get(), name, relative, failure);
        case FileAccess::kWriteFromScratch:
            return OpenForWriting(parent.Get(), name, false, relative, failure);
        case FileAccess::kAppend:
            return OpenForWriting(parent.Get(), name, true, relative, failure);
        case FileAccess::kCreateNew:
            return OpenNew(parent.Get(), name, relative, failure);
        case FileAccess::kCreateNewReadWrite:
            return OpenNew(parent.Get(), name, relative, failure, true);
        case FileAccess::kUpdate:
            return OpenForWriting(parent.Get(), name, false, relative, failure, true);
    }
    ReportSystem(failure, EINVAL, relative);
    return nullptr;
}

bool TrustedFolder::CreateFoldersFor(const std::wstring& relative, Failure* failure) const {
    std::vector<std::string> parts;
    if (!Prepare(m_fd, relative, parts, failure))
        return false;
    return OpenParent(m_fd, parts, true, relative, failure).IsValid();
}

bool TrustedFolder::MoveFile(const std::wstring& from, const std::wstring& to,
                             Failure* failure) const {
    std::vector<std::string> fromParts;
    std::vector<std::string> toParts;
    if (!Prepare(m_fd, from, fromParts, failure) || !Prepare(m_fd, to, toParts, failure))
        return false;
    const OwnedFd fromParent = OpenParent(m_fd, fromParts, false, from, failure);
    const OwnedFd toParent = OpenParent(m_fd, toParts, false, to, failure);
    if (!fromParent.IsValid() || !toParent.IsValid())
        return false;
    if (renameat(fromParent.Get(), fromParts.back().c_str(), toParent.Get(),
                 toParts.back().c_str()) == 0)
        return true;
    if (errno == EISDIR)
        ReportNotRegular(failure, to);
    else
        ReportSystem(failure, errno, to);
    return false;
}

bool TrustedFolder::RemoveFile(const std::wstring& relative, Failure* failure) const {
    std::vector<std::string> parts;
    if (!Prepare(m_fd, relative, parts, failure))
        return false;
    const OwnedFd parent = OpenParent(m_fd, parts, false, relative, failure);
    if (!parent.IsValid())
        return false;
    if (unlinkat(parent.Get(), parts.back().c_str(), 0) == 0)
        return true;
    if (errno == EISDIR)
        ReportNotRegular(failure, relative);
    else
        ReportSystem(failure, errno, relative);
    return false;
}

bool TrustedFolder::Stat(const std::wstring& relative, EntryStatus& status,
                         Failure* failure) const {
    std::vector<std::string> parts;
    if (!Prepare(m_fd, relative, parts, failure))
        return false;
    Failure walk;
    const OwnedFd parent = OpenParent(m_fd, parts, false, relative, &walk);
    if (!parent.IsValid()) {
        if (walk.cause == FailureClass::kSystem && walk.code == ENOENT) {
            status = EntryStatus{};
            return true;
        }
        Report(failure, std::move(walk));
        return false;
    }
    struct stat st {};
    if (fstatat(parent.Get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            status = EntryStatus{};
            return true;
        }
        ReportSystem(failure, errno, relative);
        return false;
    }
    status.kind = KindOf(st.st_mode);
    status.size = static_cast<std::int64_t>(st.st_size);
    status.links = static_cast<std::uint64_t>(st.st_nlink);
    return true;
}

UniqueFile OpenFileBelow(const std::wstring& folder, const std::wstring& relative,
                         FileAccess access, Failure* failure) {
    TrustedFolder root;
    if (!root.Open(folder, failure))
        return nullptr;
    return root.OpenFile(relative, access, failure);
}

bool CreateFoldersBelow(const std::wstring& folder, const std::wstring& relative,
                        Failure* failure) {
    TrustedFolder root;
    return root.Open(folder, failure) && root.CreateFoldersFor(relative, failure);
}

bool RemoveFileBelow(const std::wstring& folder, const std::wstring& relative, Failure* failure) {
    TrustedFolder root;
    return root.Open(folder, failure) && root.RemoveFile(relative, failure);
}

bool StatBelow(const std::wstring& folder, const std::wstring& relative, EntryStatus& status,
               Failure* failure) {
    TrustedFolder root;
    return root.Open(folder, failure) && root.Stat(relative, status, failure);
}

void AllowKernelBeneathWalk(bool allowed) {
    g_beneathWalk.store(allowed ? kBeneathUntried : kBeneathOff, std::memory_order_relaxed);
}

bool KernelBeneathWalkInUse() {
    return g_beneathWalk.load(std::memory_order_relaxed) != kBeneathOff;
}

namespace {

// The status of a regular file at a plain path (links followed); false for anything else.
bool StatRegular(const std::wstring& path, std::string& native, struct stat& st, Failure* failure) {
    native = WideToUtf8(std::wstring_view(path));
    if (native.empty() || native.find('\0') != std::string::npos) {
        ReportSystem(failure, ENOENT, path);
        return false;
    }
    if (stat(native.c_str(), &st) != 0) {
        ReportSystem(failure, errno, path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ReportNotRegular(failure, path);
        return false;
    }
    return true;
}

}  // namespace

UniqueFile OpenRegularFileForReading(const std::wstring& path, Failure* failure) {
    // The first look spares a device the open; the open itself cannot block.
    std::string native;
    struct stat st {};
    if (!StatRegular(path, native, st, failure))
        return nullptr;
    int fd;
    do {
        fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ReportSystem(failure, errno, path);
        return nullptr;
    }
    return ReadStreamOf(OwnedFd(fd), path, failure);
}

bool RegularFileExists(const std::wstring& path) {
    std::int64_t ignored = 0;
    return GetRegularFileSize(path, ignored);
}

bool GetRegularFileSize(const std::wstring& path, std::int64_t& size, Failure* failure) {
    std::string native;
    struct stat st {};
    if (!StatRegular(path, native, st, failure))
        return false;
    size = static_cast<std::int64_t>(st.st_size);
    return true;
}

bool GetOpenFileSize(std::FILE* file, std::int64_t& size, Failure* failure) {
    if (file == nullptr) {
        ReportSystem(failure, EBADF, {});
        return false;
    }
    struct stat st {};
    if (fstat(fileno(file), &st) != 0) {
        ReportSystem(failure, errno, {});
        return false;
    }
    size = static_cast<std::int64_t>(st.st_size);
    return true;
}

bool WriteAt(std::FILE* file, std::int64_t offset, const void* data, std::size_t length,
             int& error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t n = pwrite(fileno(file), bytes, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

std::int64_t ReadAt(std::FILE* file, std::int64_t offset, void* data, std::size_t length) {
    for (;;) {
        const ssize_t n = pread(fileno(file), data, length, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool TruncateOpenFile(std::FILE* file, std::int64_t size) {
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& text) {
    text.clear();
    const std::size_t slash = path.rfind(kPathSeparator);
    if (slash == std::wstring::npos)
        return false;
    const UniqueFile file =
        OpenFileBelow(path.substr(0, slash), path.substr(slash + 1), FileAccess::kRead);
    if (!file)
        return false;
    char block[16384];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
        text.append(block, got);
        if (text.size() > maxBytes) {
            text.clear();
            return false;
        }
    }
    if (std::ferror(file.get())) {
        text.clear();
        return false;
    }
    return true;
}

}  // namespace platform
