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

InstalledGame ReadInstalledGame(const std::wstring& installFolder, DigestCache& cache,
                                const std::atomic<bool>* stop, const FileDigestFunction& digest) {
    InstalledGame game;
    game.digestCache = cache.Path();
    // A path too long for the buffer names no file the game could be started from either.
    std::wstring exe;
    // A FIFO, socket, device or folder in the executable's place counts as missing at once:
    // reading one could block for ever.
    if (!GameExecutablePath(installFolder, exe) || !platform::RegularFileExists(exe))
        return game;
    game.present = true;
    game.version = ReadFileVersion(exe);
    cache.Load();
    game.md5 = CachedFileHash(cache, exe, stop, digest);
    // A cache that cannot be written costs the next start a read, nothing more.
    cache.Save();
    return game;
}

bool ApplyInstalledGame(const InstalledGame& game, PatchInfo* info, bool& bStartGame) {
    bStartGame = true;
    if (info == nullptr || !game.present)
        return false;
    info->installed_version = game.version;
    // On Windows this is the launcher executable's own version resource; elsewhere the launcher
    // is no PE image, and the version it was built as stands in for it.
    info->launcher_version = LauncherFileVersion();
    SelectInstalledGame(*info, game.md5);
    return true;
}
