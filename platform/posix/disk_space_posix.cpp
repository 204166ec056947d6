#include "platform/disk_space.h"
#include "platform/platform.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <string>

#include "text/utf8.h"

namespace platform {

bool GetFreeSpace(const std::wstring& folder, std::uint64_t& bytes, Failure* failure) {
    const std::string native = WideToUtf8(folder.empty() ? std::wstring(L".") : folder);
    struct statvfs info {};
    int result;
    do {
        result = statvfs(native.c_str(), &info);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(errno, folder);
        return false;
    }
    bytes = static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
    return true;
}

}  // namespace platform
