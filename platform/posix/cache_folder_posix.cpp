#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/cache_folder.h"
#include "platform/posix/xdg_folder.h"
#include "text/utf8.h"

namespace platform {

bool GetCacheFolder(std::wstring& out) {
    return GetXdgFolder("XDG_CACHE_HOME", L".cache", out);
}

bool ReplaceFile(const std::wstring& from, const std::wstring& to, Failure* failure) {
    if (from.empty() || to.empty()) {
        if (failure != nullptr)
            *failure = SystemFailure(ENOENT, from.empty() ? from : to);
        return false;
    }
    // rename(2) swaps the directory entry atomically and replaces a link at to, not its target.
    if (std::rename(WideToUtf8(std::wstring_view(from)).c_str(),
                    WideToUtf8(std::wstring_view(to)).c_str()) != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(errno, to);
        return false;
    }
    return true;
}

}  // namespace platform
