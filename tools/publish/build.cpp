#include "tools/publish/build.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "app/file_version.h"
#include "catalogue/version_compare.h"
#include "platform/platform.h"
#include "text/failure.h"
#include "text/limits.h"
#include "text/utf8.h"
#include "tools/publish/delta_maker.h"
#include "tools/publish/file_digest.h"
#include "tools/publish/lint.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotesExtension = ".txt";

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            extra = 1;
            code = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            extra = 2;
            code = byte & 0x0F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            extra = 3;
            code = byte & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// XML 1.0 has no way at all to carry these.
bool HasForbiddenControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto byte = static_cast<unsigned char>(ch);
        return byte < 0x20 && ch != '\t' && ch != '\n' && ch != '\r';
    });
}

std::string Attribute(std::string_view name, std::string_view value) {
    return " " + std::string(name) + "=\"" + EscapeXml(value, true) + "\"";
}

// A path below the served folder as it goes into a URL: every byte outside the unreserved
// set percent-encoded, the separators kept.
std::string UrlPath(const fs::path& relative) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : relative.generic_string()) {
        const auto byte = static_cast<unsigned char>(ch);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || ch == '-' || ch == '.' || ch == '_' || ch == '~' ||
            ch == '/') {
            out += ch;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// The catalogue's targets are written for Windows, where the launcher began.
std::string WindowsTarget(const fs::path& relative) {
    std::string target = relative.generic_string();
    std::replace(target.begin(), target.end(), '/', '\\');
    return target;
}

bool IsInside(const fs::path& folder, const fs::path& path, fs::path& relative) {
    relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

struct BuiltDelta {
    std::string url;
    std::string base;  // as the catalogue writes it
    FileDigest digest;
    FileDigest baseDigest;
};

struct BuiltDownload {
    std::string url;
    std::vector<std::string> mirrors;
    std::string target;
    FileDigest digest;
    std::vector<BuiltDelta> deltas;
};

struct BuiltPatch {
    std::string version;
    std::string installer;
    std::vector<BuiltDownload> downloads;
};

struct BuiltChecksum {
    std::string md5;
    std::string exeId;
};

struct BuiltRelease {
    std::string name;
    std::string latestversion;
    std::vector<BuiltChecksum> checksums;
    std::vector<BuiltPatch> patches;
};

struct BuiltNote {
    std::string language;
    std::string text;  // one line, line breaks written as backslash-n
};

struct BuiltChangelog {
    std::string version;
    std::vector<BuiltNote> notes;
};

class CatalogueBuilder {
  public:
    CatalogueBuilder(const Description& description, std::vector<Finding>& findings)
        : m_description(description), m_findings(findings) {}

    bool Run(std::string& catalogue);

  private:
    void Add(Severity severity, std::uint64_t line, std::string code, std::string message,
             std::string file = {}) {
        if (severity == Severity::kError)
            m_failed = true;
        m_findings.push_back(
            Finding{severity, line, std::move(code), std::move(message), std::move(file)});
    }
    // Digests each file once, however many patches list it.
    const FileDigest* Digest(const fs::path& file, std::uint64_t line);
    // A file reached through a link that leads out of served_folder is served, if at all, only
    // by a server that follows such links; the launcher's download then depends on that.
    void WarnIfLinkedOutside(const fs::path& file, std::uint64_t line);
    // A name that goes into the catalogue must be UTF-8 that XML can carry.
    bool CheckName(const std::string& text, std::uint64_t line, const std::string& what);
    void BuildRelease(const DescribedRelease& described);
    bool BuildPatch(const DescribedPatch& described, BuiltPatch& patch);
    void BuildDeltas(const DescribedPatch& described, BuiltPatch& patch);
    void BuildNotes();
    std::string Write() const;

    const Description& m_description;
    std::vector<Finding>& m_findings;
    bool m_failed = false;
    std::map<fs::path, FileDigest> m_digests;
    std::vector<BuiltRelease> m_releases;
    std::vector<BuiltChangelog> m_changelogs;
};

const FileDigest* CatalogueBuilder::Digest(const fs::path& file, std::uint64_t line) {
    const auto known = m_digests.find(file);
    if (known != m_digests.end())
        return &known->second;
    FileDigest digest;
    std::string error;
    if (!DigestFile(file, digest, error)) {
        Add(Severity::kError, line, "file-unreadable", error);
        return nullptr;
    }
    return &m_digests.emplace(file, digest).first->second;
}

void CatalogueBuilder::WarnIfLinkedOutside(const fs::path& file, std::uint64_t line) {
    std::error_code ec;
    const fs::path served = fs::weakly_canonical(m_description.servedFolder, ec);
    const fs::path target = ec ? fs::path() : fs::weakly_canonical(file, ec);
    fs::path relative;
    if (ec || IsInside(served, target, relative))
        return;
    Add(Severity::kWarning, line, "file-link-outside",
        file.string() + " is a link to " + target.string() +
            ", outside served_folder: a server that keeps to its folder answers 404 for it");
}

bool CatalogueBuilder::CheckName(const std::string& text, std::uint64_t line,
                                 const std::string& what) {
    if (IsValidUtf8(text) && !HasForbiddenControl(text))
        return true;
    Add(Severity::kError, line, "text-encoding",
        what + " is not UTF-8 text that XML can carry (control characters or bad bytes)");
    return false;
}

bool CatalogueBuilder::Run(std::string& catalogue) {
    const Description& d = m_description;
    CheckName(d.patcherversion, 0, "patcherversion");
    CheckName(d.patcherurl, 0, "patcherurl");
    std::error_code ec;
    if (!fs::is_directory(d.servedFolder, ec)) {
        Add(Severity::kError, 0, "folder-missing",
            "served_folder " + d.servedFolder.string() + " is not a folder");
        return false;
    }
    for (const DescribedRelease& release : d.releases)
        BuildRelease(release);
    BuildNotes();
    if (m_failed)
        return false;
    catalogue = Write();
    return true;
}

void CatalogueBuilder::BuildRelease(const DescribedRelease& described) {
    BuiltRelease release;
    release.name = described.name;
    release.latestversion = described.latestversion;
    CheckName(release.name, described.line, "the release name");
    CheckName(release.latestversion, described.line, "latestversion");
    const std::string what = "release '" + described.name + "'";

    if (described.executables.empty()) {
        Add(Severity::kWarning, described.line, "no-checksums",
            what + " lists no executable: no installed game is ever recognised as it");
    }
    for (const DescribedExecutable& exe : described.executables) {
        const FileDigest* digest = Digest(exe.path, exe.line);
        if (digest == nullptr)
            continue;
        // The launcher's own reader, so the version seen here is the one it will see. The path
        // goes over as the launcher takes paths, byte for byte: the C locale's wide conversion
        // would refuse a folder whose name is not ASCII.
        const std::string version = WideToUtf8(
            std::wstring_view(ReadFileVersion(Utf8ToWide(std::string_view(exe.path.native())))));
        const std::string shown = exe.path.filename().string();
        if (version.empty()) {
            Add(Severity::kWarning, exe.line, "exe-no-version",
                exe.path.string() +
                    " has no file version the launcher can read: its installed "
                    "version shows empty and never counts as up to date");
        } else if (CompareVersions(Utf8ToWide(version), Utf8ToWide(described.latestversion)) > 0) {
            Add(Severity::kWarning, exe.line, "exe-newer",
                exe.path.string() + " has file version " + version +
                    ", newer than the latestversion " + described.latestversion + " of " + what +
                    ": the launcher offers it the patch back to that version");
        }
        BuiltChecksum checksum;
        checksum.md5 = digest->md5;
        checksum.exeId = !exe.exeId.empty() ? exe.exeId : !version.empty() ? version : shown;
        CheckName(checksum.exeId, exe.line, "exe_id");
        release.checksums.push_back(std::move(checksum));
    }

    for (const DescribedPatch& patchDescription : described.patches) {
        BuiltPatch patch;
        if (BuildPatch(patchDescription, patch))
            release.patches.push_back(std::move(patch));
    }
    m_releases.push_back(std::move(release));
}

bool CatalogueBuilder::BuildPatch(const DescribedPatch& described, BuiltPatch& patch) {
    patch.version = described.version;
    patch.installer = described.installer;
    CheckName(patch.version, described.line, "the patch version");
    CheckName(patch.installer, described.line, "the installer");
    const std::string what = "patch '" + described.version + "'";

    fs::path below;
    if (!IsInside(m_description.servedFolder, described.folder, below)) {
        Add(Severity::kError, described.line, "folder-not-served",
            "the folder of " + what + " (" + described.folder.string() +
                ") is not below served_folder: its files would have no address");
        return false;
    }
    std::error_code ec;
    if (!fs::is_directory(described.folder, ec)) {
        Add(Severity::kError, described.line, "folder-missing",
            "the folder of " + what + " (" + described.folder.string() + ") is not a folder");
        return false;
    }

    std::vector<fs::path> files;
    if (described.files.empty()) {
        // Every file of the folder and its sub-folders, in byte order of the path; names that
        // begin with a dot are the file system's or an editor's, never a patch's.
        for (auto it = fs::recursive_directory_iterator(described.folder, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (!name.empty() && name[0] == '.') {
                if (it->is_directory(ec))
                    it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(ec))
                files.push_back(it->path().lexically_relative(described.folder));
        }
        if (ec) {
            Add(Severity::kError, described.line, "folder-unreadable",
                "cannot list " + described.folder.string() + ": " + ec.message());
            return false;
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            return a.generic_string() < b.generic_string();
        });
    } else {
        for (const std::string& name : described.files) {
            const fs::path relative = fs::path(name).lexically_normal();
            fs::path inside;
            if (relative.is_absolute() ||
                !IsInside(described.folder, described.folder / relative, inside)) {
                Add(Severity::kError, described.line, "file-outside",
                    "'" + name + "' of " + what + " is not a file below its folder");
                continue;
            }
            if (!fs::is_regular_file(described.folder / relative, ec)) {
                Add(Severity::kError, described.line, "file-missing",
                    "'" + name + "' of " + what + " is not a file in " + described.folder.string());
                continue;
            }
            files.push_back(relative);
        }
    }
    if (files.empty()) {
        Add(Severity::kError, described.line, "patch-empty", what + " has no file to download");
        return false;
    }

    bool installerListed = false;
    for (const fs::path& relative : files) {
        const fs::path file = described.folder / relative;
        BuiltDownload download;
        download.target = WindowsTarget(relative);
        download.url = m_description.baseUrl + UrlPath(below / relative);
        for (const std::string& mirror : m_description.mirrorUrls)
            download.mirrors.push_back(mirror + UrlPath(below / relative));
        if (!CheckName(download.target, described.line, "the file name " + relative.string()))
            continue;
        const FileDigest* digest = Digest(file, described.line);
        if (digest == nullptr)
            continue;
        WarnIfLinkedOutside(file, described.line);
        download.digest = *digest;
        installerListed = installerListed || relative.generic_string() == described.installer ||
                          download.target == described.installer;
        patch.downloads.push_back(std::move(download));
    }
    if (!installerListed) {
        Add(Severity::kError, described.line, "installer-not-downloaded",
            "installer '" + described.installer + "' of " + what + " is not one of its files (" +
                described.folder.string() + ")");
    }
    BuildDeltas(described, patch);
    return true;
}

void CatalogueBuilder::BuildDeltas(const DescribedPatch& described, BuiltPatch& patch) {
    for (const DescribedDelta& wanted : described.deltas) {
        const fs::path relative = fs::path(wanted.file).lexically_normal();
        const auto download = std::find_if(
            patch.downloads.begin(), patch.downloads.end(),
            [&](const BuiltDownload& d) { return d.target == WindowsTarget(relative); });
        if (download == patch.downloads.end()) {
            Add(Severity::kError, wanted.line, "delta-file",
                "'" + wanted.file + "' of patch '" + described.version +
                    "' is not one of its files: no delta can lead to it");
            continue;
        }
        const fs::path fresh = described.folder / relative;
        for (const fs::path& game : wanted.from) {
            const fs::path base = (game / fs::path(wanted.base)).lexically_normal();
            const FileDigest* baseDigest = Digest(base, wanted.line);
            if (baseDigest == nullptr)
                continue;
            // Named by the base's digest: one delta per earlier release, stable across builds.
            const fs::path file = m_description.servedFolder / "deltas" / described.version /
                                  (relative.string() + "." + baseDigest->md5.substr(0, 8) + ".zst");
            std::string error;
            FileDigest digest;
            if (!MakeDelta(base, fresh, file, error) || !DigestFile(file, digest, error)) {
                Add(Severity::kError, wanted.line, "delta-make", error);
                continue;
            }
            if (static_cast<double>(digest.size) >
                kDeltaWorthShare * static_cast<double>(download->digest.size)) {
                Add(Severity::kNote, wanted.line, "delta-left-out",
                    "the delta of " + wanted.file + " from " + base.string() + " has " +
                        std::to_string(digest.size) + " of its " +
                        std::to_string(download->digest.size) + " bytes: not offered");
                std::error_code ec;
                fs::remove(file, ec);
                continue;
            }
            fs::path below;
            IsInside(m_description.servedFolder, file, below);
            download->deltas.push_back(BuiltDelta{m_description.baseUrl + UrlPath(below),
                                                  WindowsTarget(fs::path(wanted.base)), digest,
                                                  *baseDigest});
        }
    }
}

// Release notes as a person writes them, into the one line the catalogue holds.
bool NotesLine(std::string text, std::string& line, bool& hadBackslashN) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    if (!IsValidUtf8(text))
        return false;
    std::string unified;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            unified += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            unified += text[i];
        }
    }
    while (!unified.empty() &&
           (unified.back() == '\n' || unified.back() == ' ' || unified.back() == '\t'))
        unified.pop_back();
    if (HasForbiddenControl(unified))
        return false;
    hadBackslashN = unified.find("\\n") != std::string::npos;
    line.clear();
    for (const char ch : unified) {
        if (ch == '\n')
            line += "\\n";
        else
            line += ch;
    }
    return true;
}

void CatalogueBuilder::BuildNotes() {
    const fs::path& folder = m_description.notesFolder;
    if (folder.empty())
        return;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        Add(Severity::kError, 0, "folder-missing",
            "notes_folder " + folder.string() + " is not a folder");
        return;
    }
    std::vector<fs::path> versions;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && it->path().filename().string()[0] != '.')
            versions.push_back(it->path());
    }
    // Oldest first, as a reader of the file expects; equal-comparing texts by their bytes.
    std::sort(versions.begin(), versions.end(), [](const fs::path& a, const fs::path& b) {
        const std::string left = a.filename().string();
        const std::string right = b.filename().string();
        const int order = CompareVersions(Utf8ToWide(left), Utf8ToWide(right));
        return order != 0 ? order < 0 : left < right;
    });
    for (const fs::path& versionFolder : versions) {
        BuiltChangelog changelog;
        changelog.version = versionFolder.filename().string();
        if (!CheckName(changelog.version, 0, "the notes folder name " + changelog.version))
            continue;
        std::vector<fs::path> texts;
        for (auto it = fs::directory_iterator(versionFolder, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file(ec) && it->path().extension() == kNotesExtension)
                texts.push_back(it->path());
        }
        std::sort(texts.begin(), texts.end());
        for (const fs::path& file : texts) {
            std::ifstream in(file, std::ios::binary);
            std::ostringstream content;
            content << in.rdbuf();
            BuiltNote note;
            note.language = file.stem().string();
            bool hadBackslashN = false;
            if (!in || !NotesLine(content.str(), note.text, hadBackslashN)) {
                Add(Severity::kError, 0, "notes-encoding",
                    "cannot read " + file.string() + " as UTF-8 text without control characters",
                    file.string());
                continue;
            }
            if (hadBackslashN) {
                Add(Severity::kWarning, 0, "notes-backslash-n",
                    "the text holds a backslash followed by n, which the launcher shows as a "
                    "line break (there is no way to write it otherwise)",
                    file.string());
            }
            changelog.notes.push_back(std::move(note));
        }
        if (changelog.notes.empty()) {
            Add(Severity::kWarning, 0, "notes-empty",
                "no " + std::string(kNotesExtension) + " file in " + versionFolder.string());
            continue;
        }
        m_changelogs.push_back(std::move(changelog));
    }
}

std::string CatalogueBuilder::Write() const {
    const Description& d = m_description;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<!-- Written by velmora-publish build. Change its description, not this file. -->\n";
    xml += "<patch_info";
    if (!d.patcherversion.empty())
        xml += Attribute("patcherversion", d.patcherversion);
    if (!d.patcherurl.empty())
        xml += Attribute("patcherurl", d.patcherurl);
    xml += ">\n  <game_version_list>\n";
    for (const BuiltRelease& release : m_releases) {
        xml += "    <release" + Attribute("name", release.name) +
               Attribute("latestversion", release.latestversion) + ">\n";
        xml += "      <checksums>\n";
        for (const BuiltChecksum& checksum : release.checksums) {
            xml += "        <checksum" + Attribute("md5", checksum.md5) +
                   Attribute("exe_id", checksum.exeId) + "/>\n";
        }
        xml += "      </checksums>\n      <patch_list>\n";
        for (const BuiltPatch& patch : release.patches) {
            xml += "        <update" + Attribute("version", patch.version) +
                   Attribute("installer", patch.installer) + ">\n";
            xml += "          <download_list>\n";
            for (const BuiltDownload& download : patch.downloads) {
                xml += "            <download" + Attribute("url", download.url) +
                       Attribute("target", download.target) +
                       Attribute("md5", download.digest.md5) +
                       Attribute("sha256", download.digest.sha256) +
                       Attribute("size", std::to_string(download.digest.size));
                if (download.mirrors.empty() && download.deltas.empty()) {
                    xml += "/>\n";
                    continue;
                }
                xml += ">\n";
                for (const std::string& mirror : download.mirrors)
                    xml += "              <mirror" + Attribute("url", mirror) + "/>\n";
                for (const BuiltDelta& delta : download.deltas) {
                    xml += "              <delta" + Attribute("url", delta.url) +
                           Attribute("size", std::to_string(delta.digest.size)) +
                           Attribute("md5", delta.digest.md5) + Attribute("base", delta.base) +
                           Attribute("base_size", std::to_string(delta.baseDigest.size)) +
                           Attribute("base_md5", delta.baseDigest.md5) + "/>\n";
                }
                xml += "            </download>\n";
            }
            xml += "          </download_list>\n        </update>\n";
        }
        xml += "      </patch_list>\n    </release>\n";
    }
    xml += "  </game_version_list>\n  <changelog_list>\n";
    for (const BuiltChangelog& changelog : m_changelogs) {
        xml += "    <changelog" + Attribute("version", changelog.version) + ">\n";
        for (const BuiltNote& note : changelog.notes) {
            xml += "      <text" + Attribute("language", note.language) + ">" +
                   EscapeXml(note.text, false) + "</text>\n";
        }
        xml += "    </changelog>\n";
    }
    xml += "  </changelog_list>\n</patch_info>\n";
    return xml;
}

}  // namespace

std::string EscapeXml(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            // A parser turns a raw tab or line break of an attribute into a blank.
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

bool BuildCatalogue(const Description& description, std::string& catalogue,
                    std::vector<Finding>& findings) {
    std::vector<Finding> own;
    CatalogueBuilder builder(description, own);
    std::string text;
    const bool built = builder.Run(text);
    const bool sound = ExitStatusFor(own, false) == kExitClean;
    findings.insert(findings.end(), own.begin(), own.end());
    if (!built || !sound)
        return false;
    std::vector<Finding> checked = LintCatalogue(text, LintOptions{});
    for (Finding& finding : checked) {
        if (finding.file.empty())
            finding.file = kBuiltCatalogueName;
    }
    const bool clean = ExitStatusFor(checked, false) == kExitClean;
    findings.insert(findings.end(), checked.begin(), checked.end());
    if (!clean)
        return false;
    catalogue = std::move(text);
    return true;
}

bool BuildFromDescription(const fs::path& descriptionFile, bool strict, std::string& catalogue,
                          fs::path& defaultOutput, std::vector<Finding>& findings) {
    Description description;
    if (!ReadDescription(descriptionFile, description, findings))
        return false;
    defaultOutput = description.servedFolder / std::wstring(kCatalogueFileName);
    std::string text;
    if (!BuildCatalogue(description, text, findings))
        return false;
    if (ExitStatusFor(findings, strict) != kExitClean)
        return false;
    catalogue = std::move(text);
    return true;
}

bool WriteCatalogueFile(const fs::path& target, const std::string& catalogue, std::string& error) {
    // The served folder is the publisher's to make; a mistyped one is said, not created.
    std::error_code ec;
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) {
        error = "cannot write " + target.string() + ": no folder " + folder.string();
        return false;
    }
    Failure failure;
    if (!platform::WriteFileAtomically(Utf8ToWide(std::string_view(target.native())), catalogue,
                                       &failure)) {
        error = "cannot replace " + target.string() + ": " + DescribeFailure(failure);
        return false;
    }
    return true;
}
