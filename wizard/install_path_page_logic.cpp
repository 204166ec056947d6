#include "wizard/install_path_page_logic.h"

#include <cstdio>
#include <string>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "text/messages.h"

namespace {

// Other names tried when the folder already holds an entry named like the probe.
constexpr int kProbeAlternatives = 64;

// False when the probe's path would not fit a path buffer.
bool ProbePath(const std::wstring& folder, int attempt, std::wstring& out) {
    std::wstring name(kWriteAccessProbeName);
    if (attempt > 0)
        name += L"." + std::to_wstring(attempt);
    return platform::JoinPath(folder, name, out);
}

// Creates and removes one probe file. Only a file this call created is ever removed: the probe
// is opened as a new file, so an existing "writeaccess" is never truncated or deleted.
bool CanCreateFileIn(const std::wstring& folder) {
    for (int attempt = 0; attempt <= kProbeAlternatives; ++attempt) {
        std::wstring probe;
        if (!ProbePath(folder, attempt, probe))
            return false;
        platform::UniqueFile file = platform::CreateNewFile(probe, "wb");
        if (file != nullptr) {
            file.reset();
            platform::RemoveFile(probe);
            return true;
        }
        // The name was free, so the creation failed for the folder's own sake (read-only, not a
        // folder, no room): no other name would fare better.
        if (!platform::FileExists(probe))
            return false;
    }
    return false;
}

}  // namespace

std::wstring BuildVersionText(const PatchInfo& info) {
    std::wstring text = LoadMessage(kMsgSelectedVersion);
    text += L'\n';
    if (info.installed_game != nullptr)
        text += info.installed_game->name;
    return text;
}

std::wstring ProposeDownloadFolder() {
    std::wstring folder;
    if (!platform::GetCurrentDirectory(folder))
        folder.clear();
    return folder;
}

FolderCheck CheckDownloadFolder(const std::wstring& folder) {
    if (folder.empty())
        return FolderCheck::kEmpty;
    if (folder.size() > kMaxDownloadFolderLength)
        return FolderCheck::kTooLong;
    // A NUL inside the text would silently shorten the name the system sees.
    if (folder.find(L'\0') != std::wstring::npos)
        return FolderCheck::kMissing;
    if (!platform::FileExists(folder))
        return FolderCheck::kMissing;
    if (!CanCreateFileIn(folder))
        return FolderCheck::kNotWritable;
    return FolderCheck::kAccepted;
}

bool AcceptDownloadFolder(const std::wstring& folder, PatchInfo& info) {
    if (CheckDownloadFolder(folder) != FolderCheck::kAccepted)
        return false;
    info.download_folder = folder;
    return true;
}
