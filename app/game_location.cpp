#include "app/game_location.h"

#include "app/command_line.h"
#include "app/launcher_settings.h"
#include "app/version_detection.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/log.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "ui/user_interface.h"
#include "wizard/install_path_page_logic.h"

namespace {

constexpr wchar_t kDownloadsFolderName[] = L"downloads";

// An installation folder as m_szPath holds it: empty, or ending in a separator.
std::wstring AsInstallFolder(std::wstring folder) {
    if (!folder.empty() && folder.back() != platform::kPathSeparator)
        folder += platform::kPathSeparator;
    return folder;
}

bool GameIsIn(const std::wstring& installFolder) {
    std::wstring exe;
    return installFolder.size() <= kMaxPathLength && GameExecutablePath(installFolder, exe) &&
           platform::RegularFileExists(exe);
}

// A player who picks the game's bin folder itself has still found the game; a folder typed
// relative to the working folder is remembered as the absolute one it names.
std::wstring GameFolderFromChoice(const std::wstring& chosen) {
    std::wstring folder = chosen;
    std::wstring here;
    if (!folder.empty() && folder[0] != platform::kPathSeparator &&
        platform::GetCurrentDirectory(here))
        platform::JoinPath(here, chosen, folder);
    while (folder.size() > 1 && folder.back() == platform::kPathSeparator)
        folder.pop_back();
    const std::wstring install = AsInstallFolder(folder);
    const std::wstring bin = std::wstring(1, platform::kPathSeparator) + L"bin";
    if (!GameIsIn(install) && folder.size() > bin.size() && folder.ends_with(bin)) {
        const std::wstring above = folder.substr(0, folder.size() - bin.size() + 1);
        if (GameIsIn(above))
            return above;
    }
    return install;
}

std::wstring Shown(const std::wstring& folder) {
    return ForDisplay(folder.empty() ? std::wstring(L".") : folder);
}

bool IsHomeFolder(const std::wstring& folder) {
    std::wstring home;
    if (!platform::GetHomeFolder(home))
        return false;
    while (home.size() > 1 && home.back() == platform::kPathSeparator)
        home.pop_back();
    std::wstring bare = folder;
    while (bare.size() > 1 && bare.back() == platform::kPathSeparator)
        bare.pop_back();
    return bare == home;
}

std::wstring ProposedDownloadFolder(const LauncherSettings& settings) {
    if (!settings.downloadFolder.empty() && platform::IsDirectory(settings.downloadFolder) &&
        !IsHomeFolder(settings.downloadFolder))
        return settings.downloadFolder;
    std::wstring cache, folder;
    if (platform::GetLauncherFolder(platform::kCacheFolder, cache) &&
        platform::JoinPath(cache, kDownloadsFolderName, folder) && platform::CreateFolders(folder))
        return folder;
    return {};
}

void Remember(const std::wstring& settingsPath, LauncherSettings settings) {
    Failure failure;
    if (!WriteLauncherSettings(settingsPath, settings, &failure))
        LogLine("settings %s: not written: %s", LogText(settingsPath).c_str(),
                DescribeFailure(failure).c_str());
}

}  // namespace

GameLocation LocateGame(CLauncherCommandLineInfo& options, UserInterface& ui,
                        const std::wstring& settingsPath) {
    GameLocation where;
    if (options.m_bPathGiven) {
        where.found = GameIsIn(options.m_szPath);
        return where;
    }
    LauncherSettings settings = ReadLauncherSettings(settingsPath);
    std::wstring here;
    if (GameIsIn(L"")) {
        where.found = true;
        options.m_szPath.clear();
        // Remembered absolute, for the next start from the menu.
        if (platform::GetCurrentDirectory(here) && AsInstallFolder(here) != settings.gameFolder) {
            settings.gameFolder = AsInstallFolder(here);
            Remember(settingsPath, settings);
        }
        return where;
    }
    if (!settings.gameFolder.empty() && GameIsIn(settings.gameFolder)) {
        LogLine("game folder \"%s\": remembered", LogText(settings.gameFolder).c_str());
        where.found = true;
        options.m_szPath = settings.gameFolder;
    } else if (!options.m_bAssumeYes) {
        if (!platform::GetCurrentDirectory(here))
            here.clear();
        std::wstring explanation = FormatMessageText(LoadMessage(kMsgGameNotFound), {Shown(here)});
        std::wstring chosen;
        while (ui.AskGameFolder(explanation, here, chosen)) {
            const std::wstring folder = GameFolderFromChoice(ExpandHomeFolder(chosen));
            if (GameIsIn(folder)) {
                LogLine("game folder \"%s\": chosen", LogText(folder).c_str());
                where.found = true;
                options.m_szPath = folder;
                settings.gameFolder = folder;
                Remember(settingsPath, settings);
                break;
            }
            explanation = FormatMessageText(LoadMessage(kMsgNoGameInFolder), {Shown(folder)});
            here = folder;
        }
    }
    if (where.found) {
        where.outsideWorkingFolder = true;
        where.downloadFolder = ProposedDownloadFolder(settings);
    }
    return where;
}

void RememberDownloadFolder(const std::wstring& settingsPath, const std::wstring& folder) {
    if (folder.empty())
        return;
    // A folder typed relative to this start's working folder would name another folder at the
    // next start, from wherever that one begins.
    std::wstring absolute = folder;
    std::wstring here;
    if (folder[0] != platform::kPathSeparator) {
        if (!platform::GetCurrentDirectory(here) || !platform::JoinPath(here, folder, absolute))
            return;
    }
    LauncherSettings settings = ReadLauncherSettings(settingsPath);
    if (settings.downloadFolder == absolute)
        return;
    settings.downloadFolder = absolute;
    Remember(settingsPath, settings);
}
