#include "platform/posix/xdg_folder.h"

#include <cstdlib>

#include "text/utf8.h"

namespace platform {

bool GetXdgFolder(const char* variable, const wchar_t* belowHome, std::wstring& out) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        out = Utf8ToWide(std::string_view(value));
        return true;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return false;
    std::wstring folder = Utf8ToWide(std::string_view(home));
    if (folder.back() != L'/')
        folder += L'/';
    out = folder + belowHome;
    return true;
}

}  // namespace platform
