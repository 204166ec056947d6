#include "app/installer_check.h"

#include <vector>

#include "catalogue/patch_info.h"
#include "text/log.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "transfer/sha256.h"

namespace {

std::wstring WithForwardSlashes(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'\\')
            c = L'/';
    }
    return path;
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
    md5wrapper md5;
    Sha256Digest sha256;
    std::vector<unsigned char> block(64 * 1024);
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file);
        if (got > 0) {
            md5.feed(block.data(), static_cast<std::uint32_t>(got));
            if (withSha256)
                sha256.Feed(block.data(), got);
        }
        if (got < block.size()) {
            if (std::ferror(file))
                return false;
            break;
        }
    }
    const std::string md5Hex = md5.finalHex();
    LogLine("installer %s: md5 %s (listed %s)", LogText(entry.target).c_str(), md5Hex.c_str(),
            LogText(entry.md5).c_str());
    if (Utf8ToWide(std::string_view(md5Hex)) != entry.md5)
        return false;
    if (!withSha256)
        return true;
    const std::string shaHex = sha256.FinalHex();
    LogLine("installer %s: sha256 %s (listed %s)", LogText(entry.target).c_str(), shaHex.c_str(),
            LogText(entry.sha256).c_str());
    return !shaHex.empty() && Utf8ToWide(std::string_view(shaHex)) == entry.sha256;
}
