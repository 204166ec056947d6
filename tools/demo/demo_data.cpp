#include "tools/demo/demo_data.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "catalogue/version_compare.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"
#include "tools/publish/build.h"
#include "transfer/md5.h"

namespace fs = std::filesystem;

namespace {

// Left in the root of every sandbox: only a folder carrying it is ever emptied by a reset.
constexpr const char* kMarkerName = ".velmora-demo-sandbox";

// The launcher builds its paths in 260-character buffers. The longest path below the root is
// the download folder with the longest target; keep well clear of the limit so the demo never
// fails for a reason that has nothing to do with what it shows.
constexpr std::size_t kMaxRootLength = 180;

constexpr const char* kInstalledVersion = "1.0.0.0";
constexpr const char* kOtherReleaseVersion = "1.1.0.0";
constexpr const char* kLatestVersion = "1.2.0.0";

constexpr const char* kInstallerTarget = "velmora2_patch_1.2.0.0.exe";
constexpr const char* kPatchedExeTarget = "velmora2.exe";
constexpr const char* kWorldTarget = "velmora2_world_1.2.0.0.pak";
constexpr const char* kSoundTarget = "velmora2_sound_1.2.0.0.pak";
constexpr const char* kPatchFolder = "patches/1.2.0.0";
// The installed game's world data, the base of the patch's world file.
constexpr const char* kInstalledWorld = "data/velmora2_world.pak";

using Bytes = std::vector<unsigned char>;

// Archive contents: the same name always gives the same bytes, so a file left half-downloaded
// by an earlier run is resumed against identical data and its digest still comes out right.
Bytes FillerBytes(const std::string& seedName, std::size_t count) {
    std::uint64_t state = 1469598103934665603ull;
    for (unsigned char ch : seedName)
        state = (state ^ ch) * 1099511628211ull;
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; i += 8) {
        // splitmix64
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t k = 0; k < 8 && i + k < count; ++k)
            bytes[i + k] = static_cast<unsigned char>(z >> (8 * k));
    }
    return bytes;
}

// The 1.0.0.0 world data the sandbox's game holds: the 1.2.0.0 file with one run of 64 bytes
// in every 6400 different, so the patch's delta for it is a small share of the file.
Bytes InstalledWorld(Bytes bytes) {
    for (std::size_t at = 97; at + 64 < bytes.size(); at += 6400)
        for (std::size_t i = 0; i < 64; ++i)
            bytes[at + i] = static_cast<unsigned char>(bytes[at + i] ^ (0x5A + i));
    return bytes;
}

std::string Md5Of(const Bytes& bytes) {
    CMD5Wrapper md5;
    return md5.hashOfText(std::string(bytes.begin(), bytes.end()));
}

Bytes PeBytes(const std::string& version, const std::wstring& product,
              const std::wstring& description, Bytes overlay) {
    PeOptions options;
    PeVersion parsed{};
    ParseFileVersion(Utf8ToWide(version), parsed);
    options.fileVersion = parsed;
    options.productVersion = parsed;
    options.productName = product;
    options.fileDescription = description;
    options.overlay = std::move(overlay);
    return BuildPeImage(options);
}

bool WriteBytes(const fs::path& path, const Bytes& bytes, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool WriteText(const fs::path& path, const std::string& text, std::string& error) {
    return WriteBytes(path, Bytes(text.begin(), text.end()), error);
}

bool MakeFolder(const fs::path& path, std::string& error) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path, ec)) {
        error = "cannot create the folder " + path.string();
        return false;
    }
    return true;
}

// Makes root a sandbox folder: created when missing, emptied on reset. A folder that holds
// anything and is not marked as a sandbox is never touched: a mistyped --sandbox must not cost
// anyone their files.
bool PrepareRoot(const fs::path& root, bool reset, std::string& error) {
    std::error_code ec;
    const fs::path marker = root / kMarkerName;
    if (fs::exists(root, ec)) {
        if (!fs::is_directory(root, ec)) {
            error = root.string() + " exists and is not a folder";
            return false;
        }
        const bool isSandbox = fs::exists(marker, ec);
        const bool isEmpty = fs::is_empty(root, ec) && !ec;
        if (!isSandbox && !isEmpty) {
            error = root.string() + " is neither empty nor a demo sandbox; choose another folder";
            return false;
        }
        if (isSandbox && reset) {
            for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator();
                 it.increment(ec)) {
                std::error_code removeError;
                fs::remove_all(it->path(), removeError);
                if (removeError) {
                    error = "cannot remove " + it->path().string();
                    return false;
                }
            }
            if (ec) {
                error = "cannot list " + root.string();
                return false;
            }
        }
    }
    if (!MakeFolder(root, error))
        return false;
    return WriteText(marker, "A Velmora II demo sandbox; velmora-demo-server --reset empties it.\n",
                     error);
}

struct ReleaseNote {
    const char* version;
    const char* language;
    const char* text;  // one line; "\n" pairs become the line breaks
};

// 1.1.0.0 exists in all three languages, 1.2.0.0 in English and French only: a German player
// sees German notes for 1.1.0.0 and the English ones for 1.2.0.0. The 1.0.0.0 notes are never
// shown to the installed 1.0.0.0 game.
const ReleaseNote kReleaseNotes[] = {
    {"1.0.0.0", "English", "First release of Velmora II."},
    {"1.1.0.0", "English",
     "- New region: the Ashen Marches\\n- Saved games load twice as fast\\n- Fixed a crash when "
     "leaving the harbour at night"},
    {"1.1.0.0", "French",
     "- Nouvelle région : les Marches cendrées\\n- Les parties sauvegardées se chargent deux fois "
     "plus vite\\n- Correction d'un plantage en quittant le port de nuit"},
    {"1.1.0.0", "German",
     "- Neue Region: die Aschenmark\\n- Spielstände laden doppelt so schnell\\n- Absturz beim "
     "nächtlichen Verlassen des Hafens behoben"},
    {"1.2.0.0", "English",
     "- Co-operative campaign for two players\\n- Rebalanced the blacksmith's prices\\n- "
     "Launcher: interrupted downloads resume where they stopped"},
    {"1.2.0.0", "French",
     "- Campagne coopérative pour deux joueurs\\n- Prix du forgeron rééquilibrés\\n- Lanceur : "
     "les téléchargements interrompus reprennent là où ils s'étaient arrêtés"},
};

// A TOML basic string: the description carries the base URL as the caller gave it.
std::string TomlString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\u00";
            out += kHex[(ch >> 4) & 0x0F];
            out += kHex[ch & 0x0F];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string TomlList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : ", ") + TomlString(items[i]);
    return out + "]";
}

// What a release engineer writes by hand; velmora-publish build does the rest.
std::string DescriptionText(const DemoOptions& options, const std::vector<std::string>& boxedFiles,
                            const std::vector<std::string>& digitalFiles) {
    std::string toml =
        "# The demo's catalogue as a release engineer describes it (written by the demo\n"
        "# generator). velmora-publish build turns it, the executables below releases/, the\n"
        "# patch files below ../server/patches/ and the notes below notes/ into\n"
        "# ../server/patchinfo.xml; every digest, size and address comes from the files.\n";
    toml += "base_url = " + TomlString(options.baseUrl) + "\n";
    toml += "served_folder = \"../server\"\n";
    toml += "notes_folder = \"notes\"\n";
    toml += "patcherversion = " + TomlString(options.patcherVersion) + "\n";
    toml += "patcherurl = " + TomlString(options.baseUrl + "launcher.html") + "\n";
    toml +=
        "\n# The release installed in the sandbox. The patched executable is listed too, so a\n"
        "# patched game is recognised as this release, already up to date.\n";
    toml += "[[release]]\n";
    toml += "name = \"Velmora II (boxed edition)\"\n";
    toml += "latestversion = " + TomlString(kLatestVersion) + "\n";
    toml += "executables = [\"releases/boxed-" + std::string(kInstalledVersion) +
            "/velmora2.exe\", \"releases/boxed-" + std::string(kLatestVersion) +
            "/velmora2.exe\"]\n";
    toml += "\n[[release.patch]]\n";
    toml += "version = " + TomlString(kLatestVersion) + "\n";
    toml += "installer = " + TomlString(kInstallerTarget) + "\n";
    toml +=
        "# From folder patches/<version> below served_folder; without a list, all of its files.\n";
    toml += "files = " + TomlList(boxedFiles) + "\n";
    toml += "\n# Players of 1.0.0.0 fetch these two as deltas from what their game folder holds.\n";
    toml += "[[release.patch.delta]]\n";
    toml += "file = " + TomlString(kPatchedExeTarget) + "\n";
    toml += "base = \"bin/velmora2.exe\"\n";
    toml += "from = [\"games/boxed-" + std::string(kInstalledVersion) + "\"]\n";
    toml += "\n[[release.patch.delta]]\n";
    toml += "file = " + TomlString(kWorldTarget) + "\n";
    toml += "base = " + TomlString(kInstalledWorld) + "\n";
    toml += "from = [\"games/boxed-" + std::string(kInstalledVersion) + "\"]\n";
    toml += "\n# A release the demo machine does not have: nothing of it is ever offered here.\n";
    toml += "[[release]]\n";
    toml += "name = \"Velmora II (digital edition)\"\n";
    toml += "latestversion = " + TomlString(kLatestVersion) + "\n";
    toml += "executables = [{ path = \"releases/digital-" + std::string(kOtherReleaseVersion) +
            "/velmora2.exe\", exe_id = \"digital-" + std::string(kOtherReleaseVersion) + "\" }]\n";
    toml += "\n[[release.patch]]\n";
    toml += "version = " + TomlString(kLatestVersion) + "\n";
    toml += "installer = " + TomlString(kInstallerTarget) + "\n";
    toml += "files = " + TomlList(digitalFiles) + "\n";
    return toml;
}

// The notes as text files, one per version and language, with real line breaks.
bool WriteReleaseNotes(const fs::path& folder, std::string& error) {
    for (const ReleaseNote& note : kReleaseNotes) {
        std::string text = note.text;
        for (std::size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at))
            text.replace(at, 2, "\n");
        const fs::path versionFolder = folder / note.version;
        if (!MakeFolder(versionFolder, error) ||
            !WriteText(versionFolder / (std::string(note.language) + ".txt"), text + "\n", error))
            return false;
    }
    return true;
}

const char kLauncherPage[] =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Velmora II Launcher</title>"
    "</head>\n<body><h1>Velmora II Launcher</h1>\n<p>This is where a newer launcher would be "
    "downloaded from. The demo has none to give.</p></body></html>\n";

// The catalogue, by the same code as `velmora-publish build` over the description. Any error
// stops the demo: a catalogue the launcher would trip over shows nothing worth seeing.
bool PublishCatalogue(DemoSandbox& box, std::string& error) {
    std::vector<Finding> findings;
    std::string catalogue;
    fs::path target;
    if (!BuildFromDescription(box.descriptionFile, false, catalogue, target, findings)) {
        error = "velmora-publish build refuses the demo's description:";
        for (const Finding& finding : findings) {
            if (finding.severity == Severity::kError)
                error += "\n  " + FormatFinding(finding, box.descriptionFile.string());
        }
        return false;
    }
    if (!WriteCatalogueFile(target, catalogue, error))
        return false;
    box.catalogueText = std::move(catalogue);
    return true;
}

}  // namespace

std::vector<unsigned char> DemoGameExecutable(const std::string& version) {
    return PeBytes(version, L"Velmora II", L"Velmora II", {});
}

std::string DemoLanguageName(const std::string& code) {
    std::string lower;
    for (char ch : code)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower == "en" || lower == "english")
        return "English";
    if (lower == "fr" || lower == "french")
        return "French";
    if (lower == "de" || lower == "german")
        return "German";
    return {};
}

bool WriteDemoProfile(const fs::path& dataHome, const std::string& language, std::string& error) {
    const fs::path folder = dataHome / "Velmora 2" / "Profile";
    if (!MakeFolder(folder, error))
        return false;
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n  <pointer>\n"
        "    <Registry>\n      <Language value=\"" +
        EscapeXml(language, true) + "\"/>\n    </Registry>\n  </pointer>\n</root>\n";
    return WriteText(folder / "Registry.xml", xml, error);
}

bool DemoSandbox::Create(const fs::path& folder, const DemoOptions& options, DemoSandbox& out,
                         std::string& error) {
    error.clear();
    if (options.baseUrl.empty() || options.baseUrl.back() != '/') {
        error = "the base URL must end in '/'";
        return false;
    }
    if (options.partBytes < 1024) {
        error = "the data files must be at least 1024 bytes";
        return false;
    }
    std::error_code ec;
    fs::path root = fs::absolute(folder, ec).lexically_normal();
    if (ec || root.empty()) {
        error = "cannot make " + folder.string() + " absolute";
        return false;
    }
    if (root.has_filename() == false)
        root = root.parent_path();
    if (root.string().size() > kMaxRootLength) {
        error = "the sandbox path is longer than " + std::to_string(kMaxRootLength) +
                " characters; the launcher's paths would not fit";
        return false;
    }
    if (!PrepareRoot(root, options.reset, error))
        return false;

    DemoSandbox box;
    box.root = root;
    box.gameFolder = root / "game";
    box.gameExe = root / "game" / "bin" / "velmora2.exe";
    box.serverFolder = root / "server";
    box.downloadFolder = root / "downloads";
    box.dataHome = root / "data";
    box.runtimeFolder = root / "run";
    box.profileFile = box.dataHome / "Velmora 2" / "Profile" / "Registry.xml";
    box.runnerLog = root / "runner.log";
    box.baseUrl = options.baseUrl;
    box.installedVersion = kInstalledVersion;
    box.latestVersion = kLatestVersion;
    box.installer = kInstallerTarget;
    box.patchedExeTarget = kPatchedExeTarget;

    for (const fs::path& path : {box.gameExe.parent_path(), box.serverFolder / kPatchFolder,
                                 box.downloadFolder, box.dataHome, box.runtimeFolder}) {
        if (!MakeFolder(path, error))
            return false;
    }
    // The launcher keeps its single-instance lock here; a runtime folder is the user's alone.
    fs::permissions(box.runtimeFolder, fs::perms::owner_all, fs::perm_options::replace, ec);

    const Bytes installedExe = DemoGameExecutable(kInstalledVersion);
    const Bytes patchedExe = DemoGameExecutable(kLatestVersion);
    box.installedMd5 = Md5Of(installedExe);
    box.patchedMd5 = Md5Of(patchedExe);
    const Bytes otherReleaseExe =
        PeBytes(kOtherReleaseVersion, L"Velmora II Digital Edition", L"Velmora II", {});
    box.otherReleaseMd5 = Md5Of(otherReleaseExe);
    if (!fs::exists(box.gameExe, ec) && !WriteBytes(box.gameExe, installedExe, error))
        return false;
    const Bytes installedWorld = InstalledWorld(FillerBytes(kWorldTarget, options.partBytes));
    const fs::path gameWorld = box.gameFolder / kInstalledWorld;
    if (!fs::exists(gameWorld, ec) && (!MakeFolder(gameWorld.parent_path(), error) ||
                                       !WriteBytes(gameWorld, installedWorld, error)))
        return false;

    struct Part {
        const char* target;
        Bytes bytes;
        bool corrupt;
    };
    std::vector<Part> parts;
    parts.push_back({kInstallerTarget,
                     PeBytes(kLatestVersion, L"Velmora II", L"Velmora II Patch 1.2.0.0 Setup",
                             FillerBytes(kInstallerTarget, options.partBytes / 4)),
                     false});
    parts.push_back({kWorldTarget, FillerBytes(kWorldTarget, options.partBytes), false});
    parts.push_back({kSoundTarget, FillerBytes(kSoundTarget, options.partBytes), options.corrupt});
    parts.push_back({kPatchedExeTarget, patchedExe, false});

    std::vector<std::string> boxedFiles;
    std::vector<std::string> digitalFiles;
    for (const Part& part : parts) {
        DemoFile file;
        file.target = part.target;
        file.url = options.baseUrl + kPatchFolder + "/" + part.target;
        file.md5 = Md5Of(part.bytes);
        file.size = static_cast<std::int64_t>(part.bytes.size());
        file.served = box.serverFolder / kPatchFolder / part.target;
        file.corrupt = part.corrupt;
        // The sound bytes first: the catalogue is built from what the server should hold.
        if (!WriteBytes(file.served, part.bytes, error))
            return false;
        boxedFiles.push_back(part.target);
        // The other release only needs the installer and the executable.
        if (file.target == kInstallerTarget || file.target == kPatchedExeTarget)
            digitalFiles.push_back(part.target);
        box.patchFiles.push_back(std::move(file));
    }

    // What the release engineer keeps beside the server's files: the executables of each
    // release, the notes, and the description that velmora-publish builds the catalogue from.
    const fs::path publish = root / "publish";
    const std::pair<std::string, Bytes> releaseExes[] = {
        {std::string("boxed-") + kInstalledVersion, installedExe},
        {std::string("boxed-") + kLatestVersion, patchedExe},
        {std::string("digital-") + kOtherReleaseVersion, otherReleaseExe},
    };
    for (const auto& [name, bytes] : releaseExes) {
        const fs::path folder = publish / "releases" / name;
        if (!MakeFolder(folder, error) || !WriteBytes(folder / "velmora2.exe", bytes, error))
            return false;
    }
    // The installed 1.0.0.0 game as the release engineer keeps it, the bases of the deltas.
    const fs::path oldGame = publish / "games" / (std::string("boxed-") + kInstalledVersion);
    if (!MakeFolder(oldGame / "bin", error) || !MakeFolder(oldGame / "data", error) ||
        !WriteBytes(oldGame / "bin" / "velmora2.exe", installedExe, error) ||
        !WriteBytes(oldGame / kInstalledWorld, installedWorld, error))
        return false;
    if (!WriteReleaseNotes(publish / "notes", error))
        return false;
    box.descriptionFile = publish / kDescriptionFileName;
    if (!WriteText(box.descriptionFile, DescriptionText(options, boxedFiles, digitalFiles), error))
        return false;
    if (!PublishCatalogue(box, error))
        return false;

    // Same size, different bytes: only the digest can tell, as with a flipped bit on a disk.
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!parts[i].corrupt)
            continue;
        Bytes bytes = parts[i].bytes;
        bytes[bytes.size() / 2] ^= 0xFF;
        if (!WriteBytes(box.patchFiles[i].served, bytes, error))
            return false;
    }

    if (!WriteText(box.serverFolder / "launcher.html", kLauncherPage, error))
        return false;
    if (!options.language.empty() && !WriteDemoProfile(box.dataHome, options.language, error))
        return false;

    out = std::move(box);
    return true;
}
