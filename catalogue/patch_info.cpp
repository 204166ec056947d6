#include "catalogue/patch_info.h"

#include <algorithm>
#include <cwctype>

#include "catalogue/xml_tree.h"
#include "text/limits.h"
#include "text/utf8.h"

namespace {

// A missing attribute reads as empty; the conversion is total, so the field always ends up
// holding the attribute's whole text.
void ReadTextAttribute(const XmlNode* node, std::string_view name, std::wstring& field) {
    const std::string value = XmlGetAttribute(node, name, "");
    Utf8ToWide(value.c_str(), field);
}

// The notes are written on one line per language, with backslash-n where a line ends.
std::wstring UnescapeLineFeeds(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            out.push_back(L'\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Only the one form digests are written in can ever match, so anything else makes a delta
// useless before it is fetched.
bool IsMd5Text(const std::wstring& text) {
    if (text.size() != 32)
        return false;
    for (const wchar_t ch : text)
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f')))
            return false;
    return true;
}

// Fills one list from the children of a list element: a fresh record per child, kept when its
// reader accepts it.
template <typename Record, typename Reader>
void ReadList(const XmlNode& list, std::vector<std::unique_ptr<Record>>& records, Reader read) {
    for (std::size_t i = 0; i < list.ChildCount(); ++i) {
        auto record = std::make_unique<Record>();
        if (read(list.Child(i), *record))
            records.push_back(std::move(record));
    }
}

}  // namespace

void PatchEntry::Clear() {
    download_list.clear();
}

void GameVersion::Clear() {
    latest = nullptr;
    checksums.clear();
    patch_list.clear();
}

void Changelog::Clear() {
    texts.clear();
}

void PatchInfo::Clear() {
    // installed_game points into the list about to be emptied; keeping it would leave it
    // dangling, so the selection has to be made again on the new releases.
    installed_game = nullptr;
    game_version_list.clear();
    changelog_list.clear();
    patcherversion.clear();
    patcherurl.clear();
}

const std::wstring& DefaultSupportUrl() {
    static const std::wstring url = Utf8ToWide(std::string_view(VELMORA_SUPPORT_URL));
    return url;
}

bool ReadPatchInfo(const XmlNode* node, PatchInfo& info) {
    if (!XmlIsNamed(node, "patch_info"))
        return false;
    info.Clear();
    ReadTextAttribute(node, "patcherversion", info.patcherversion);
    ReadTextAttribute(node, "patcherurl", info.patcherurl);
    if (info.patcherurl.empty())
        info.patcherurl = DefaultSupportUrl();

    const XmlNode* games = node->Child(0);
    if (!XmlIsNamed(games, "game_version_list"))
        return false;
    ReadList(*games, info.game_version_list, ReadGameVersion);

    const XmlNode* changelogs = node->Child(1);
    if (!XmlIsNamed(changelogs, "changelog_list"))
        return false;
    ReadList(*changelogs, info.changelog_list, ReadChangelog);
    return true;
}

bool ReadGameVersion(const XmlNode* node, GameVersion& game) {
    if (node == nullptr || node->ChildCount() != 2)
        return false;
    game.Clear();
    ReadTextAttribute(node, "name", game.name);
    ReadTextAttribute(node, "latestversion", game.latestversion);

    const XmlNode* checksums = node->Child(0);
    if (!XmlIsNamed(checksums, "checksums"))
        return false;
    ReadList(*checksums, game.checksums, ReadExeChecksum);

    const XmlNode* patches = node->Child(1);
    if (!XmlIsNamed(patches, "patch_list"))
        return false;
    for (std::size_t i = 0; i < patches->ChildCount(); ++i) {
        auto patch = std::make_unique<PatchEntry>();
        if (!ReadPatchEntry(patches->Child(i), *patch))
            continue;
        // A later patch of the same version replaces an earlier one as the one to offer.
        if (patch->version == game.latestversion)
            game.latest = patch.get();
        game.patch_list.push_back(std::move(patch));
    }
    return true;
}

bool ReadExeChecksum(const XmlNode* node, ExeChecksum& sum) {
    if (!XmlIsNamed(node, "checksum"))
        return false;
    ReadTextAttribute(node, "md5", sum.md5);
    ReadTextAttribute(node, "exe_id", sum.exe_id);
    return true;
}

bool ReadPatchEntry(const XmlNode* node, PatchEntry& patchEntry) {
    if (node == nullptr)
        return false;
    patchEntry.Clear();
    ReadTextAttribute(node, "version", patchEntry.version);
    ReadTextAttribute(node, "installer", patchEntry.installer);

    const XmlNode* downloads = node->Child(0);
    if (!XmlIsNamed(downloads, "download_list"))
        return false;
    ReadList(*downloads, patchEntry.download_list, ReadDownloadEntry);
    return true;
}

bool ReadDownloadEntry(const XmlNode* node, DownloadEntry& entry) {
    if (!XmlIsNamed(node, "download"))
        return false;
    ReadTextAttribute(node, "url", entry.url);
    ReadTextAttribute(node, "target", entry.target);
    ReadTextAttribute(node, "md5", entry.md5);
    ReadTextAttribute(node, "sha256", entry.sha256);
    entry.size = XmlGetInt64Attribute(node, "size", 0);
    entry.mirrors.clear();
    entry.deltas.clear();
    for (std::size_t i = 0; i < node->ChildCount(); ++i) {
        const XmlNode* child = node->Child(i);
        DeltaEntry delta;
        if (ReadDeltaEntry(child, delta)) {
            entry.deltas.push_back(std::move(delta));
            continue;
        }
        std::wstring url;
        if (!XmlIsNamed(child, "mirror"))
            continue;
        ReadTextAttribute(child, "url", url);
        if (entry.mirrors.size() < kMaxMirrors && IsUsableMirror(entry, url))
            entry.mirrors.push_back(std::move(url));
    }
    return true;
}

bool IsUsableMirror(const DownloadEntry& entry, const std::wstring& url) {
    std::wstring lower(url.substr(0, 8));
    for (wchar_t& ch : lower)
        ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
    const bool web = lower.starts_with(L"http://") || lower.starts_with(L"https://");
    // An unencoded blank or control character would reach the server as another address.
    const bool clean = std::none_of(url.begin(), url.end(), [](wchar_t ch) { return ch <= L' '; });
    return web && clean && url.size() <= kMaxUrlLength && url != entry.url &&
           std::find(entry.mirrors.begin(), entry.mirrors.end(), url) == entry.mirrors.end();
}

bool ReadDeltaEntry(const XmlNode* node, DeltaEntry& delta) {
    if (!XmlIsNamed(node, "delta"))
        return false;
    ReadTextAttribute(node, "url", delta.url);
    ReadTextAttribute(node, "md5", delta.md5);
    ReadTextAttribute(node, "base", delta.base);
    ReadTextAttribute(node, "base_md5", delta.base_md5);
    delta.size = XmlGetInt64Attribute(node, "size", 0);
    delta.base_size = XmlGetInt64Attribute(node, "base_size", 0);
    // The base's path is judged where it meets the game folder, by the rules of a target.
    return !delta.url.empty() && !delta.base.empty() && delta.size > 0 && delta.base_size > 0 &&
           IsMd5Text(delta.md5) && IsMd5Text(delta.base_md5);
}

bool ReadChangelog(const XmlNode* node, Changelog& log) {
    if (!XmlIsNamed(node, "changelog"))
        return false;
    log.Clear();
    ReadTextAttribute(node, "version", log.version);
    ReadList(*node, log.texts, ReadChangelogText);
    return true;
}

bool ReadChangelogText(const XmlNode* node, ChangelogText& entry) {
    if (!XmlIsNamed(node, "text"))
        return false;
    ReadTextAttribute(node, "language", entry.language);
    // A reused record must not keep the notes of an earlier element without text.
    entry.text.clear();
    Utf8ToWide(node->Text(), entry.text);
    entry.text = UnescapeLineFeeds(entry.text);
    return true;
}

const ChangelogText* FindChangelogText(const Changelog& changelog, const wchar_t* language) {
    if (language == nullptr)
        return nullptr;
    for (const auto& text : changelog.texts) {
        if (text->language == language)
            return text.get();
    }
    return nullptr;
}

bool HasChecksum(const GameVersion& game, const std::wstring& md5) {
    for (const auto& sum : game.checksums) {
        if (sum->md5 == md5)
            return true;
    }
    return false;
}

void SelectInstalledGame(PatchInfo& info, const std::wstring& md5) {
    info.installed_game = nullptr;
    for (const auto& game : info.game_version_list) {
        if (HasChecksum(*game, md5)) {
            info.installed_game = game.get();
            return;
        }
    }
}
