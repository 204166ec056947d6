#include "app/installer_check.h"

#include "catalogue/patch_info.h"
#include "text/log.h"
#include "text/utf8.h"
#include "transfer/file_digests.h"

namespace {

std::wstring WithForwardSlashes(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return path;
}

bool IsLowerHexDigest(const std::wstring& text, std::size_t length) {
    if (text.size() != length)
        return false;
    for (wchar_t ch : text)
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f')))
            return false;
    return true;
}

}  // namespace

const DownloadEntry* FindInstallerEntry(const PatchEntry& patch, const std::wstring& installer) {
    if (installer.empty())
        return nullptr;
    const std::wstring wanted = WithForwardSlashes(installer);
    for (const auto& entry : patch.download_list) {
        if (entry != nullptr && WithForwardSlashes(entry->target) == wanted)
            return entry.get();
    }
    return nullptr;
}

bool OpenFileMatchesEntry(std::FILE* file, const DownloadEntry& entry) {
    if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    const bool withSha256 = !entry.sha256.empty();
    const FileDigestTexts actual = FileDigests(file, withSha256);
    LogLine("installer %s: md5 %s (listed %s)", LogText(entry.target).c_str(),
            LogText(actual.md5).c_str(), LogText(entry.md5).c_str());
    // A read error gives a sentinel text, which a hostile catalogue could list as its "digest".
    if (!IsLowerHexDigest(actual.md5, 32) || actual.md5 != entry.md5)
        return false;
    if (!withSha256)
        return true;
    LogLine("installer %s: sha256 %s (listed %s)", LogText(entry.target).c_str(),
            LogText(actual.sha256).c_str(), LogText(entry.sha256).c_str());
    return IsLowerHexDigest(actual.sha256, 64) && actual.sha256 == entry.sha256;
}
