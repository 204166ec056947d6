#pragma once
// Where the launcher keeps what it learns from run to run (its log, the newest catalogue
// serial): losing it costs nothing but history.

#include <string>

namespace platform {

// The user's state folder: $XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
// The folder itself may not exist yet. False when neither can be named.
bool GetStateFolder(std::wstring& out);

}  // namespace platform
