#pragma once
// The player's few choices, kept from run to run in a small file of the launcher's own
// ($XDG_CONFIG_HOME/velmora-launcher/settings): where the game is installed and which folder
// the patches went to last. Nothing depends on it: a lost or unreadable file only means the
// player is asked again.

#include <string>

#include "text/failure.h"

struct LauncherSettings {
    // The installation folder as m_szPath holds it (ending in a separator); empty: none known.
    std::wstring gameFolder;
    // The download folder used last by a start outside the game folder; empty: none.
    std::wstring downloadFolder;
};

// The settings file of this user; empty when no configuration folder is known.
std::wstring UserSettingsPath();

// The settings in path. The file is opened without following a link and only as a regular file;
// anything else (missing, a link, too large, a line that is not ours) reads as no settings.
LauncherSettings ReadLauncherSettings(const std::wstring& path);

// Writes the settings atomically (a reader sees the old file or the new one, never a mix),
// creating the folders on the way. A folder text holding a line feed cannot be kept and is left
// out.
bool WriteLauncherSettings(const std::wstring& path, const LauncherSettings& settings,
                           Failure* failure = nullptr);
