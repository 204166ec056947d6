#include <cstdlib>

#include "platform/state_folder.h"
#include "text/utf8.h"

namespace platform {

bool GetStateFolder(std::wstring& out) {
    // A relative value is ignored, as the base directory rules ask, rather than resolved
    // against whatever folder the launcher starts in.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        out = Utf8ToWide(std::string_view(state));
        return true;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return false;
    std::wstring folder = Utf8ToWide(std::string_view(home));
    if (folder.back() != L'/')
        folder += L'/';
    out = folder + L".local/state";
    return true;
}

}  // namespace platform
