#pragma once
// Which game is installed, and which launcher is running: the file versions of both, and the
// catalogue release whose checksums list the game executable's digest.

#include <atomic>
#include <string>

#include "transfer/file_digests.h"

class DigestCache;
struct PatchInfo;

// The game executable below an installation folder (empty, or ending in a separator):
// <folder>bin/velmora2.exe, and the folder it runs in, <folder>bin/. False when the path would
// be longer than a path buffer holds.
bool GameExecutablePath(const std::wstring& installFolder, std::wstring& out);
bool GameFolderPath(const std::wstring& installFolder, std::wstring& out);

// What the installation folder says about the game, before any catalogue is at hand: whether
// its executable is there, its file version and its MD5 (or a sentinel of FileHashW's when it
// could not be read, "stop__error" once stop was raised).
struct InstalledGame {
    bool present = false;
    std::wstring version;
    std::wstring md5;
    // The digest cache the game was looked up in (empty: none), for the download worker.
    std::wstring digestCache;
};

// The one way the launcher learns which game is installed: reads the executable below
// installFolder, its MD5 taken from cache when a trusted entry matches it (the file is then not
// read at all), else read through digest (default: FileDigests) and remembered. The cache is
// loaded before and saved after; a disabled one (--no-cache, or no cache folder) is neither read
// nor written, and the file is read every time. Either way the same release is recognised. A
// raised stop abandons the digest ("stop__error"), and nothing of it is remembered.
InstalledGame ReadInstalledGame(const std::wstring& installFolder, DigestCache& cache,
                                const std::atomic<bool>* stop = nullptr,
                                const FileDigestFunction& digest = {});
// Fills installed_version, launcher_version and installed_game of info from game. Sets
// bStartGame; false when the game is not present (the game start that follows then fails with
// message 200) or info is null.
bool ApplyInstalledGame(const InstalledGame& game, PatchInfo* info, bool& bStartGame);
