#include "platform/posix/xdg_folder.h"
#include "platform/state_folder.h"

namespace platform {

bool GetStateFolder(std::wstring& out) {
    return GetXdgFolder("XDG_STATE_HOME", L".local/state", out);
}

}  // namespace platform
