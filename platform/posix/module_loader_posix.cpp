#include "platform/module_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/utf8.h"

namespace platform {

namespace {

#if defined(__x86_64__)
constexpr unsigned kOwnMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kOwnMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr unsigned kOwnMachine = EM_386;
#elif defined(__arm__)
constexpr unsigned kOwnMachine = EM_ARM;
#elif defined(__riscv)
constexpr unsigned kOwnMachine = EM_RISCV;
#else
constexpr unsigned kOwnMachine = EM_NONE;  // no machine check where it is not known
#endif
#if __SIZEOF_POINTER__ == 8
constexpr unsigned char kOwnClass = ELFCLASS64;
#else
constexpr unsigned char kOwnClass = ELFCLASS32;
#endif

// Upper bound for the program header table: a real module has a dozen entries.
constexpr std::uint64_t kMaxProgramHeaders = 512;

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* at = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = pread(fd, at, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// The reasons are in English, for --verbose and the log; the player only ever sees the
// console taking over.
bool CheckSharedObject(int fd, std::uint64_t fileSize, std::string& reason) {
    ElfW(Ehdr) header{};
    if (fileSize < sizeof header || !ReadAt(fd, &header, sizeof header, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        reason = "not a shared object";
        return false;
    }
    if (header.e_ident[EI_CLASS] != kOwnClass || header.e_type != ET_DYN ||
        (kOwnMachine != EM_NONE && header.e_machine != kOwnMachine)) {
        reason = "a shared object for another kind of machine";
        return false;
    }
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 ||
        header.e_phnum > kMaxProgramHeaders || header.e_phoff > fileSize ||
        fileSize - header.e_phoff < std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr))) {
        reason = "damaged: its program headers do not fit in the file";
        return false;
    }
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!ReadAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff)) {
        reason = "its program headers cannot be read";
        return false;
    }
    for (const ElfW(Phdr) & segment : segments) {
        if (segment.p_type != PT_LOAD)
            continue;
        if (segment.p_offset > fileSize || fileSize - segment.p_offset < segment.p_filesz) {
            reason = "cut short: a segment ends past the end of the file (" +
                     std::to_string(fileSize) + " bytes)";
            return false;
        }
    }
    return true;
}

}  // namespace

bool LoadModule(const std::wstring& path, LoadedModule& module, std::wstring& error) {
    const std::string name = WideToUtf8(std::wstring_view(path));
    const int fd = name.empty() ? -1 : open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = Utf8ToWide(std::string_view(std::strerror(name.empty() ? ENOENT : errno)));
        return false;
    }
    struct stat status {};
    std::string reason;
    if (fstat(fd, &status) != 0)
        reason = std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        reason = "not a regular file";
    else
        CheckSharedObject(fd, static_cast<std::uint64_t>(status.st_size), reason);
    if (!reason.empty()) {
        close(fd);
        error = Utf8ToWide(std::string_view(reason));
        return false;
    }
    // Through the descriptor, so the file mapped is the file checked. Bound now rather than at
    // first call, so that a module built against other libraries fails here, where the console
    // can still take over, and not in the middle of a window.
    const std::string checked = "/proc/self/fd/" + std::to_string(fd);
    void* handle = dlopen(checked.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* loaderReason = dlerror();
        close(fd);
        error = Utf8ToWide(
            std::string_view(loaderReason != nullptr ? loaderReason : "cannot be loaded"));
        return false;
    }
    // The descriptor stays open as long as the module stays loaded (for good): the loader knows
    // the module by that /proc name, and a later module opened under the same number would be
    // taken for this one.
    module.handle = handle;
    error.clear();
    return true;
}

void* FindModuleFunction(const LoadedModule& module, const char* name) {
    if (module.handle == nullptr)
        return nullptr;
    return dlsym(module.handle, name);
}

}  // namespace platform
