#pragma once
// Which game is installed, and which launcher is running: the file versions of both, and the
// catalogue release whose checksums list the game executable's digest.

#include <string>

#include "transfer/file_digests.h"

class DigestCache;
struct PatchInfo;

// The game executable below an installation folder (empty, or ending in a separator):
// <folder>bin/velmora2.exe, and the folder it runs in, <folder>bin/. False when the path would
// be longer than a path buffer holds.
bool GameExecutablePath(const std::wstring& installFolder, std::wstring& out);
bool GameFolderPath(const std::wstring& installFolder, std::wstring& out);

// Step 2 of the update flow: fills installed_version, launcher_version and installed_game of
// info for the game below installFolder. Sets bStartGame; false only when the game executable
// is not there (the game start that follows then fails with message 200), or info is null.
// The executable's MD5 is taken from cache when a trusted entry matches it (the file is then not
// read at all), else read through digest (default: FileDigests) and remembered; a null cache
// reads it every time. Either way the same release is recognised.
bool DetectInstalledVersion(const std::wstring& installFolder, PatchInfo* info, bool& bStartGame,
                            DigestCache* cache = nullptr, const FileDigestFunction& digest = {});

// The same with the player's digest cache (UserDigestCachePath), loaded before and saved after;
// with useCache false (--no-cache) the cache file is neither read nor written. Either way
// info->digest_cache names that cache for the download worker (empty with useCache false).
bool DetectInstalledVersionWithUserCache(const std::wstring& installFolder, PatchInfo* info,
                                         bool& bStartGame, bool useCache);
