#include "platform/home_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "text/utf8.h"

namespace platform {

bool GetHomeFolder(std::wstring& out) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        out = Utf8ToWide(std::string_view(home));
        return true;
    }
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
