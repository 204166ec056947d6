#include "tools/publish/lint.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "catalogue/patch_info.h"
#include "catalogue/version_compare.h"
#include "catalogue/xml_tree.h"
#include "text/limits.h"
#include "text/utf8.h"
#include "tools/publish/delta_maker.h"
#include "tools/publish/file_digest.h"
#include "transfer/delta_fetch.h"
#include "transfer/download_path.h"
#include "transfer/file_digests.h"
#include "transfer/transfer_limits.h"

namespace fs = std::filesystem;

namespace {

// The languages the launcher can show; FindChangelogText looks for exactly these names.
constexpr std::string_view kLanguages[] = {"English", "French", "German"};
constexpr std::string_view kFallbackLanguage = "English";

// The encodings Expat reads itself; the launcher reads any other declared name as
// Windows-1252, which is right only when that is what the file is.
constexpr std::string_view kExpatEncodings[] = {"utf-8", "utf-16", "iso-8859-1", "us-ascii"};
constexpr std::string_view kWindows1252Names[] = {"windows-1252", "cp1252", "x-cp1252"};

std::string Narrow(const std::wstring& text) {
    return WideToUtf8(std::wstring_view(text));
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string Quoted(const std::wstring& text) {
    return Quoted(Narrow(text));
}

std::string LineRef(std::uint64_t line) {
    return "line " + std::to_string(line);
}

bool HasAttribute(const XmlNode* node, std::string_view name) {
    const std::uint32_t hash = XmlNameHash(name);
    return std::any_of(
        node->attributes.begin(), node->attributes.end(),
        [hash](const XmlAttribute& attribute) { return attribute.nameHash == hash; });
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

// A target as a path below the download folder (NativeTarget): "." or empty components name
// nothing.
std::string NormalTarget(const std::wstring& target) {
    std::string normal;
    std::string part;
    for (const char ch : Narrow(NativeTarget(target)) + "/") {
        if (ch != '/') {
            part += ch;
            continue;
        }
        if (!part.empty() && part != ".")
            normal += (normal.empty() ? "" : "/") + part;
        part.clear();
    }
    return normal;
}

// Why BuildDownloadPath refuses a target or an installer, in the publisher's words; empty when
// it does not.
std::string RefusalReason(const std::wstring& path) {
    PathRefusal refusal = PathRefusal::kNone;
    std::wstring built;
    BuildDownloadPath(L"", path, built, &refusal);
    switch (refusal) {
        case PathRefusal::kNone:
            return {};
        case PathRefusal::kEmpty:
            return "is empty";
        case PathRefusal::kAbsolute:
            return "is absolute";
        case PathRefusal::kNul:
            return "holds a NUL character";
        case PathRefusal::kClimbsOut:
            return "climbs out of the download folder";
        case PathRefusal::kTooLong:
            return "is too long";
    }
    return {};
}

bool IsPlainDecimal(std::wstring_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](wchar_t ch) { return ch >= L'0' && ch <= L'9'; });
}

// The launcher formats a file version as four numbers from 0 to 65535 ("%d.%d.%d.%d") and
// decides "up to date" by comparing that text with the latest patch's version.
bool IsFileVersionForm(std::wstring_view text) {
    std::array<std::uint16_t, 4> parts{};
    return ParseFileVersion(text, parts);
}

// Whether the decimal digits of text stand for exactly value (no overflow on the way).
bool ReadsAs(const std::string& text, std::int64_t value) {
    std::int64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    return error == std::errc() && end == text.data() + text.size() && parsed == value;
}

// One download as listed, for the checks that look beyond the text. A delta is listed as a
// download of its own too (target: the reserved name it is fetched under), so its address and
// its file are checked like any other.
struct ListedDownload {
    std::uint64_t line = 0;
    DownloadEntry entry;
    bool sizeReadable = false;
};

std::optional<fs::path> FindLocalFile(const fs::path& folder, const DownloadEntry& entry);

// A delta the launcher keeps, with the file it leads to, for the check that applies it.
struct ListedDelta {
    std::uint64_t line = 0;
    DeltaEntry delta;
    DownloadEntry file;
};

class CatalogueLinter {
  public:
    explicit CatalogueLinter(const LintOptions& options) : m_options(options) {}

    std::vector<Finding> Run(std::string_view text);

  private:
    void Add(Severity severity, std::uint64_t line, std::string code, std::string message) {
        m_findings.push_back(Finding{severity, line, std::move(code), std::move(message), {}});
    }

    void CheckBytes(std::string_view& text);
    void CheckDeclaredEncoding(std::string_view text);
    void CheckDocument(const XmlNode* root);
    void CheckRelease(const XmlNode* node, std::size_t index);
    void CheckChecksums(const XmlNode* list, const std::string& release);
    void CheckPatch(const XmlNode* node, const GameVersion& game, const std::string& release);
    void CheckDownload(const XmlNode* node, std::map<std::string, std::uint64_t>& targets,
                       std::map<std::string, std::uint64_t>& foldedTargets);
    void CheckDeltas(const XmlNode* node, const DownloadEntry& entry);
    void CheckAppliedDeltas();
    void CheckChangelogs(const XmlNode* list);
    void CheckVersionText(std::uint64_t line, const std::string& what, const std::wstring& text);
    void CheckDigest(std::uint64_t line, const std::string& what, const std::string& value,
                     std::size_t digits);
    void CheckUrlText(std::uint64_t line, const std::string& what, const std::wstring& url);
    void NoteIgnored(const XmlNode* child, const std::string& where, const std::string& expected);
    void CheckLocalFiles();
    void CheckUrls();

    const LintOptions& m_options;
    std::vector<Finding> m_findings;
    PatchInfo m_info;
    bool m_rejected = false;  // an error already says the launcher refuses the whole catalogue
    // Executable digest -> the release that claimed it first, and where.
    std::map<std::wstring, std::pair<std::string, std::uint64_t>> m_claimedDigests;
    std::vector<ListedDownload> m_downloads;
    std::vector<ListedDelta> m_deltas;
};

std::vector<Finding> CatalogueLinter::Run(std::string_view text) {
    CheckBytes(text);
    CheckDeclaredEncoding(text);

    std::istringstream stream{std::string(text)};
    XmlParseError error;
    std::unique_ptr<XmlNode> root = XmlParse(stream, "", &error);
    if (error.code != 0) {
        Add(Severity::kError, error.line, "xml-malformed",
            "malformed XML: " + error.message + " (column " + std::to_string(error.column + 1) +
                "); the launcher keeps only the elements opened before this point");
    }
    CheckDocument(root.get());

    // The launcher's own verdict on the whole file; the walk above must have said why.
    const bool accepted = ReadPatchInfo(root.get(), m_info);
    if (!accepted && !m_rejected) {
        Add(Severity::kError, 0, "catalogue-rejected",
            "the launcher's reader refuses this catalogue; it starts the game without an offer");
    }

    if (!m_options.filesFolder.empty())
        CheckLocalFiles();
    if (m_options.checkUrls)
        CheckUrls();
    SortFindings(m_findings);
    return std::move(m_findings);
}

void CatalogueLinter::CheckBytes(std::string_view& text) {
    if (text.size() > kMaxMemoryBody) {
        Add(Severity::kError, 0, "catalogue-too-large",
            "the file has " + std::to_string(text.size()) +
                " bytes; the launcher accepts at most " + std::to_string(kMaxMemoryBody) +
                " and gives up on a larger catalogue");
    }
    // The launcher hands the body to the parser as a C string.
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        const auto line = 1 + std::count(text.begin(), text.begin() + nul, '\n');
        Add(Severity::kError, static_cast<std::uint64_t>(line), "nul-byte",
            "a NUL byte: the launcher reads the catalogue only up to here (a UTF-16 file stops "
            "after its first character); write it in UTF-8");
        text = text.substr(0, nul);
    }
}

void CatalogueLinter::CheckDeclaredEncoding(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (text.substr(0, 5) != "<?xml")
        return;
    const std::string_view declaration = text.substr(0, text.find("?>"));
    const std::size_t key = declaration.find("encoding");
    if (key == std::string_view::npos)
        return;
    const std::size_t open = declaration.find_first_of("\"'", key);
    if (open == std::string_view::npos)
        return;
    const std::size_t close = declaration.find(declaration[open], open + 1);
    if (close == std::string_view::npos)
        return;
    const std::string name = Lower(declaration.substr(open + 1, close - open - 1));
    const auto known = [&name](std::string_view candidate) { return candidate == name; };
    if (std::any_of(std::begin(kExpatEncodings), std::end(kExpatEncodings), known) ||
        std::any_of(std::begin(kWindows1252Names), std::end(kWindows1252Names), known))
        return;
    const auto line = 1 + std::count(text.begin(), text.begin() + open, '\n');
    Add(Severity::kWarning, static_cast<std::uint64_t>(line), "encoding-misread",
        "the declared encoding " + Quoted(name) +
            " is not one the parser knows: the launcher reads the file as Windows-1252");
}

void CatalogueLinter::NoteIgnored(const XmlNode* child, const std::string& where,
                                  const std::string& expected) {
    Add(Severity::kWarning, child->line, "element-ignored",
        "this element inside " + where + " is not " + expected + "; the launcher ignores it");
}

void CatalogueLinter::CheckDocument(const XmlNode* root) {
    if (root == nullptr || root->nameHash == 0) {
        m_rejected = true;
        Add(Severity::kError, 0, "no-document",
            "the file holds no element at all; the launcher refuses it");
        return;
    }
    if (!XmlIsNamed(root, "patch_info")) {
        m_rejected = true;
        Add(Severity::kError, root->line, "structure",
            "the document element is not patch_info; the launcher refuses the catalogue");
        return;
    }

    const std::wstring patcherversion = Utf8ToWide(XmlGetAttribute(root, "patcherversion", ""));
    const std::wstring patcherurl = Utf8ToWide(XmlGetAttribute(root, "patcherurl", ""));
    if (patcherversion.empty()) {
        Add(Severity::kWarning, root->line, "patcherversion-missing",
            "patch_info has no patcherversion: the launcher can never tell a player that it is "
            "out of date");
    } else {
        CheckVersionText(root->line, "patcherversion", patcherversion);
    }
    if (patcherurl.empty()) {
        Add(Severity::kWarning, root->line, "patcherurl-missing",
            "patch_info has no patcherurl: a player with an old launcher is sent to " +
                Narrow(DefaultSupportUrl()));
    } else {
        CheckUrlText(root->line, "patcherurl", patcherurl);
    }

    const XmlNode* games = root->Child(0);
    if (!XmlIsNamed(games, "game_version_list")) {
        m_rejected = true;
        Add(Severity::kError, games != nullptr ? games->line : root->line, "structure",
            "the first element inside patch_info must be game_version_list; the launcher "
            "refuses the catalogue");
        return;
    }
    if (games->ChildCount() == 0) {
        Add(Severity::kWarning, games->line, "no-releases",
            "game_version_list lists no release: no game is ever recognised");
    }
    for (std::size_t i = 0; i < games->ChildCount(); ++i)
        CheckRelease(games->Child(i), i);

    const XmlNode* changelogs = root->Child(1);
    if (!XmlIsNamed(changelogs, "changelog_list")) {
        m_rejected = true;
        Add(Severity::kError, changelogs != nullptr ? changelogs->line : games->line, "structure",
            "the second element inside patch_info must be changelog_list (it may be empty); "
            "without it the launcher refuses the catalogue");
    } else {
        CheckChangelogs(changelogs);
    }
    for (std::size_t i = 2; i < root->ChildCount(); ++i)
        NoteIgnored(root->Child(i), "patch_info", "one of its two lists");
}

void CatalogueLinter::CheckRelease(const XmlNode* node, std::size_t index) {
    std::string release = "release " + std::to_string(index + 1);
    const std::string name = XmlGetAttribute(node, "name", "");
    if (!name.empty())
        release = "release " + Quoted(name);

    GameVersion game;
    if (!ReadGameVersion(node, game)) {
        std::string why;
        if (node->ChildCount() != 2)
            why = "it has " + std::to_string(node->ChildCount()) +
                  (node->ChildCount() == 1 ? " element" : " elements") + " inside";
        else if (!XmlIsNamed(node->Child(0), "checksums"))
            why = "its first element is not checksums";
        else
            why = "its second element is not patch_list";
        Add(Severity::kError, node->line, "release-skipped",
            "the launcher skips " + release + ": " + why +
                " (a release holds exactly checksums, then patch_list)");
        return;
    }
    if (name.empty()) {
        Add(Severity::kWarning, node->line, "attribute-missing",
            release + " has no name: the wizard shows an empty release name");
    }
    if (game.latestversion.empty()) {
        Add(Severity::kError, node->line, "attribute-missing",
            release + " has no latestversion: no patch is ever offered to it");
    } else {
        CheckVersionText(node->line, "latestversion of " + release, game.latestversion);
        if (!IsFileVersionForm(game.latestversion)) {
            Add(Severity::kError, node->line, "latest-never-current",
                "latestversion " + Quoted(game.latestversion) +
                    " is not written the way the launcher writes an executable's file version "
                    "(four numbers 0-65535, no leading zeros, as 1.2.0.0): a patched game never "
                    "counts as up to date and is offered the patch again on every start");
        }
    }

    CheckChecksums(node->Child(0), release);

    const XmlNode* patches = node->Child(1);
    for (std::size_t i = 0; i < patches->ChildCount(); ++i)
        CheckPatch(patches->Child(i), game, release);

    // The reader keeps the last patch of the latest version; any earlier one is dead weight.
    std::vector<std::uint64_t> latestLines;
    for (std::size_t i = 0; i < patches->ChildCount(); ++i) {
        PatchEntry patch;
        if (ReadPatchEntry(patches->Child(i), patch) && !patch.version.empty() &&
            patch.version == game.latestversion)
            latestLines.push_back(patches->Child(i)->line);
    }
    for (std::size_t i = 0; i + 1 < latestLines.size(); ++i) {
        Add(Severity::kWarning, latestLines[i], "latest-duplicate",
            release + " has another patch of version " + Quoted(game.latestversion) + " on " +
                LineRef(latestLines.back()) + ": the launcher offers that later one, never this");
    }

    if (!game.latestversion.empty() && game.latest == nullptr) {
        Add(Severity::kError, node->line, "latest-missing",
            release + ": no patch in patch_list has the version " + Quoted(game.latestversion) +
                " (latestversion); the launcher offers it nothing");
    }

    // Versions of one release the launcher cannot tell apart. Every pair is named once.
    std::vector<std::pair<std::wstring, std::uint64_t>> versions;
    if (!game.latestversion.empty())
        versions.emplace_back(game.latestversion, node->line);
    for (std::size_t i = 0; i < patches->ChildCount(); ++i) {
        PatchEntry patch;
        if (ReadPatchEntry(patches->Child(i), patch) && !patch.version.empty())
            versions.emplace_back(patch.version, patches->Child(i)->line);
    }
    std::set<std::pair<std::wstring, std::wstring>> named;
    for (std::size_t i = 0; i < versions.size(); ++i) {
        for (std::size_t j = i + 1; j < versions.size(); ++j) {
            const auto& [a, lineA] = versions[i];
            const auto& [b, lineB] = versions[j];
            if (a == b || CompareVersions(a, b) != 0 ||
                !named.emplace(std::min(a, b), std::max(a, b)).second)
                continue;
            Add(Severity::kWarning, lineB, "version-ambiguous",
                release + ": versions " + Quoted(a) + " (" + LineRef(lineA) + ") and " + Quoted(b) +
                    " are different texts that the launcher compares as equal");
        }
    }
}

void CatalogueLinter::CheckChecksums(const XmlNode* list, const std::string& release) {
    std::size_t accepted = 0;
    for (std::size_t i = 0; i < list->ChildCount(); ++i) {
        const XmlNode* child = list->Child(i);
        ExeChecksum sum;
        if (!ReadExeChecksum(child, sum)) {
            NoteIgnored(child, "checksums", "a checksum");
            continue;
        }
        ++accepted;
        if (!HasAttribute(child, "md5") || sum.md5.empty()) {
            Add(Severity::kError, child->line, "attribute-missing",
                "checksum of " + release + " has no md5: it recognises no game");
            continue;
        }
        CheckDigest(child->line, "md5 of the executable", Narrow(sum.md5), 32);
        const auto [claim, fresh] =
            m_claimedDigests.emplace(sum.md5, std::pair{release, child->line});
        if (fresh)
            continue;
        const auto& [firstRelease, firstLine] = claim->second;
        if (firstRelease == release) {
            Add(Severity::kWarning, child->line, "checksum-duplicate",
                "md5 " + Narrow(sum.md5) + " is listed twice for " + release + " (first on " +
                    LineRef(firstLine) + ")");
        } else {
            Add(Severity::kError, child->line, "checksum-duplicate",
                "md5 " + Narrow(sum.md5) + " is also claimed by " + firstRelease + " (" +
                    LineRef(firstLine) + "); the launcher recognises such a game as " +
                    firstRelease + " only, never as " + release);
        }
    }
    if (accepted == 0) {
        Add(Severity::kWarning, list->line, "no-checksums",
            release + " lists no executable digest: no installed game is ever recognised as it");
    }
}

void CatalogueLinter::CheckPatch(const XmlNode* node, const GameVersion& game,
                                 const std::string& release) {
    PatchEntry patch;
    if (!ReadPatchEntry(node, patch)) {
        Add(Severity::kError, node->line, "patch-skipped",
            "the launcher skips this patch of " + release +
                ": its first element is not download_list");
        return;
    }
    for (std::size_t i = 1; i < node->ChildCount(); ++i)
        NoteIgnored(node->Child(i), "a patch", "its download_list");

    const std::string what =
        "patch " + (patch.version.empty() ? std::string("without version") : Quoted(patch.version));
    if (patch.version.empty()) {
        Add(Severity::kError, node->line, "attribute-missing",
            "a patch of " + release + " has no version: it is never offered");
    } else {
        CheckVersionText(node->line, "patch version", patch.version);
        if (patch.version != game.latestversion) {
            Add(Severity::kNote, node->line, "patch-never-offered",
                what + " of " + release +
                    " is not its latestversion; the launcher only ever "
                    "offers the latest patch");
        }
    }

    std::map<std::string, std::uint64_t> targets;
    std::map<std::string, std::uint64_t> foldedTargets;
    // The targets as the launcher compares them with the installer: as written, '\' read as '/'.
    std::set<std::wstring> writtenTargets;
    const XmlNode* downloads = node->Child(0);
    for (std::size_t i = 0; i < downloads->ChildCount(); ++i) {
        const XmlNode* child = downloads->Child(i);
        if (!XmlIsNamed(child, "download")) {
            NoteIgnored(child, "download_list", "a download");
            continue;
        }
        CheckDownload(child, targets, foldedTargets);
        DownloadEntry entry;
        ReadDownloadEntry(child, entry);
        writtenTargets.insert(NativeTarget(entry.target));
    }

    // A target that another one uses as a folder cannot be both.
    for (const auto& [target, line] : targets) {
        for (std::size_t slash = target.find('/'); slash != std::string::npos;
             slash = target.find('/', slash + 1)) {
            const auto folder = targets.find(target.substr(0, slash));
            if (folder != targets.end()) {
                Add(Severity::kError, line, "target-collision",
                    "target " + Quoted(target) + " needs " + Quoted(folder->first) +
                        " to be a folder, but " + LineRef(folder->second) +
                        " downloads a file of that name");
            }
        }
    }

    if (patch.installer.empty()) {
        Add(Severity::kError, node->line, "attribute-missing",
            what + " of " + release +
                " has no installer: there is nothing to start after the "
                "download");
        return;
    }
    if (const std::string refusal = RefusalReason(patch.installer); !refusal.empty()) {
        Add(Severity::kError, node->line, "path-outside",
            "installer " + Quoted(patch.installer) + " " + refusal +
                "; the launcher refuses to start it");
        return;
    }
    const std::string installer = NormalTarget(patch.installer);
    if (const auto same = targets.find(installer); same != targets.end()) {
        if (writtenTargets.count(NativeTarget(patch.installer)) == 0) {
            Add(Severity::kError, node->line, "installer-not-downloaded",
                "installer " + Quoted(patch.installer) + " names the download on " +
                    LineRef(same->second) +
                    " in other words: the launcher starts only a file named as its download is");
        }
        return;
    }
    const auto folded = foldedTargets.find(Lower(installer));
    if (folded != foldedTargets.end()) {
        Add(Severity::kWarning, node->line, "installer-case",
            "installer " + Quoted(patch.installer) + " matches the download on " +
                LineRef(folded->second) +
                " only when letter case is ignored: it starts on Windows, not elsewhere");
        return;
    }
    Add(Severity::kError, node->line, "installer-not-downloaded",
        "installer " + Quoted(patch.installer) + " of " + what +
            " is not the target of any of its downloads: the launcher cannot start it after the "
            "download");
}

void CatalogueLinter::CheckDownload(const XmlNode* node,
                                    std::map<std::string, std::uint64_t>& targets,
                                    std::map<std::string, std::uint64_t>& foldedTargets) {
    ListedDownload listed;
    listed.line = node->line;
    ReadDownloadEntry(node, listed.entry);
    const DownloadEntry& entry = listed.entry;
    const std::uint64_t line = node->line;

    if (entry.url.empty())
        Add(Severity::kError, line, "attribute-missing", "download has no url");
    else
        CheckUrlText(line, "url", entry.url);

    // A mirror the launcher drops is as good as absent: said where it stands.
    DownloadEntry kept = entry;
    kept.mirrors.clear();
    for (std::size_t i = 0; i < node->ChildCount(); ++i) {
        const XmlNode* child = node->Child(i);
        if (!XmlIsNamed(child, "mirror"))
            continue;
        const std::wstring mirror = Utf8ToWide(XmlGetAttribute(child, "url", ""));
        const bool room = kept.mirrors.size() < kMaxMirrors;
        if (room && IsUsableMirror(kept, mirror)) {
            kept.mirrors.push_back(mirror);
            continue;
        }
        Add(Severity::kWarning, child->line, "mirror-dropped",
            "mirror " + Quoted(Narrow(mirror)) + " is not used by the launcher: " +
                (room ? "not another http:// or https:// address of at most 255 characters "
                        "without blanks"
                      : "it uses the first " + std::to_string(kMaxMirrors) + " mirrors only"));
    }

    if (!HasAttribute(node, "md5") || entry.md5.empty())
        Add(Severity::kError, line, "attribute-missing",
            "download has no md5: the launcher can never accept the file");
    else
        CheckDigest(line, "md5", Narrow(entry.md5), 32);

    if (HasAttribute(node, "sha256"))
        CheckDigest(line, "sha256", Narrow(entry.sha256), 64);

    const std::string size = XmlGetAttribute(node, "size", "");
    if (!HasAttribute(node, "size")) {
        Add(Severity::kError, line, "size-format",
            "download has no size: the launcher reads 0 and treats any file it finds as too big");
    } else if (!IsPlainDecimal(Utf8ToWide(size)) || !ReadsAs(size, entry.size)) {
        Add(Severity::kError, line, "size-format",
            "size " + Quoted(size) + " is not a whole number of bytes; the launcher reads it as " +
                std::to_string(entry.size));
    } else {
        listed.sizeReadable = true;
    }

    if (entry.target.empty()) {
        Add(Severity::kError, line, "attribute-missing",
            "download has no target: the launcher cannot save it");
    } else if (const std::string refusal = RefusalReason(entry.target); !refusal.empty()) {
        Add(Severity::kError, line, "path-outside",
            "target " + Quoted(entry.target) + " " + refusal +
                "; the launcher refuses the download");
    } else if (IsReservedTarget(NativeTarget(entry.target))) {
        Add(Severity::kError, line, "target-reserved",
            "target " + Quoted(entry.target) + " begins with " +
                Quoted(std::wstring(kReservedNamePrefix)) +
                ", the launcher's own names for deltas: it refuses the download");
    } else {
        const std::string normal = NormalTarget(entry.target);
        const auto [same, fresh] = targets.emplace(normal, line);
        if (!fresh) {
            Add(Severity::kError, line, "target-collision",
                "target " + Quoted(entry.target) + " is the same file as the target on " +
                    LineRef(same->second) + ": one download overwrites the other");
        } else {
            const auto [folded, freshFolded] = foldedTargets.emplace(Lower(normal), line);
            if (!freshFolded) {
                Add(Severity::kWarning, line, "target-case-collision",
                    "target " + Quoted(entry.target) + " differs from the target on " +
                        LineRef(folded->second) +
                        " only in letter case: on Windows both are one file");
            }
        }
    }
    const DownloadEntry file = listed.entry;
    m_downloads.push_back(std::move(listed));
    CheckDeltas(node, file);
}

void CatalogueLinter::CheckDeltas(const XmlNode* node, const DownloadEntry& entry) {
    for (std::size_t i = 0; i < node->ChildCount(); ++i) {
        const XmlNode* child = node->Child(i);
        if (!XmlIsNamed(child, "delta"))
            continue;
        const std::uint64_t line = child->line;
        ListedDelta listed{line, {}, entry};
        const bool kept = ReadDeltaEntry(child, listed.delta);
        const DeltaEntry& delta = listed.delta;
        if (delta.url.empty())
            Add(Severity::kError, line, "attribute-missing", "delta has no url");
        else
            CheckUrlText(line, "delta url", delta.url);
        CheckDigest(line, "delta md5", XmlGetAttribute(child, "md5", ""), 32);
        CheckDigest(line, "delta base_md5", XmlGetAttribute(child, "base_md5", ""), 32);
        for (const char* number : {"size", "base_size"}) {
            const std::string text = XmlGetAttribute(child, number, "");
            if (!IsPlainDecimal(Utf8ToWide(text)) ||
                text.find_first_not_of('0') == std::string::npos)
                Add(Severity::kError, line, "delta-size",
                    std::string("delta ") + number + " " + Quoted(text) +
                        " is not a whole number of bytes above 0");
        }
        const std::string refusal = RefusalReason(delta.base);
        if (!refusal.empty())
            Add(Severity::kError, line, "delta-base-path",
                "delta base " + Quoted(delta.base) + " " + refusal +
                    ": the launcher never reads it and fetches the whole file");
        if (!kept) {
            Add(Severity::kError, line, "delta-dropped",
                "the launcher drops this delta and fetches the whole file");
            continue;
        }
        if (entry.size > 0 && delta.size >= entry.size)
            Add(Severity::kWarning, line, "delta-larger",
                "the delta has " + std::to_string(delta.size) + " bytes, the file only " +
                    std::to_string(entry.size) + ": it saves nothing");
        if (!refusal.empty())
            continue;
        ListedDownload asFile;
        asFile.line = line;
        asFile.sizeReadable = true;
        asFile.entry.url = delta.url;
        asFile.entry.md5 = delta.md5;
        asFile.entry.size = delta.size;
        asFile.entry.target = kReservedNamePrefix + delta.md5 + L".zst";
        m_downloads.push_back(std::move(asFile));
        m_deltas.push_back(std::move(listed));
    }
}

// With --files: each delta applied to its base (found by its path below the folder) must give
// the file its download lists.
void CatalogueLinter::CheckAppliedDeltas() {
    for (const ListedDelta& listed : m_deltas) {
        const DeltaEntry& delta = listed.delta;
        const fs::path base = m_options.filesFolder / NormalTarget(delta.base);
        DownloadEntry asFile;
        asFile.url = delta.url;
        const std::optional<fs::path> file = FindLocalFile(m_options.filesFolder, asFile);
        std::error_code ec;
        if (!file || !fs::is_regular_file(base, ec)) {
            Add(Severity::kNote, listed.line, "delta-unchecked",
                "no local " + std::string(file ? "base " + base.string() : "delta file") +
                    ": the delta was not applied");
            continue;
        }
        FileDigest baseDigest;
        std::string error;
        if (!DigestFile(base, baseDigest, error) || Utf8ToWide(baseDigest.md5) != delta.base_md5 ||
            baseDigest.size != delta.base_size) {
            Add(Severity::kError, listed.line, "delta-base",
                base.string() + " is not the base the delta lists (size " +
                    std::to_string(delta.base_size) + ", md5 " + Narrow(delta.base_md5) + ")");
            continue;
        }
        std::string md5, sha256;
        if (!DigestAppliedDelta(base, *file, listed.file.size, md5, sha256, error)) {
            Add(Severity::kError, listed.line, "delta-apply",
                file->string() + " applied to " + base.string() + ": " + error);
            continue;
        }
        if (!MatchEntry(listed.file, FileDigestTexts{Utf8ToWide(md5), Utf8ToWide(sha256)}).All())
            Add(Severity::kError, listed.line, "delta-result",
                file->string() + " applied to " + base.string() + " gives md5 " + md5 +
                    ", not the file the download lists: the launcher fetches it whole");
    }
}

void CatalogueLinter::CheckChangelogs(const XmlNode* list) {
    std::vector<std::pair<std::wstring, std::uint64_t>> versions;
    for (std::size_t i = 0; i < list->ChildCount(); ++i) {
        const XmlNode* node = list->Child(i);
        Changelog log;
        if (!ReadChangelog(node, log)) {
            NoteIgnored(node, "changelog_list", "a changelog");
            continue;
        }
        if (log.version.empty()) {
            Add(Severity::kWarning, node->line, "attribute-missing",
                "changelog has no version: its notes are never shown");
            continue;
        }
        CheckVersionText(node->line, "changelog version", log.version);
        const std::string what = "changelog " + Quoted(log.version);
        for (const auto& [other, otherLine] : versions) {
            if (other == log.version) {
                Add(Severity::kWarning, node->line, "changelog-duplicate",
                    what + " is listed twice (first on " + LineRef(otherLine) +
                        "): both are shown");
            } else if (CompareVersions(other, log.version) == 0) {
                Add(Severity::kWarning, node->line, "version-ambiguous",
                    what + " and changelog " + Quoted(other) + " (" + LineRef(otherLine) +
                        ") are different texts that the launcher compares as equal");
            }
        }
        versions.emplace_back(log.version, node->line);

        std::set<std::wstring> languages;
        for (std::size_t j = 0; j < node->ChildCount(); ++j) {
            const XmlNode* child = node->Child(j);
            ChangelogText text;
            if (!ReadChangelogText(child, text)) {
                NoteIgnored(child, "a changelog", "a text");
                continue;
            }
            const std::string language = Narrow(text.language);
            const bool known = std::find(std::begin(kLanguages), std::end(kLanguages), language) !=
                               std::end(kLanguages);
            if (text.language.empty()) {
                Add(Severity::kWarning, child->line, "attribute-missing",
                    "a text of " + what + " has no language: it is never shown");
            } else if (!known) {
                Add(Severity::kWarning, child->line, "notes-language-unknown",
                    "language " + Quoted(language) + " of " + what +
                        " is none of English, French, German: it is never shown");
            } else if (!languages.insert(text.language).second) {
                Add(Severity::kWarning, child->line, "notes-duplicate",
                    what + " has a second " + language + " text: only the first is shown");
            }
            if (text.text.empty()) {
                Add(Severity::kWarning, child->line, "notes-empty",
                    "the " + (language.empty() ? std::string("text") : language + " text") +
                        " of " + what + " is empty");
            }
        }
        const bool hasFallback = languages.count(Utf8ToWide(kFallbackLanguage)) != 0;
        for (std::string_view language : kLanguages) {
            if (languages.count(Utf8ToWide(language)) != 0)
                continue;
            if (language == kFallbackLanguage) {
                Add(Severity::kWarning, node->line, "notes-english-missing",
                    what +
                        " has no English notes: players of a language it lacks see nothing "
                        "for this version");
            } else {
                Add(Severity::kNote, node->line, "notes-language-missing",
                    what + " has no " + std::string(language) + " notes: " + std::string(language) +
                        " players see " + (hasFallback ? "the English ones" : "none"));
            }
        }
    }
}

void CatalogueLinter::CheckVersionText(std::uint64_t line, const std::string& what,
                                       const std::wstring& text) {
    if (text.size() > kMaxVersionLength) {
        Add(Severity::kWarning, line, "version-format",
            what + " is longer than " + std::to_string(kMaxVersionLength) +
                " characters: the launcher compares only that much of it");
    }
    for (const VersionComponent& component : VersionComponents(text)) {
        if (component.text.empty()) {
            Add(Severity::kWarning, line, "version-format",
                what + " " + Quoted(text) +
                    " has an empty component (a leading, trailing or doubled dot); the launcher "
                    "drops it");
            return;
        }
        if (!IsPlainDecimal(component.text)) {
            Add(Severity::kWarning, line, "version-format",
                what + " " + Quoted(text) + ": component " + Quoted(std::wstring(component.text)) +
                    " is not a plain decimal number; the launcher counts it as " +
                    std::to_string(component.value));
            return;
        }
    }
}

void CatalogueLinter::CheckDigest(std::uint64_t line, const std::string& what,
                                  const std::string& value, std::size_t digits) {
    if (IsDigestText(value, digits))
        return;
    std::string why = "is not " + std::to_string(digits) + " lower-case hexadecimal digits";
    if (IsDigestText(Lower(value), digits))
        why = "is written in upper case";
    Add(Severity::kError, line, "digest-format",
        what + " " + Quoted(value) + " " + why +
            ": the launcher compares digests as text and will never match it");
}

void CatalogueLinter::CheckUrlText(std::uint64_t line, const std::string& what,
                                   const std::wstring& url) {
    const std::string text = Narrow(url);
    const std::string lower = Lower(text);
    if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) {
        Add(Severity::kError, line, "url-scheme",
            what + " " + Quoted(text) + " is not an http:// or https:// address");
        return;
    }
    const bool unencoded = std::any_of(text.begin(), text.end(), [](char ch) {
        const auto byte = static_cast<unsigned char>(ch);
        return byte <= 0x20 || byte >= 0x7F;
    });
    if (unencoded) {
        Add(Severity::kWarning, line, "url-unencoded",
            what + " " + Quoted(text) +
                " holds blanks, control or non-ASCII characters; percent-encode them");
    }
}

// The local file a download stands for: by its target in a download folder, or by the tail of
// its URL's path in a copy of the server's folder (longest tail first).
std::optional<fs::path> FindLocalFile(const fs::path& folder, const DownloadEntry& entry) {
    std::error_code ec;
    if (RefusalReason(entry.target).empty()) {
        const fs::path byTarget = folder / NormalTarget(entry.target);
        if (fs::is_regular_file(byTarget, ec))
            return byTarget;
    }
    const std::string url = Narrow(entry.url);
    const std::size_t scheme = url.find("://");
    const std::size_t pathStart =
        scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    if (pathStart == std::string::npos)
        return std::nullopt;
    const std::size_t pathEnd = url.find_first_of("?#", pathStart);
    const std::string path = url.substr(pathStart, pathEnd - pathStart);
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (part == "..")
                return std::nullopt;
            if (!part.empty() && part != ".")
                parts.push_back(part);
            part.clear();
        } else if (path[i] == '%' && i + 2 < path.size() &&
                   std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
            part += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            part += path[i];
        }
    }
    for (std::size_t first = 0; first < parts.size(); ++first) {
        fs::path candidate = folder;
        for (std::size_t i = first; i < parts.size(); ++i)
            candidate /= parts[i];
        if (fs::is_regular_file(candidate, ec))
            return candidate;
    }
    return std::nullopt;
}

void CatalogueLinter::CheckLocalFiles() {
    std::map<fs::path, std::pair<bool, FileDigest>> digests;
    for (const ListedDownload& listed : m_downloads) {
        const DownloadEntry& entry = listed.entry;
        if (entry.target.empty())
            continue;
        const std::optional<fs::path> file = FindLocalFile(m_options.filesFolder, entry);
        if (!file) {
            Add(Severity::kWarning, listed.line, "file-missing",
                "no local file for target " + Quoted(entry.target) + " in " +
                    m_options.filesFolder.string() + " (by target or by the URL's path)");
            continue;
        }
        auto known = digests.find(*file);
        if (known == digests.end()) {
            FileDigest digest;
            std::string error;
            const bool read = DigestFile(*file, digest, error);
            if (!read)
                Add(Severity::kError, listed.line, "file-unreadable", error);
            known = digests.emplace(*file, std::pair{read, digest}).first;
        }
        const auto& [read, digest] = known->second;
        if (!read)
            continue;
        const std::string shown = file->string();
        const EntryMatch match =
            MatchEntry(entry, FileDigestTexts{Utf8ToWide(digest.md5), Utf8ToWide(digest.sha256)},
                       listed.sizeReadable ? std::optional(digest.size) : std::nullopt);
        if (!match.size) {
            Add(Severity::kError, listed.line, "file-size",
                shown + " has " + std::to_string(digest.size) + " bytes; the catalogue lists " +
                    std::to_string(entry.size));
        }
        // A listed digest in another form has its own finding already (digest-format).
        if (!match.md5 && IsDigestText(entry.md5, 32)) {
            Add(Severity::kError, listed.line, "file-md5",
                "the MD5 of " + shown + " is " + digest.md5 + ", the catalogue lists " +
                    Narrow(entry.md5) + ": the launcher would refuse the download");
        }
        if (!match.sha256 && IsDigestText(entry.sha256, 64)) {
            Add(Severity::kError, listed.line, "file-sha256",
                "the SHA-256 of " + shown + " is " + digest.sha256 + ", the catalogue lists " +
                    Narrow(entry.sha256));
        }
    }
    CheckAppliedDeltas();
}

// "http://host:port" of an address: what a statement about byte ranges is about.
std::string Origin(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    return url.substr(0, url.find('/', scheme + 3));
}

void CatalogueLinter::CheckUrls() {
    struct ServerTally {
        std::size_t honoured = 0;
        std::size_t ignored = 0;
        std::uint64_t firstIgnoredLine = 0;
    };
    std::map<std::string, UrlProbe> probes;
    std::map<std::string, ServerTally> servers;
    // Every mirror is asked like the main address: the launcher may fetch from any of them.
    std::vector<std::pair<const ListedDownload*, std::string>> addresses;
    for (const ListedDownload& listed : m_downloads) {
        addresses.emplace_back(&listed, Narrow(listed.entry.url));
        for (const std::wstring& mirror : listed.entry.mirrors)
            addresses.emplace_back(&listed, Narrow(mirror));
    }
    for (const auto& [entry, url] : addresses) {
        const ListedDownload& listed = *entry;
        const std::string lower = Lower(url);
        if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0)
            continue;
        auto known = probes.find(url);
        const bool first = known == probes.end();
        if (first)
            known = probes.emplace(url, m_options.probe(url)).first;
        const UrlProbe& probe = known->second;
        if (!probe.answered) {
            if (first)
                Add(Severity::kError, listed.line, "url-unreachable",
                    Quoted(url) + " cannot be fetched: " + probe.failure);
            continue;
        }
        const bool served = probe.status == 200 || probe.status == 206 ||
                            (probe.status == 416 && probe.rangesHonoured);
        if (!served) {
            if (first)
                Add(Severity::kError, listed.line, "url-status",
                    "the server answers " + Quoted(url) + " with HTTP status " +
                        std::to_string(probe.status));
            continue;
        }
        if (first) {
            ServerTally& tally = servers[Origin(probe.finalUrl.empty() ? url : probe.finalUrl)];
            if (probe.rangesHonoured) {
                ++tally.honoured;
            } else if (tally.ignored++ == 0) {
                tally.firstIgnoredLine = listed.line;
            }
        }
        if (probe.size < 0) {
            if (first)
                Add(Severity::kWarning, listed.line, "url-size-unknown",
                    "the server does not say how large " + Quoted(url) + " is");
        } else if (listed.sizeReadable && probe.size != listed.entry.size) {
            Add(Severity::kError, listed.line, "url-size",
                "the server has " + std::to_string(probe.size) + " bytes at " + Quoted(url) +
                    "; the catalogue lists " + std::to_string(listed.entry.size));
        }
    }
    for (const auto& [origin, tally] : servers) {
        const std::size_t total = tally.honoured + tally.ignored;
        if (tally.ignored > 0) {
            Add(Severity::kWarning, tally.firstIgnoredLine, "url-no-ranges",
                origin + " ignores byte ranges for " + std::to_string(tally.ignored) + " of " +
                    std::to_string(total) +
                    " files: an interrupted download cannot resume and starts over");
        } else {
            Add(Severity::kNote, 0, "url-ranges",
                origin + " honours byte ranges (" + std::to_string(total) +
                    (total == 1 ? " file" : " files") + " asked): interrupted downloads resume");
        }
    }

    const std::string patcherurl = Narrow(m_info.patcherurl);
    if (!patcherurl.empty() && patcherurl != Narrow(DefaultSupportUrl())) {
        const UrlProbe probe = m_options.probe(patcherurl);
        if (!probe.answered || probe.status >= 400) {
            Add(Severity::kWarning, 0, "patcherurl-unreachable",
                "patcherurl " + Quoted(patcherurl) + " " +
                    (probe.answered ? "answers with HTTP status " + std::to_string(probe.status)
                                    : "cannot be fetched: " + probe.failure));
        }
    }
}

}  // namespace

std::vector<Finding> LintCatalogue(std::string_view text, const LintOptions& options) {
    CatalogueLinter linter(options);
    return linter.Run(text);
}

std::vector<Finding> LintCatalogueFile(const fs::path& file, const LintOptions& options) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad()) {
        return {
            Finding{Severity::kError, 0, "file-unreadable", "cannot read " + file.string(), {}}};
    }
    return LintCatalogue(text.str(), options);
}
