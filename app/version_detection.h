#pragma once
// Which game is installed, and which launcher is running: the file versions of both, and the
// catalogue release whose checksums list the game executable's digest.

#include <string>

class CVelLauncherApp;

// The game executable below an installation folder (empty, or ending in a separator):
// <folder>bin/velmora2.exe, and the folder it runs in, <folder>bin/. False when the path would
// be longer than a path buffer holds.
bool GameExecutablePath(const std::wstring& installFolder, std::wstring& out);
bool GameFolderPath(const std::wstring& installFolder, std::wstring& out);

// Fills installed_version, launcher_version and installed_game of app.m_pPatchInfo. Sets
// bStartGame; false only when the game executable is not there (the game start that follows
// then fails with message 200).
bool DetectInstalledVersion(CVelLauncherApp& app, bool& bStartGame);
