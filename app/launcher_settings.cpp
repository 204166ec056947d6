#include "app/launcher_settings.h"

#include <sstream>

#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/utf8.h"

namespace {

constexpr wchar_t kSettingsFileName[] = L"settings";
// Two folder names and their keys; anything larger is not our file.
constexpr std::size_t kMaxSettingsSize = 16 * 1024;
constexpr char kGameFolderKey[] = "game-folder=";
constexpr char kDownloadFolderKey[] = "download-folder=";

bool TakeValue(const std::string& line, const char* key, std::wstring& value) {
    const std::string_view prefix(key);
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    // The bytes as the file system had them: a folder whose name is not UTF-8 comes back as it
    // was.
    value = Utf8ToWide(std::string_view(line).substr(prefix.size()));
    return true;
}

void PutValue(std::string& text, const char* key, const std::wstring& value) {
    if (value.empty() || value.find_first_of(L"\n\r") != std::wstring::npos ||
        value.find(L'\0') != std::wstring::npos)
        return;
    text += key;
    text += WideToUtf8(std::wstring_view(value));
    text += '\n';
}

}  // namespace

std::wstring UserSettingsPath() {
    std::wstring folder, path;
    if (!platform::GetLauncherFolder(platform::kConfigFolder, folder) ||
        !platform::JoinPath(folder, kSettingsFileName, path, platform::kMaxNativePathLength))
        return {};
    return path;
}

LauncherSettings ReadLauncherSettings(const std::wstring& path) {
    std::string text;
    if (!platform::ReadSmallFile(path, kMaxSettingsSize, text))
        return {};

    LauncherSettings settings;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || TakeValue(line, kGameFolderKey, settings.gameFolder) ||
            TakeValue(line, kDownloadFolderKey, settings.downloadFolder))
            continue;
        // A line we never write: the file is someone else's, or damaged.
        return {};
    }
    return settings;
}

bool WriteLauncherSettings(const std::wstring& path, const LauncherSettings& settings,
                           Failure* failure) {
    if (path.empty())
        return false;
    std::string text;
    PutValue(text, kGameFolderKey, settings.gameFolder);
    PutValue(text, kDownloadFolderKey, settings.downloadFolder);
    return platform::WriteFileAtomically(path, text, failure);
}
