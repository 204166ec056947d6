#include "platform/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/path.h"
#include "text/utf8.h"

namespace platform {

namespace {

constexpr wchar_t kLauncherFolderName[] = L"velmora-launcher";

bool AbsoluteFromEnv(const char* variable, std::wstring& out) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] != '/')
        return false;
    out = Utf8ToWide(std::string_view(value));
    return true;
}

}  // namespace

bool GetUserFolder(const UserFolderRule& rule, std::wstring& out) {
    if (AbsoluteFromEnv(rule.variable, out))
        return true;
    std::wstring home;
    return AbsoluteFromEnv("HOME", home) &&
           JoinPath(home, rule.belowHome, out, kMaxNativePathLength);
}

bool GetLauncherFolder(const UserFolderRule& rule, std::wstring& out) {
    std::wstring base;
    return GetUserFolder(rule, base) &&
           JoinPath(base, kLauncherFolderName, out, kMaxNativePathLength);
}

bool GetHomeFolder(std::wstring& out) {
    if (AbsoluteFromEnv("HOME", out))
        return true;
    // No usable $HOME (a service started without one): the user database still knows.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return false;
    out = Utf8ToWide(std::string_view(found->pw_dir));
    return true;
}

}  // namespace platform
