#include "transfer/verify.h"

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "transfer/download_path.h"
#include "transfer/md5.h"

namespace {

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

// Only a real digest may match: a catalogue that lists "read__error" for a folder must not
// pass because the sentinel happens to equal its text.
bool IsDigest(const std::wstring& text) {
    if (text.size() != 32)
        return false;
    for (wchar_t ch : text)
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f')))
            return false;
    return true;
}

}  // namespace

bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop) {
    return VerifyDownloadList(
        patch, folder,
        [](const std::wstring& path, const std::atomic<bool>* stopFlag) {
            return CMD5Wrapper().FileHashW(path, stopFlag);
        },
        stop);
}

bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const FileDigestFunction& digest, const std::atomic<bool>* stop) {
    if (patch == nullptr)
        return false;
    for (const auto& entry : patch->download_list) {
        if (Stopped(stop))
            return false;
        if (!entry)
            return false;
        std::wstring path;
        if (!BuildDownloadPath(folder, entry->target, path))
            return false;
        if (!platform::FileExists(path))
            return false;
        const std::wstring actual = digest(path, stop);
        if (!IsDigest(actual) || actual != entry->md5)
            return false;
    }
    return !Stopped(stop);
}
