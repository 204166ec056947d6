#include "transfer/verify.h"

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "transfer/download_path.h"

namespace {

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

// Only a real digest may match: a catalogue that lists "read__error" for a folder must not
// pass because the sentinel happens to equal its text.
bool IsDigest(const std::wstring& text, std::size_t length) {
    if (text.size() != length)
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
        [](const std::wstring& path, bool withSha256, const std::atomic<bool>* stopFlag) {
            return FileDigests(path, withSha256, stopFlag);
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
        // A listed sha256 must match as well as the MD5; without one the entry is checked as
        // catalogues without it always were.
        const bool withSha256 = !entry->sha256.empty();
        const FileDigestTexts actual = digest(path, withSha256, stop);
        if (!IsDigest(actual.md5, 32) || actual.md5 != entry->md5)
            return false;
        if (withSha256 && (!IsDigest(actual.sha256, 64) || actual.sha256 != entry->sha256))
            return false;
    }
    return !Stopped(stop);
}
