#include "app/version_detection.h"

#include "app/file_version.h"
#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "transfer/digest_cache.h"
#include "transfer/md5.h"

namespace {
constexpr wchar_t kGameFolderName[] = L"bin";
constexpr wchar_t kGameExecutableName[] = L"velmora2.exe";
}  // namespace

bool GameFolderPath(const std::wstring& installFolder, std::wstring& out) {
    // The folder keeps its final separator: the game's working folder is written that way.
    return platform::JoinPath(installFolder,
                              kGameFolderName + std::wstring(1, platform::kPathSeparator), out);
}

bool GameExecutablePath(const std::wstring& installFolder, std::wstring& out) {
    std::wstring folder;
    return GameFolderPath(installFolder, folder) &&
           platform::JoinPath(folder, kGameExecutableName, out);
}

bool DetectInstalledVersion(const std::wstring& installFolder, PatchInfo* info, bool& bStartGame,
                            DigestCache* cache, const FileDigestFunction& digest) {
    bStartGame = true;
    if (info == nullptr)
        return false;

    // A path too long for the buffer names no file the game could be started from either.
    std::wstring exe;
    // A FIFO, socket, device or folder in the executable's place counts as missing at once:
    // reading one could block for ever.
    if (!GameExecutablePath(installFolder, exe) || !platform::RegularFileExists(exe))
        return false;

    info->installed_version = ReadFileVersion(exe);
    // On Windows this is the launcher executable's own version resource; elsewhere the launcher
    // is no PE image, and the version it was built as stands in for it.
    info->launcher_version = LauncherFileVersion();

    std::wstring md5;
    if (cache != nullptr)
        md5 = CachedFileHash(*cache, exe, nullptr, digest);
    else
        md5 = digest ? digest(exe, false, nullptr).md5 : FileDigests(exe, false).md5;
    SelectInstalledGame(*info, md5);
    return true;
}

bool DetectInstalledVersionWithUserCache(const std::wstring& installFolder, PatchInfo* info,
                                         bool& bStartGame, bool useCache) {
    const std::wstring cachePath = useCache ? UserDigestCachePath() : std::wstring();
    // The download worker, should it run, uses the same cache, or none.
    if (info != nullptr)
        info->digest_cache = cachePath;
    if (!useCache)
        return DetectInstalledVersion(installFolder, info, bStartGame);
    DigestCache cache(cachePath);
    cache.Load();
    const bool found = DetectInstalledVersion(installFolder, info, bStartGame, &cache);
    // A cache that cannot be written costs the next start a read, nothing more.
    cache.Save();
    return found;
}
