#include "app/installer_check.h"

#include "catalogue/patch_info.h"
#include "text/log.h"
#include "text/utf8.h"
#include "transfer/download_path.h"
#include "transfer/file_digests.h"

const DownloadEntry* FindInstallerEntry(const PatchEntry& patch, const std::wstring& installer) {
    if (installer.empty())
        return nullptr;
    const std::wstring wanted = NativeTarget(installer);
    for (const auto& entry : patch.download_list) {
        if (entry != nullptr && NativeTarget(entry->target) == wanted)
            return entry.get();
    }
    return nullptr;
}

bool OpenFileMatchesEntry(std::FILE* file, const DownloadEntry& entry) {
    if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    const bool withSha256 = !entry.sha256.empty();
    const FileDigestTexts actual = FileDigests(file, withSha256);
    const EntryMatch match = MatchEntry(entry, actual);
    LogLine("installer %s: md5 %s (listed %s)", LogText(entry.target).c_str(),
            LogText(actual.md5).c_str(), LogText(entry.md5).c_str());
    if (!match.md5)
        return false;
    if (withSha256)
        LogLine("installer %s: sha256 %s (listed %s)", LogText(entry.target).c_str(),
                LogText(actual.sha256).c_str(), LogText(entry.sha256).c_str());
    return match.sha256;
}
