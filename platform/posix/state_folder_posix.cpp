#include <cstdlib>

#include "platform/state_folder.h"
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

bool GetStateFolder(std::wstring& out) {
    // As with the cache: a relative value would depend on the folder the launcher starts in.
    const std::wstring state = FromEnv("XDG_STATE_HOME");
    if (!state.empty() && state[0] == L'/') {
        out = state;
        return true;
    }
    std::wstring home = FromEnv("HOME");
    if (home.empty() || home[0] != L'/')
        return false;
    if (home.back() != L'/')
        home += L'/';
    out = home + L".local/state";
    return true;
}

}  // namespace platform
