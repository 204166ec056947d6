#include "tools/publish/build.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/patch_info.h"
#include "catalogue/xml_tree.h"
#include "tests/support/catalogue_xml.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"
#include "tools/publish/lint.h"
#include "transfer/md5.h"

namespace fs = std::filesystem;

namespace {

// SHA-256 of "abc", the first example of FIPS 180-2.
constexpr const char* kAbcSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

const char kDescription[] = R"(mirror_urls = ["https://cdn2.example/v2/"]  # Gold edition
base_url = "http://dl.example/velmora2/"
served_folder = "served"
notes_folder = "notes"
patcherversion = "1.0.0.38"
patcherurl = "http://www.example/launcher?a=1&b=2"

[[release]]
name = "Velmora II <Gold> & \"friends\""
latestversion = "1.1.0.0"
executables = [
  "releases/1.0/velmora2.exe",
  { path = "releases/1.1/velmora2.exe", exe_id = "gold-1.1" },
]

[[release.patch]]
version = "1.1.0.0"
installer = "setup 1.1.exe"
)";

// A release engineer's folder: two builds of the game, one patch folder, notes in two
// languages, and the description above.
class BuildTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.IsValid());
        ASSERT_TRUE(WriteTree(m_temp.Path()));
    }

    static bool WriteExe(const fs::path& path, PeVersion version, bool withVersion = true) {
        fs::create_directories(path.parent_path());
        PeOptions options;
        options.fileVersion = version;
        options.withVersion = withVersion;
        return WritePeFile(path.string(), options);
    }

    bool WriteTree(const fs::path& root) {
        auto write = [&root](const std::string& name, const std::string& bytes) {
            fs::create_directories((root / name).parent_path());
            std::ofstream out(root / name, std::ios::binary);
            out << bytes;
            return static_cast<bool>(out);
        };
        return WriteExe(root / "releases/1.0/velmora2.exe", {1, 0, 0, 0}) &&
               WriteExe(root / "releases/1.1/velmora2.exe", {1, 1, 0, 0}) &&
               write("served/patches/1.1.0.0/setup 1.1.exe", "MZ setup") &&
               write("served/patches/1.1.0.0/data/world.pak", "abc") &&
               write("served/patches/1.1.0.0/.DS_Store", "finder") &&
               write("notes/1.1.0.0/English.txt",
                     "Fixes & more:\r\n- <faster> \"saves\"\r\n\r\n") &&
               write("notes/1.1.0.0/French.txt", "Corrections\n") &&
               write("notes/1.0.0.0/English.txt", "First release.") &&
               write("velmora-publish.toml", kDescription);
    }

    void Describe(const std::string& text) {
        std::ofstream(m_temp.PathOf("velmora-publish.toml"), std::ios::binary) << text;
    }

    bool Build(bool strict = false) {
        m_findings.clear();
        m_catalogue.clear();
        return BuildFromDescription(m_temp.PathOf("velmora-publish.toml"), strict, m_catalogue,
                                    m_output, m_findings);
    }

    const Finding* Find(const std::string& code) const {
        const auto it = std::find_if(m_findings.begin(), m_findings.end(),
                                     [&](const Finding& f) { return f.code == code; });
        return it == m_findings.end() ? nullptr : &*it;
    }

    std::string Dump() const {
        std::string text;
        for (const Finding& finding : m_findings)
            text += FormatFinding(finding, "velmora-publish.toml") + "\n";
        return text;
    }

    TempDir m_temp;
    std::string m_catalogue;
    fs::path m_output;
    std::vector<Finding> m_findings;
};

TEST_F(BuildTest, TheLauncherReadsBackWhatTheFilesSay) {
    ASSERT_TRUE(Build()) << Dump();
    EXPECT_EQ(m_output, m_temp.PathOf("served/patchinfo.xml"));

    std::istringstream stream(m_catalogue);
    XmlParseError error;
    std::unique_ptr<XmlNode> root = XmlParse(stream, "", &error);
    EXPECT_EQ(error.code, 0) << error.message;
    PatchInfo info;
    ASSERT_TRUE(ReadPatchInfo(root.get(), info));
    EXPECT_EQ(info.patcherversion, L"1.0.0.38");
    EXPECT_EQ(info.patcherurl, L"http://www.example/launcher?a=1&b=2");

    ASSERT_EQ(info.game_version_list.size(), 1u);
    const GameVersion& game = *info.game_version_list[0];
    EXPECT_EQ(game.name, L"Velmora II <Gold> & \"friends\"");
    CMD5Wrapper md5;
    ASSERT_EQ(game.checksums.size(), 2u);
    EXPECT_EQ(game.checksums[0]->md5,
              md5.FileHashW(m_temp.WidePathOf("releases/1.0/velmora2.exe")));
    // Named after the file version the launcher reads, unless the description names it.
    EXPECT_EQ(game.checksums[0]->exe_id, L"1.0.0.0");
    EXPECT_EQ(game.checksums[1]->md5,
              md5.FileHashW(m_temp.WidePathOf("releases/1.1/velmora2.exe")));
    EXPECT_EQ(game.checksums[1]->exe_id, L"gold-1.1");

    ASSERT_NE(game.latest, nullptr);
    EXPECT_EQ(game.latest->installer, L"setup 1.1.exe");
    // Every file of the folder but the hidden one, in byte order of the path.
    ASSERT_EQ(game.latest->download_list.size(), 2u);
    const DownloadEntry& world = *game.latest->download_list[0];
    EXPECT_EQ(world.url, L"http://dl.example/velmora2/patches/1.1.0.0/data/world.pak");
    EXPECT_EQ(world.target, L"data\\world.pak");
    EXPECT_EQ(world.md5, L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(world.size, 3);
    EXPECT_EQ(world.mirrors,
              std::vector<std::wstring>{L"https://cdn2.example/v2/patches/1.1.0.0/data/world.pak"});
    const DownloadEntry& setup = *game.latest->download_list[1];
    EXPECT_EQ(setup.url, L"http://dl.example/velmora2/patches/1.1.0.0/setup%201.1.exe");
    EXPECT_EQ(setup.target, L"setup 1.1.exe");
    EXPECT_EQ(setup.size, 8);
    const XmlNode* worldNode = root->Child(0)->Child(0)->Child(1)->Child(0)->Child(0)->Child(0);
    EXPECT_EQ(XmlGetAttribute(worldNode, "sha256", ""), kAbcSha256);

    ASSERT_EQ(info.changelog_list.size(), 2u);
    EXPECT_EQ(info.changelog_list[0]->version, L"1.0.0.0");
    const Changelog& notes = *info.changelog_list[1];
    EXPECT_EQ(notes.version, L"1.1.0.0");
    ASSERT_EQ(notes.texts.size(), 2u);
    EXPECT_EQ(notes.texts[0]->language, L"English");
    EXPECT_EQ(notes.texts[0]->text, L"Fixes & more:\n- <faster> \"saves\"");
    EXPECT_EQ(notes.texts[1]->language, L"French");

    // What the build's own lint had to say is only that German notes are missing.
    for (const Finding& finding : m_findings)
        EXPECT_EQ(finding.severity, Severity::kNote) << Dump();
    EXPECT_EQ(ExitStatusFor(LintCatalogue(m_catalogue, {}), true), kExitClean);
}

TEST_F(BuildTest, DeltasFromEarlierReleasesAreOfferedWhenTheySaveEnoughAndLintAppliesThem) {
    std::string base(200000, '\0');
    std::uint32_t state = 7;
    for (char& c : base)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    std::string fresh = base;
    fresh.replace(1000, 64, std::string(64, 'x'));
    auto write = [&](const std::string& name, const std::string& bytes) {
        fs::create_directories(m_temp.PathOf(name).parent_path());
        std::ofstream(m_temp.PathOf(name), std::ios::binary) << bytes;
    };
    write("games/1.0/data/world.pak", base);
    write("games/1.0/bin/velmora2.exe", "MZ other bytes");
    write("served/patches/1.1.0.0/data/world.pak", fresh);
    Describe(std::string(kDescription) + R"(
[[release.patch.delta]]
file = "data/world.pak"
from = ["games/1.0"]

[[release.patch.delta]]
file = "setup 1.1.exe"
base = "bin/velmora2.exe"
from = ["games/1.0"]
)");
    ASSERT_TRUE(Build()) << Dump();
    // Eight bytes of setup cannot be told by a delta in less than their own size.
    EXPECT_NE(Find("delta-left-out"), nullptr) << Dump();

    std::istringstream stream(m_catalogue);
    std::unique_ptr<XmlNode> root = XmlParse(stream, "", nullptr);
    PatchInfo info;
    ASSERT_TRUE(ReadPatchInfo(root.get(), info));
    const auto& downloads = info.game_version_list.at(0)->latest->download_list;
    const auto world = std::find_if(downloads.begin(), downloads.end(),
                                    [](const auto& d) { return d->target == L"data\\world.pak"; });
    ASSERT_NE(world, downloads.end());
    ASSERT_EQ((*world)->deltas.size(), 1u);
    const DeltaEntry& delta = (*world)->deltas[0];
    EXPECT_EQ(delta.base, L"data\\world.pak");
    EXPECT_EQ(delta.base_size, 200000);
    EXPECT_LT(delta.size, 2000);
    const std::string prefix = "http://dl.example/velmora2/";
    const fs::path file = m_temp.PathOf("served") / WideToUtf8(delta.url).substr(prefix.size());
    // The standard command reads what build wrote.
    EXPECT_EQ(
        RunShell(ShellWords({"zstd", "-q", "-d", "-c",
                             "--patch-from=" + m_temp.PathOf("games/1.0/data/world.pak").string(),
                             file.string()}))
            .output,
        fresh);

    // Lint applies it to the base found below --files; a damaged delta is an error there.
    write("served/data/world.pak", base);
    LintOptions options;
    options.filesFolder = m_temp.PathOf("served");
    auto codes = [&] {
        std::vector<std::string> found;
        for (const Finding& finding : LintCatalogue(m_catalogue, options))
            if (finding.code.rfind("delta", 0) == 0)
                found.push_back(finding.code);
        return found;
    };
    EXPECT_TRUE(codes().empty());
    std::string damaged = FileContents(file);
    damaged[damaged.size() / 2] ^= 0x40;
    std::ofstream(file, std::ios::binary) << damaged;
    EXPECT_EQ(codes(), std::vector<std::string>{"delta-apply"});
}

TEST_F(BuildTest, TheSameFilesGiveTheSameBytes) {
    ASSERT_TRUE(Build()) << Dump();
    const std::string first = m_catalogue;
    ASSERT_TRUE(Build());
    EXPECT_EQ(m_catalogue, first);

    // Elsewhere on the disk, written in another order, with other times: still the same.
    TempDir other;
    ASSERT_TRUE(other.IsValid());
    ASSERT_TRUE(other.WriteFile("notes/1.0.0.0/English.txt", "First release."));
    ASSERT_TRUE(WriteTree(other.Path()));
    fs::last_write_time(other.PathOf("served/patches/1.1.0.0/data/world.pak"),
                        fs::file_time_type::clock::now() - std::chrono::hours(48));
    std::string again;
    fs::path output;
    std::vector<Finding> findings;
    ASSERT_TRUE(
        BuildFromDescription(other.PathOf("velmora-publish.toml"), false, again, output, findings));
    EXPECT_EQ(again, first);
}

TEST_F(BuildTest, AnInstallerThatIsNotAmongTheFilesIsRefused) {
    Describe(Replaced(kDescription, "installer = \"setup 1.1.exe\"", "installer = \"setup.exe\""));
    EXPECT_FALSE(Build());
    const Finding* found = Find("installer-not-downloaded");
    ASSERT_NE(found, nullptr) << Dump();
    EXPECT_EQ(found->line, 16u);
    EXPECT_TRUE(m_catalogue.empty());
}

TEST_F(BuildTest, LintErrorsInTheResultRefuseIt) {
    Describe(Replaced(kDescription, "latestversion = \"1.1.0.0\"", "latestversion = \"1.2.0.0\""));
    EXPECT_FALSE(Build());
    const Finding* found = Find("latest-missing");
    ASSERT_NE(found, nullptr) << Dump();
    EXPECT_EQ(found->file, kBuiltCatalogueName);
    EXPECT_TRUE(m_catalogue.empty());
}

TEST_F(BuildTest, DescriptionMistakesCarryTheirLines) {
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        const char* code;
        std::uint64_t line;
    };
    const Case cases[] = {
        {"misspelt key", "latestversion = \"1.1.0.0\"", "lastestversion = \"1.1.0.0\"",
         "description-key", 10},
        {"not TOML", "installer = \"setup 1.1.exe\"", "installer = setup\"", "description-syntax",
         18},
        {"base URL without its slash", "velmora2/\"", "velmora2\"", "description-value", 2},
        {"mirror without its slash", "/v2/\"", "/v2\"", "description-value", 1},
        {"no base URL", "base_url = \"http://dl.example/velmora2/\"\n", "", "description-missing",
         0},
        {"a number for a name", "name = \"Velmora II <Gold> & \\\"friends\\\"\"", "name = 2",
         "description-type", 9},
        {"a folder that is not served", "installer = \"setup 1.1.exe\"",
         "installer = \"setup 1.1.exe\"\nfolder = \"../../releases\"", "folder-not-served", 16},
        {"a listed file that is missing", "installer = \"setup 1.1.exe\"",
         "installer = \"setup 1.1.exe\"\nfiles = [\"setup 1.1.exe\", \"gone.pak\"]", "file-missing",
         16},
        {"a listed file outside its folder", "installer = \"setup 1.1.exe\"",
         "installer = \"setup 1.1.exe\"\nfiles = [\"setup 1.1.exe\", "
         "\"../../../releases/1.0/velmora2.exe\"]",
         "file-outside", 16},
        {"an executable that is missing", "releases/1.0/velmora2.exe", "releases/2.0/velmora2.exe",
         "file-unreadable", 12},
        // Neither may hang the build: a FIFO waits for a writer, a device never ends.
        {"an executable that is a FIFO", "releases/1.0/velmora2.exe", "releases/fifo.exe",
         "file-unreadable", 12},
        {"an executable that is a device", "releases/1.0/velmora2.exe", "/dev/zero",
         "file-unreadable", 12},
    };
    ASSERT_EQ(::mkfifo(m_temp.PathOf("releases/fifo.exe").c_str(), 0600), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Describe(Replaced(kDescription, c.from, c.to));
        EXPECT_FALSE(Build());
        const Finding* found = Find(c.code);
        ASSERT_NE(found, nullptr) << Dump();
        EXPECT_EQ(found->line, c.line) << Dump();
        EXPECT_EQ(found->severity, Severity::kError);
    }
}

TEST_F(BuildTest, ExecutablesAreCheckedWithTheLaunchersVersionReader) {
    ASSERT_TRUE(WriteExe(m_temp.PathOf("releases/1.0/velmora2.exe"), {1, 3, 0, 0}));
    ASSERT_TRUE(Build()) << Dump();
    const Finding* newer = Find("exe-newer");
    ASSERT_NE(newer, nullptr) << Dump();
    EXPECT_EQ(newer->line, 12u);
    EXPECT_NE(m_catalogue.find("exe_id=\"1.3.0.0\""), std::string::npos);
    // Strict: the warning alone refuses the catalogue.
    EXPECT_FALSE(Build(true));

    ASSERT_TRUE(WriteExe(m_temp.PathOf("releases/1.0/velmora2.exe"), {1, 0, 0, 0}, false));
    ASSERT_TRUE(Build()) << Dump();
    EXPECT_NE(Find("exe-no-version"), nullptr) << Dump();
    EXPECT_NE(m_catalogue.find("exe_id=\"velmora2.exe\""), std::string::npos);
}

TEST_F(BuildTest, LinkOutOfTheServedFolderIsWarnedAbout) {
    const fs::path patch = m_temp.PathOf("served/patches/1.1.0.0");
    fs::create_symlink("world.pak", patch / "data/inside.pak");
    ASSERT_TRUE(Build()) << Dump();
    EXPECT_EQ(Find("file-link-outside"), nullptr) << Dump();
    fs::create_symlink(m_temp.PathOf("releases/1.0/velmora2.exe"), patch / "data/outside.pak");
    ASSERT_TRUE(Build()) << Dump();
    const Finding* found = Find("file-link-outside");
    ASSERT_NE(found, nullptr) << Dump();
    EXPECT_EQ(found->severity, Severity::kWarning);
    EXPECT_NE(found->message.find("outside.pak"), std::string::npos) << found->message;
}

TEST_F(BuildTest, NotesThatCannotBeWrittenAsTheyAre) {
    ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/German.txt", "C:\\new\\folder"));
    ASSERT_TRUE(Build()) << Dump();
    EXPECT_NE(Find("notes-backslash-n"), nullptr) << Dump();

    ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/German.txt", std::string("bell\x07", 5)));
    EXPECT_FALSE(Build());
    EXPECT_NE(Find("notes-encoding"), nullptr) << Dump();
    ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/German.txt", "caf\xE9"));
    EXPECT_FALSE(Build());
    EXPECT_NE(Find("notes-encoding"), nullptr) << Dump();
}

TEST_F(BuildTest, TheFileIsReplacedWhole) {
    ASSERT_TRUE(Build()) << Dump();
    ASSERT_TRUE(m_temp.WriteFile("served/patchinfo.xml", "old catalogue"));
    const auto entries = [this] {
        return std::distance(fs::directory_iterator(m_temp.PathOf("served")), {});
    };
    const auto before = entries();
    std::string error;
    ASSERT_TRUE(WriteCatalogueFile(m_output, m_catalogue, error)) << error;
    EXPECT_EQ(m_temp.ReadFile("served/patchinfo.xml"), std::optional<std::string>(m_catalogue));
    // Nothing is left beside it.
    EXPECT_EQ(entries(), before);
    EXPECT_FALSE(
        WriteCatalogueFile(m_temp.PathOf("no/such/folder/patchinfo.xml"), m_catalogue, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
