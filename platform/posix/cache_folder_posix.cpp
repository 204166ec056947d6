#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/cache_folder.h"
#include "text/utf8.h"

namespace platform {

namespace {

std::wstring FromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return {};
    return Utf8ToWide(std::string_view(value));
}

}  // namespace

bool GetCacheFolder(std::wstring& out) {
    // The base directory rules ignore a relative value rather than resolve it against
    // whatever folder the launcher happens to start in.
    const std::wstring cache = FromEnv("XDG_CACHE_HOME");
    if (!cache.empty() && cache[0] == L'/') {
        out = cache;
        return true;
    }
    std::wstring home = FromEnv("HOME");
    if (home.empty() || home[0] != L'/')
        return false;
    if (home.back() != L'/')
        home += L'/';
    out = home + L".cache";
    return true;
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
