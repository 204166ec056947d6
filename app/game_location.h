#pragma once
// Where the game is when the launcher is started from the desktop's menu: in the player's home
// folder, with no --path. The working folder is tried first, as it always was; then the game
// folder remembered from the last start that found the game; else the player is asked.

#include <string>

class CLauncherCommandLineInfo;
class UserInterface;

struct GameLocation {
    // Whether bin/velmora2.exe was found.
    bool found = false;
    // The game was not in the working folder but in one remembered or chosen: options.m_szPath
    // names it, and the download folder is proposed (and the installer started) elsewhere than
    // the working folder.
    bool outsideWorkingFolder = false;
    // For such a start: the download folder used last, else one of the launcher's own below the
    // user's cache folder (made here); never the home folder itself. Empty: the working folder.
    std::wstring downloadFolder;
};

// Finds the game for a start without --path and puts its folder in options.m_szPath. A start
// with --path is left as it is (nothing is asked, nothing remembered). Without --path: the
// working folder when it holds the game (then remembered as the game folder), else the folder
// remembered in settingsPath (ReadLauncherSettings) when the game is still there, else, unless
// --yes, the player is asked (ui.AskGameFolder, message 260; a folder without the game asks
// again with message 261) and the folder chosen is remembered. No answer leaves m_szPath empty,
// and the game start that follows fails with message 200 as it always did.
GameLocation LocateGame(CLauncherCommandLineInfo& options, UserInterface& ui,
                        const std::wstring& settingsPath);

// Remembers folder as the download folder of starts outside the game folder.
void RememberDownloadFolder(const std::wstring& settingsPath, const std::wstring& folder);
