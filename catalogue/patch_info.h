#pragma once
// The catalogue model read from patchinfo.xml. Every list owns its records (each allocated on
// its own, so a pointer into a list stays valid while the list grows); installed_game and
// latest are non-owning pointers into those lists.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct XmlNode;

struct ExeChecksum {
    std::wstring md5;
    std::wstring exe_id;
};

// An offer to build a download from a file the game already has: a zstd frame (as
// "zstd --patch-from=BASE NEW" writes it) that, decoded with base as its referenced prefix,
// gives the download's bytes. Only an offer: the download's own digests decide.
struct DeltaEntry {
    std::wstring url;
    std::int64_t size = 0;
    std::wstring md5;
    // A file of the installed game, relative to the game folder, written like a target.
    std::wstring base;
    std::int64_t base_size = 0;
    std::wstring base_md5;
};

struct DownloadEntry {
    std::wstring url;
    std::wstring target;
    std::wstring md5;
    // Optional: when the catalogue lists it, the file must match it as well as md5. Kept as
    // written, so anything but 64 lower-case hex digits never matches.
    std::wstring sha256;
    // 64 bits, so that patch files of 2 GiB and more can be resumed.
    std::int64_t size = 0;
    // Other places that serve the same bytes (<mirror url="..."/> children, which older
    // launchers ignore), in the catalogue's order, tried after url. Only http:// and https://
    // addresses that fit kMaxUrlLength, hold no blank or control character and are not yet
    // listed are kept, at most kMaxMirrors.
    std::vector<std::wstring> mirrors;
    // The deltas that lead to this file, in document order; the file at url stays the
    // reference and the fall-back.
    std::vector<DeltaEntry> deltas;
};

inline constexpr std::size_t kMaxMirrors = 8;

struct PatchEntry {
    std::vector<std::unique_ptr<DownloadEntry>> download_list;
    std::wstring version;
    std::wstring installer;

    void Clear();
};

struct GameVersion {
    std::wstring latestversion;
    std::wstring name;
    std::vector<std::unique_ptr<ExeChecksum>> checksums;
    std::vector<std::unique_ptr<PatchEntry>> patch_list;
    PatchEntry* latest = nullptr;

    void Clear();
};

struct ChangelogText {
    std::wstring language;
    std::wstring text;
};

struct Changelog {
    std::wstring version;
    std::vector<std::unique_ptr<ChangelogText>> texts;

    void Clear();
};

struct PatchInfo {
    std::vector<std::unique_ptr<GameVersion>> game_version_list;
    std::vector<std::unique_ptr<Changelog>> changelog_list;
    GameVersion* installed_game = nullptr;
    std::wstring patcherversion;
    std::wstring patcherurl;
    std::wstring download_folder;
    std::wstring launcher_version;
    std::wstring installed_version;

    // Empties the lists and the file's attributes, and drops installed_game, which pointed into
    // the emptied list; the fields that do not come from the file are left alone.
    void Clear();
};

// The maker's support web page, used for patcherurl when the catalogue gives none.
const std::wstring& DefaultSupportUrl();

// Readers: each fills the record from the node (null allowed) and returns whether it is valid.
bool ReadPatchInfo(const XmlNode* node, PatchInfo& info);
bool ReadGameVersion(const XmlNode* node, GameVersion& game);
bool ReadExeChecksum(const XmlNode* node, ExeChecksum& sum);
bool ReadPatchEntry(const XmlNode* node, PatchEntry& patchEntry);
bool ReadDownloadEntry(const XmlNode* node, DownloadEntry& entry);
// Whether url may stand as a mirror of entry (see DownloadEntry::mirrors).
bool IsUsableMirror(const DownloadEntry& entry, const std::wstring& url);
// False for a child that is no delta or one that cannot be used (an address, sizes and MD5
// digests missing or malformed): the parent drops it and keeps the full file.
bool ReadDeltaEntry(const XmlNode* node, DeltaEntry& delta);
bool ReadChangelog(const XmlNode* node, Changelog& log);
bool ReadChangelogText(const XmlNode* node, ChangelogText& entry);

// Queries on the finished model; whole-string, case-sensitive, in document order.
const ChangelogText* FindChangelogText(const Changelog& changelog, const wchar_t* language);
bool HasChecksum(const GameVersion& game, const std::wstring& md5);
void SelectInstalledGame(PatchInfo& info, const std::wstring& md5);
