#pragma once
// The person's own folders, and the launcher's folder below them.

#include <string>

namespace platform {

// A base folder after the XDG rule: the variable when it holds an absolute path, else the
// folder below an absolute $HOME. A relative value is ignored rather than resolved against
// whatever folder the launcher happens to start in. The folder itself may not exist yet.
struct UserFolderRule {
    const char* variable;
    const wchar_t* belowHome;
};
// The game's profile lives here.
inline constexpr UserFolderRule kDataFolder{"XDG_DATA_HOME", L".local/share"};
// What the launcher learns from run to run (its log, the highest catalogue serials it
// accepted): losing it only weakens the rollback guard and costs history.
inline constexpr UserFolderRule kStateFolder{"XDG_STATE_HOME", L".local/state"};
// What the launcher can always compute again.
inline constexpr UserFolderRule kCacheFolder{"XDG_CACHE_HOME", L".cache"};
// The player's few choices (where the game is installed): losing them only means the launcher
// asks again.
inline constexpr UserFolderRule kConfigFolder{"XDG_CONFIG_HOME", L".config"};

// False when neither the variable nor $HOME names a folder.
bool GetUserFolder(const UserFolderRule& rule, std::wstring& out);

// The launcher's own folder below a base folder: <base>/velmora-launcher.
bool GetLauncherFolder(const UserFolderRule& rule, std::wstring& out);

// The home folder as the shell's "~" names it: $HOME when it is an absolute path, else the
// home folder the user database lists; false when neither is known.
bool GetHomeFolder(std::wstring& out);

}  // namespace platform
