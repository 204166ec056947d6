#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <utility>

#include "platform/mapped_file.h"
#include "platform/platform.h"

namespace platform {

namespace {

void Report(Failure* failure, int error) {
    if (failure != nullptr)
        *failure = SystemFailure(error);
}

// The guarded call of this thread, if any; a handler may only touch what is its own thread's.
thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_previous {};

void OnBusError(int signal, siginfo_t* info, void* context) {
    if (t_guard != nullptr)
        siglongjmp(*t_guard, 1);
    // Not ours: whatever was there before decides, as if this handler had never been set.
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction != nullptr) {
            g_previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
    raise(SIGBUS);
}

void InstallHandlerOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = &OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previous);
    });
}

}  // namespace

MappedFile::~MappedFile() {
    Unmap();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_writable(std::exchange(other.m_writable, false)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Unmap();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_writable = std::exchange(other.m_writable, false);
    }
    return *this;
}

void MappedFile::Unmap() {
    if (m_data != nullptr)
        munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
    m_writable = false;
}

bool MappedFile::MapForReading(std::FILE* file, Failure* failure) {
    Unmap();
    struct stat st {};
    if (file == nullptr || fstat(fileno(file), &st) != 0) {
        Report(failure, file == nullptr ? EBADF : errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Report(failure, EINVAL);
        return false;
    }
    if (st.st_size == 0)
        return true;
    void* data =
        mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fileno(file), 0);
    if (data == MAP_FAILED) {
        Report(failure, errno);
        return false;
    }
    // Read once, front to back.
    madvise(data, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
    m_data = static_cast<unsigned char*>(data);
    m_size = static_cast<std::size_t>(st.st_size);
    return true;
}

bool MappedFile::MapForWriting(std::FILE* file, std::int64_t size, Failure* failure) {
    Unmap();
    if (file == nullptr || size < 0) {
        Report(failure, file == nullptr ? EBADF : EINVAL);
        return false;
    }
    const int fd = fileno(file);
    if (ftruncate(fd, size) != 0) {
        Report(failure, errno);
        return false;
    }
    if (size == 0) {
        m_writable = true;
        return true;
    }
    // Without reserved blocks a full disk shows only as a bus error on the first write into
    // the map; file systems that cannot reserve (EOPNOTSUPP) keep that risk, under the guard.
    const int reserved = posix_fallocate(fd, 0, size);
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
        Report(failure, reserved);
        return false;
    }
    void* data =
        mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        Report(failure, errno);
        return false;
    }
    m_data = static_cast<unsigned char*>(data);
    m_size = static_cast<std::size_t>(size);
    m_writable = true;
    return true;
}

bool RunGuardedAgainstBusError(void (*work)(void* context), void* context) {
    InstallHandlerOnce();
    sigjmp_buf guard;
    sigjmp_buf* outer = t_guard;
    if (sigsetjmp(guard, 1) != 0) {
        t_guard = outer;
        return false;
    }
    t_guard = &guard;
    work(context);
    t_guard = outer;
    return true;
}

}  // namespace platform
