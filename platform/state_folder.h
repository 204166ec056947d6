#pragma once
// Where the launcher keeps what it learns from run to run (its log, the highest catalogue
// serials it accepted): losing it only weakens the rollback guard and costs history; it is
// never needed to start the game.

#include <string>

namespace platform {

// The user's state folder: $XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
// The folder itself may not exist yet. False when neither can be named.
bool GetStateFolder(std::wstring& out);

}  // namespace platform
