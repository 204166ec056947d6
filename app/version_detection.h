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

// Reads the executable below installFolder: its MD5 from cache when a trusted entry matches it,
// else through digest (default: FileDigests), remembered in cache when given.
InstalledGame ReadInstalledGame(const std::wstring& installFolder, DigestCache* cache = nullptr,
                                const FileDigestFunction& digest = {},
                                const std::atomic<bool>* stop = nullptr);
// The same with the player's digest cache (UserDigestCachePath), loaded before and saved after;
// with useCache false (--no-cache) the cache file is neither read nor written.
InstalledGame ReadInstalledGameWithUserCache(const std::wstring& installFolder, bool useCache,
                                             const std::atomic<bool>* stop = nullptr);
// Fills installed_version, launcher_version and installed_game of info from game. Sets
// bStartGame; false when the game is not present or info is null.
bool ApplyInstalledGame(const InstalledGame& game, PatchInfo* info, bool& bStartGame);

// Step 2 of the update flow: fills installed_version, launcher_version and installed_game of
// info for the game below installFolder. Sets bStartGame; false only when the game executable
// is not there (the game start that follows then fails with message 200), or info is null.
// The executable's MD5 is taken from cache when a trusted entry matches it (the file is then not
// read at all), else read through digest (default: FileDigests) and remembered; a null cache
// reads it every time. Either way the same release is recognised. A raised stop abandons the
// digest, and no release is recognised.
bool DetectInstalledVersion(const std::wstring& installFolder, PatchInfo* info, bool& bStartGame,
                            DigestCache* cache = nullptr, const FileDigestFunction& digest = {},
                            const std::atomic<bool>* stop = nullptr);

// The same with the player's digest cache (UserDigestCachePath), loaded before and saved after;
// with useCache false (--no-cache) the cache file is neither read nor written.
bool DetectInstalledVersionWithUserCache(const std::wstring& installFolder, PatchInfo* info,
                                         bool& bStartGame, bool useCache,
                                         const std::atomic<bool>* stop = nullptr);
