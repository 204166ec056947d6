// The demo, end to end: the sandbox generator (checked through the launcher's own readers), the
// demo server as a program, and the real launcher run twice over the sandbox the way
// scripts/demo runs it: the first run patches the game, the second starts it at once.

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "app/file_version.h"
#include "app/language.h"
#include "catalogue/patch_info.h"
#include "catalogue/xml_tree.h"
#include "platform/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "tools/demo/demo_data.h"
#include "tools/http/byte_range.h"
#include "tools/http/served_path.h"
#include "tools/publish/build.h"
#include "tools/publish/lint.h"
#include "transfer/md5.h"
#include "wizard/changelog_text.h"

namespace fs = std::filesystem;

namespace {

// Byte for byte, as the launcher takes paths: the C locale refuses a non-ASCII wstring().
std::wstring Wide(const fs::path& path) {
    return Utf8ToWide(std::string_view(path.native()));
}

std::string Md5OfFile(const fs::path& path) {
    CMD5Wrapper md5;
    return WideToUtf8(md5.FileHashW(Wide(path)));
}

std::string Narrow(const std::wstring& text) {
    return WideToUtf8(std::wstring_view(text));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Reads the catalogue the generator wrote with the launcher's own parser and readers.
bool ReadCatalogue(const std::string& text, PatchInfo& info) {
    std::istringstream stream(text);
    std::unique_ptr<XmlNode> root = XmlParse(stream, "");
    const bool ok = ReadPatchInfo(root.get(), info);
    XmlFree(root.release(), true);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// The generator

class DemoSandboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.IsValid());
        m_options.baseUrl = "http://127.0.0.1:8123/velmora2/";
        m_options.partBytes = 64 * 1024;
    }
    void TearDown() override { LanguageIndex = 0; }

    DemoSandbox Create(const DemoOptions& options) {
        DemoSandbox box;
        std::string error;
        EXPECT_TRUE(DemoSandbox::Create(m_temp.PathOf("sandbox"), options, box, error)) << error;
        return box;
    }

    TempDir m_temp;
    DemoOptions m_options;
};

TEST_F(DemoSandboxTest, CatalogueReadsBackThroughTheLauncherReaders) {
    const DemoSandbox box = Create(m_options);
    ASSERT_EQ(FileContents(box.serverFolder / "patchinfo.xml"), box.catalogueText);
    // velmora-publish build made it from the generator's description, and its lint is content.
    std::string rebuilt;
    fs::path output;
    std::vector<Finding> findings;
    ASSERT_TRUE(BuildFromDescription(box.descriptionFile, true, rebuilt, output, findings));
    EXPECT_EQ(rebuilt, box.catalogueText);
    EXPECT_EQ(output, box.serverFolder / "patchinfo.xml");

    PatchInfo info;
    ASSERT_TRUE(ReadCatalogue(box.catalogueText, info));
    EXPECT_EQ(info.patcherversion, L"1.0.0.38");
    EXPECT_EQ(info.patcherurl, L"http://127.0.0.1:8123/velmora2/launcher.html");
    ASSERT_EQ(info.game_version_list.size(), 2u);

    SelectInstalledGame(info, Utf8ToWide(box.installedMd5));
    ASSERT_EQ(info.installed_game, info.game_version_list[0].get());
    const PatchEntry* latest = info.installed_game->latest;
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(latest->version, L"1.2.0.0");
    EXPECT_EQ(Narrow(latest->installer), box.installer);
    ASSERT_EQ(latest->download_list.size(), box.patchFiles.size());
    for (std::size_t i = 0; i < box.patchFiles.size(); ++i) {
        const DownloadEntry& entry = *latest->download_list[i];
        const DemoFile& file = box.patchFiles[i];
        EXPECT_EQ(Narrow(entry.url), "http://127.0.0.1:8123/velmora2/" +
                                         fs::relative(file.served, box.serverFolder).string());
        EXPECT_EQ(Narrow(entry.target), file.target);
        EXPECT_EQ(Narrow(entry.md5), file.md5);
        EXPECT_EQ(entry.size, file.size);
    }

    // The patched executable belongs to the same release, which it already brings up to date.
    SelectInstalledGame(info, Utf8ToWide(box.patchedMd5));
    EXPECT_EQ(info.installed_game, info.game_version_list[0].get());
    // The other release is listed, but nothing installed here is recognised as it.
    SelectInstalledGame(info, Utf8ToWide(box.otherReleaseMd5));
    EXPECT_EQ(info.installed_game, info.game_version_list[1].get());
    EXPECT_NE(box.otherReleaseMd5, box.installedMd5);
}

TEST_F(DemoSandboxTest, GameAndPatchAreRealExecutablesWithTheirVersions) {
    const DemoSandbox box = Create(m_options);
    EXPECT_EQ(ReadFileVersion(box.gameExe.wstring()), L"1.0.0.0");
    EXPECT_EQ(Md5OfFile(box.gameExe), box.installedMd5);

    int executables = 0;
    for (const DemoFile& file : box.patchFiles) {
        const bool isPe = platform::IsPeImage(file.served.wstring());
        executables += isPe ? 1 : 0;
        if (file.target == box.installer) {
            // Started through the runner only because it is a PE image.
            EXPECT_TRUE(isPe);
            EXPECT_GE(file.size, m_options.partBytes / 4);
        } else if (file.target == box.patchedExeTarget) {
            EXPECT_EQ(ReadFileVersion(file.served.wstring()), L"1.2.0.0");
            EXPECT_EQ(file.md5, box.patchedMd5);
        } else {
            EXPECT_FALSE(isPe) << file.target;
            EXPECT_EQ(file.size, m_options.partBytes);
        }
    }
    EXPECT_EQ(executables, 2);
}

TEST_F(DemoSandboxTest, ServedFilesMatchTheirDigestsUnlessOneIsCorrupt) {
    const DemoSandbox sound = Create(m_options);
    for (const DemoFile& file : sound.patchFiles) {
        EXPECT_FALSE(file.corrupt);
        EXPECT_EQ(Md5OfFile(file.served), file.md5) << file.target;
        EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file.served)), file.size);
    }

    // velmora-publish lint --files over the server's folder finds every file as listed.
    LintOptions options;
    options.filesFolder = sound.serverFolder;
    EXPECT_EQ(ExitStatusFor(LintCatalogue(sound.catalogueText, options), true), kExitClean);

    m_options.corrupt = true;
    const DemoSandbox broken = Create(m_options);
    int corrupt = 0;
    for (std::size_t i = 0; i < broken.patchFiles.size(); ++i) {
        const DemoFile& file = broken.patchFiles[i];
        // The catalogue is the same either way; only the bytes served differ.
        EXPECT_EQ(file.md5, sound.patchFiles[i].md5);
        EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file.served)), file.size);
        if (file.corrupt) {
            ++corrupt;
            EXPECT_NE(Md5OfFile(file.served), file.md5) << file.target;
            EXPECT_NE(file.target, broken.installer);
        } else {
            EXPECT_EQ(Md5OfFile(file.served), file.md5) << file.target;
        }
    }
    EXPECT_EQ(corrupt, 1);

    // ... and points at the corrupt one.
    options.filesFolder = broken.serverFolder;
    std::vector<std::string> mismatched;
    for (const Finding& finding : LintCatalogue(broken.catalogueText, options)) {
        if (finding.severity == Severity::kNote)
            continue;
        mismatched.push_back(finding.code);
        EXPECT_NE(finding.message.find("velmora2_sound_1.2.0.0.pak"), std::string::npos)
            << finding.message;
    }
    EXPECT_EQ(mismatched, (std::vector<std::string>{"file-md5", "file-sha256"}));
}

TEST_F(DemoSandboxTest, ReleaseNotesDependOnTheLanguage) {
    const DemoSandbox box = Create(m_options);
    PatchInfo info;
    ASSERT_TRUE(ReadCatalogue(box.catalogueText, info));
    auto notes = [&](int language) {
        LanguageIndex = language;
        return Narrow(BuildChangelogText(L"1.2.0.0", L"1.0.0.0", info));
    };

    const std::string english = notes(0);
    EXPECT_NE(english.find("Patch 1.1.0.0 :\n************\n- New region: the Ashen Marches\n"),
              std::string::npos);
    EXPECT_NE(english.find("Patch 1.2.0.0 :\n************\n- Co-operative campaign"),
              std::string::npos);
    // The installed version's own notes are not news.
    EXPECT_EQ(english.find("1.0.0.0"), std::string::npos);

    const std::string french = notes(1);
    EXPECT_NE(french.find("- Nouvelle région : les Marches cendrées\n"), std::string::npos);
    EXPECT_NE(french.find("- Campagne coopérative pour deux joueurs\n"), std::string::npos);

    // 1.2.0.0 has no German notes: German for 1.1.0.0, English for 1.2.0.0.
    const std::string german = notes(2);
    EXPECT_NE(german.find("- Neue Region: die Aschenmark\n"), std::string::npos);
    EXPECT_NE(german.find("- Co-operative campaign for two players\n"), std::string::npos);
    EXPECT_EQ(german.find("Ashen Marches"), std::string::npos);
}

TEST_F(DemoSandboxTest, ProfileSelectsTheLauncherLanguage) {
    const fs::path data = m_temp.PathOf("data");
    ScopedEnv xdg("XDG_DATA_HOME", data.string());
    const std::pair<std::string, int> cases[] = {{"French", 1}, {"German", 2}, {"English", 0}};
    for (const auto& [language, index] : cases) {
        std::string error;
        ASSERT_TRUE(WriteDemoProfile(data, language, error)) << error;
        LanguageIndex = 0;
        DetectLanguage();
        EXPECT_EQ(LanguageIndex, index) << language;
    }
    EXPECT_EQ(DemoLanguageName("fr"), "French");
    EXPECT_EQ(DemoLanguageName("DE"), "German");
    EXPECT_EQ(DemoLanguageName("english"), "English");
    EXPECT_EQ(DemoLanguageName("es"), "");
}

TEST_F(DemoSandboxTest, ASecondCreateKeepsTheGameAndResetRestoresIt) {
    DemoSandbox box = Create(m_options);
    std::error_code ec;
    fs::copy_file(box.patchFiles.back().served, box.gameExe, fs::copy_options::overwrite_existing,
                  ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(m_temp.WriteFile("sandbox/downloads/partial.pak", "half"));

    m_options.baseUrl = "http://127.0.0.1:9999/";
    box = Create(m_options);
    EXPECT_EQ(Md5OfFile(box.gameExe), box.patchedMd5);
    EXPECT_TRUE(m_temp.Exists("sandbox/downloads/partial.pak"));
    // The server files follow the new address.
    EXPECT_NE(
        FileContents(box.serverFolder / "patchinfo.xml").find("http://127.0.0.1:9999/patches/"),
        std::string::npos);

    m_options.reset = true;
    box = Create(m_options);
    EXPECT_EQ(Md5OfFile(box.gameExe), box.installedMd5);
    EXPECT_FALSE(m_temp.Exists("sandbox/downloads/partial.pak"));
    EXPECT_TRUE(fs::is_directory(box.downloadFolder));
}

TEST_F(DemoSandboxTest, AFolderThatIsNotASandboxIsNeverTouched) {
    ASSERT_TRUE(m_temp.WriteFile("sandbox/precious.txt", "keep me"));
    m_options.reset = true;
    DemoSandbox box;
    std::string error;
    EXPECT_FALSE(DemoSandbox::Create(m_temp.PathOf("sandbox"), m_options, box, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(m_temp.ReadFile("sandbox/precious.txt"), std::optional<std::string>("keep me"));
    EXPECT_FALSE(m_temp.Exists("sandbox/game"));
}

TEST_F(DemoSandboxTest, RefusesUnusableOptions) {
    DemoSandbox box;
    std::string error;
    m_options.baseUrl = "http://127.0.0.1:8123";
    EXPECT_FALSE(DemoSandbox::Create(m_temp.PathOf("a"), m_options, box, error));
    m_options.baseUrl = "http://127.0.0.1:8123/";
    // The launcher's paths hold 259 characters; a deep sandbox would fail for no visible reason.
    EXPECT_FALSE(DemoSandbox::Create(m_temp.PathOf(std::string(200, 'x')), m_options, box, error));
    EXPECT_FALSE(m_temp.Exists(std::string(200, 'x')));
}

TEST_F(DemoSandboxTest, TheSameFileHasTheSameBytesInEverySandbox) {
    // A file half-downloaded against one run of the server is resumed against the next one.
    DemoSandbox first;
    DemoSandbox second;
    std::string error;
    ASSERT_TRUE(DemoSandbox::Create(m_temp.PathOf("one"), m_options, first, error)) << error;
    m_options.baseUrl = "http://127.0.0.1:1/";
    ASSERT_TRUE(DemoSandbox::Create(m_temp.PathOf("two"), m_options, second, error)) << error;
    ASSERT_EQ(first.patchFiles.size(), second.patchFiles.size());
    for (std::size_t i = 0; i < first.patchFiles.size(); ++i)
        EXPECT_EQ(first.patchFiles[i].md5, second.patchFiles[i].md5);
    EXPECT_EQ(first.installedMd5, second.installedMd5);
}

// ---------------------------------------------------------------------------------------------
// The server's request handling

TEST(DemoByteRangeTest, ReadsTheFormsAResumingClientSends) {
    struct Case {
        const char* header;
        std::uint64_t length;
        RangeRequest kind;
        std::uint64_t offset;
        std::uint64_t count;
    };
    const Case cases[] = {
        {"bytes=400-", 1000, RangeRequest::kSatisfiable, 400, 600},
        {"bytes=0-99", 1000, RangeRequest::kSatisfiable, 0, 100},
        {"bytes=990-5000", 1000, RangeRequest::kSatisfiable, 990, 10},
        {"bytes=-10", 1000, RangeRequest::kSatisfiable, 990, 10},
        {"bytes=-5000", 1000, RangeRequest::kSatisfiable, 0, 1000},
        {"bytes=1000-", 1000, RangeRequest::kUnsatisfiable, 0, 0},
        {"bytes=0-", 0, RangeRequest::kUnsatisfiable, 0, 0},
        {"bytes=-0", 1000, RangeRequest::kUnsatisfiable, 0, 0},
        {"bytes=5-2", 1000, RangeRequest::kNone, 0, 0},
        {"bytes=0-1,5-6", 1000, RangeRequest::kNone, 0, 0},
        {"items=0-1", 1000, RangeRequest::kNone, 0, 0},
        {"bytes=x-", 1000, RangeRequest::kNone, 0, 0},
        {"bytes=99999999999999999999-", 1000, RangeRequest::kNone, 0, 0},
    };
    for (const Case& c : cases) {
        ByteRange range;
        EXPECT_EQ(ParseByteRange(c.header, c.length, range), c.kind) << c.header;
        if (c.kind == RangeRequest::kSatisfiable) {
            EXPECT_EQ(range.offset, c.offset) << c.header;
            EXPECT_EQ(range.count, c.count) << c.header;
        }
    }
}

TEST(DemoServedPathTest, NothingOutsideTheServedFolderIsReachable) {
    TempDir temp;
    ASSERT_TRUE(temp.WriteFile("served/patches/a.pak", "a"));
    ASSERT_TRUE(temp.WriteFile("secret.txt", "s"));
    std::error_code ec;
    fs::create_symlink(temp.PathOf("secret.txt"), temp.PathOf("served/link.txt"), ec);
    ASSERT_FALSE(ec);
    const fs::path root = temp.PathOf("served");

    fs::path out;
    EXPECT_TRUE(ResolveServedPath(root, "/patches/a.pak", out));
    EXPECT_EQ(out, fs::canonical(temp.PathOf("served/patches/a.pak")));
    EXPECT_TRUE(ResolveServedPath(root, "//patches//a.pak", out));
    for (const char* refused :
         {"/../secret.txt", "/patches/../../secret.txt", "/./patches/a.pak", "/patches\\a.pak",
          "patches/a.pak", "/", "/patches", "/link.txt", "/missing"}) {
        EXPECT_FALSE(ResolveServedPath(root, refused, out)) << refused;
    }
    EXPECT_FALSE(ResolveServedPath(root, std::string("/patches/a.pak\0x", 16), out));
}

// ---------------------------------------------------------------------------------------------
// The programs: velmora-demo-server and velmora-launcher, as scripts/demo runs them

#ifdef VELMORA_DEMO_SERVER_PATH

// The demo server as a child process. Its standard input is a pipe from here: closing it is
// how the server is told to stop, so a test that fails half-way still leaves no server behind.
class DemoServerProcess {
  public:
    DemoServerProcess(const fs::path& sandbox, const std::string& arguments) {
        const fs::path folder = sandbox.parent_path();
        const fs::path urlFile = folder / "server.url";
        m_errors = folder / "server.err";
        std::error_code ec;
        fs::remove(urlFile, ec);
        const std::string command = "exec " + ShellQuote(std::string(VELMORA_DEMO_SERVER_PATH)) +
                                    " --sandbox " + ShellQuote(sandbox) + " " + arguments + " > " +
                                    ShellQuote(urlFile) + " 2> " + ShellQuote(m_errors);
        m_stdin = popen(command.c_str(), "w");
        if (m_stdin == nullptr)
            return;
        // The URL line appears once the sandbox is ready; a server that failed ends instead.
        for (int i = 0; i < 600 && m_url.empty(); ++i) {
            const std::string text = FileContents(urlFile);
            if (text.find('\n') != std::string::npos)
                m_url = text.substr(0, text.find('\n'));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~DemoServerProcess() { Stop(); }

    const std::string& Url() const { return m_url; }
    std::string Errors() const { return FileContents(m_errors); }
    // Closes the server's standard input and waits for it to end; its exit status.
    int Stop() {
        if (m_stdin == nullptr)
            return -1;
        const int status = pclose(m_stdin);
        m_stdin = nullptr;
        return status;
    }

  private:
    std::FILE* m_stdin = nullptr;
    std::string m_url;
    fs::path m_errors;
};

class DemoRoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.IsValid());
        // The same generator the server runs: it gives the paths and digests to check against,
        // and the server then reuses the sandbox as it does on a second ./scripts/demo.
        DemoOptions options;
        options.language = "English";
        std::string error;
        // Not ASCII, as a player's folder may well be.
        ASSERT_TRUE(DemoSandbox::Create(m_temp.PathOf("d\xc3\xa9mo"), options, m_box, error))
            << error;
    }

    // Runs the launcher from the download folder with the demo's environment, input from
    // stdinText, and returns everything it and the runner printed; it must end with exitStatus.
    std::string RunLauncher(const std::string& url, const std::string& arguments,
                            const std::string& stdinText = "", int exitStatus = 0) {
        const fs::path input = m_temp.PathOf("launcher.in");
        const fs::path output = m_temp.PathOf("launcher.out");
        EXPECT_TRUE(m_temp.WriteFile("launcher.in", stdinText));
        const std::string command =
            "cd " + ShellQuote(m_box.downloadFolder) + " && env VELMORA_RUNNER=" +
            ShellQuote(std::string(VELMORA_SOURCE_DIR) + "/tools/demo/demo-runner") +
            " VELMORA_DEMO_SANDBOX=" + ShellQuote(m_box.root) +
            " XDG_DATA_HOME=" + ShellQuote(m_box.dataHome) +
            " XDG_RUNTIME_DIR=" + ShellQuote(m_box.runtimeFolder) +
            " DISPLAY= WAYLAND_DISPLAY= timeout 120 " +
            ShellQuote(std::string(VELMORA_LAUNCHER_PATH)) + " --url " + ShellQuote(url) +
            " --path " + ShellQuote(m_box.gameFolder) + " " + arguments + " < " +
            ShellQuote(input) + " > " + ShellQuote(output) + " 2>&1";
        EXPECT_EQ(RunShell(command).status, exitStatus) << command;
        return FileContents(output);
    }

    // The runner's log: one (what, program, working folder) per line.
    std::vector<std::vector<std::string>> RunnerLog() const {
        std::vector<std::vector<std::string>> entries;
        for (const std::string& line : Lines(FileContents(m_box.runnerLog))) {
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, '\t');)
                fields.push_back(field);
            entries.push_back(fields);
        }
        return entries;
    }

    // The launcher does not wait for the game it starts: the runner's line comes a moment
    // after the launcher has ended.
    std::vector<std::vector<std::string>> WaitForRunnerLog(std::size_t count) const {
        auto log = RunnerLog();
        for (int i = 0; i < 200 && log.size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            log = RunnerLog();
        }
        return log;
    }

    std::vector<std::string> Installer() const {
        return {"installer", (m_box.downloadFolder / m_box.installer).string(),
                m_box.downloadFolder.string()};
    }
    std::vector<std::string> Game() const {
        return {"game", m_box.gameExe.string(), m_box.gameExe.parent_path().string()};
    }

    std::string Message(int id, int language = 0) {
        LanguageIndex = language;
        const std::string text = Narrow(LoadMessage(id));
        LanguageIndex = 0;
        return text;
    }
    std::string Offer(int language = 0) {
        std::string text = Message(201, language);
        for (const char* version : {"1.0.0.0", "1.2.0.0"})
            text.replace(text.find("%s"), 2, version);
        return text;
    }

    TempDir m_temp;
    DemoSandbox m_box;
};

TEST_F(DemoRoadTest, FirstRunPatchesTheGameAndTheSecondStartsItAtOnce) {
    {
        DemoServerProcess server(m_box.root, "");
        ASSERT_FALSE(server.Url().empty()) << server.Errors();
        const std::string output = RunLauncher(server.Url(), "--console --yes");

        EXPECT_NE(output.find(Offer()), std::string::npos) << output;
        EXPECT_EQ(RunnerLog(), (std::vector<std::vector<std::string>>{
                                   Installer(), {"installed", Installer()[1], Installer()[2]}}))
            << output;
        for (const DemoFile& file : m_box.patchFiles)
            EXPECT_EQ(Md5OfFile(m_box.downloadFolder / file.target), file.md5) << file.target;
        EXPECT_EQ(ReadFileVersion(Wide(m_box.gameExe)), L"1.2.0.0");
        EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.patchedMd5);
        // The executable and the world data came as deltas from what the game held, and the
        // player was told what that saved.
        EXPECT_NE(output.find("velmora2.exe comes as a delta: "), std::string::npos) << output;
        EXPECT_NE(output.find("velmora2_world_1.2.0.0.pak comes as a delta: "), std::string::npos)
            << output;
        EXPECT_NE(output.find(" in all for "), std::string::npos) << output;
        const std::string serverLog = FileContents(m_box.root / "server.log");
        EXPECT_EQ(serverLog.find("/patches/1.2.0.0/velmora2_world_1.2.0.0.pak"), std::string::npos)
            << serverLog;
        EXPECT_EQ(server.Stop(), 0);
    }

    // A new server, as on the next ./scripts/demo: another port, the same sandbox.
    DemoServerProcess server(m_box.root, "");
    ASSERT_FALSE(server.Url().empty()) << server.Errors();
    const std::string output = RunLauncher(server.Url(), "--console --yes");
    EXPECT_EQ(output.find(Message(201).substr(0, 20)), std::string::npos) << output;
    const auto log = WaitForRunnerLog(3);
    ASSERT_EQ(log.size(), 3u) << output;
    EXPECT_EQ(log[2], Game());
    // The runner's own lines, written after the launcher ended, name the version it found.
    EXPECT_NE(m_temp.ReadFile("launcher.out").value_or("").find("file version:   1.2.0.0"),
              std::string::npos);
}

TEST_F(DemoRoadTest, ACorruptFileEndsInMessage207AndTheNextRunRecovers) {
    {
        DemoServerProcess server(m_box.root, "--corrupt");
        ASSERT_FALSE(server.Url().empty()) << server.Errors();
        // Nobody chose the Cancel that ends the wizard: the update could not be completed.
        const std::string output = RunLauncher(server.Url(), "--console --yes", "", 4);
        EXPECT_NE(output.find(Message(207)), std::string::npos) << output;
        for (const auto& entry : RunnerLog())
            EXPECT_NE(entry.at(0), "installer") << output;
        EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.installedMd5);
    }
    // The bad file is complete but wrong: the worker fetches it again from the sound server.
    DemoServerProcess server(m_box.root, "");
    ASSERT_FALSE(server.Url().empty()) << server.Errors();
    const std::string output = RunLauncher(server.Url(), "--console --yes");
    EXPECT_EQ(output.find(Message(207)), std::string::npos) << output;
    EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.patchedMd5) << output;
}

// Every patch file's first download is cut half-way: each is retried after its pause, resumed
// from the cut (a range request), and the patch is installed as if nothing had happened.
TEST_F(DemoRoadTest, CutDownloadsAreRetriedAndResumedFromTheCut) {
    DemoServerProcess server(m_box.root, "--flaky 1");
    ASSERT_FALSE(server.Url().empty()) << server.Errors();
    const std::string output = RunLauncher(server.Url(), "--console --yes");
    const std::string serverLog = FileContents(m_box.root / "server.log");
    const auto Escaped = [](const std::string& text) {
        return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    };
    // The first pause of a lost connection is drawn below two seconds.
    const auto retried = [&output, &Escaped](const std::string& target, int attempt) {
        const std::regex line("Retrying " + Escaped(target) + " in [0-2] s \\(attempt " +
                              std::to_string(attempt) + "\\)\\.");
        return std::regex_search(output, line);
    };
    for (const DemoFile& file : m_box.patchFiles) {
        EXPECT_TRUE(retried(file.target, 1)) << output;
        EXPECT_EQ(Md5OfFile(m_box.downloadFolder / file.target), file.md5) << file.target;
        // A file that comes as its delta resumes the delta.
        const std::regex resumed(Escaped(file.target) + R"((\.[0-9a-f]{8}\.zst)? \(bytes=)");
        EXPECT_TRUE(std::regex_search(serverLog, resumed)) << serverLog;
    }
    EXPECT_FALSE(retried(m_box.patchFiles.front().target, 2)) << output;
    EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.patchedMd5) << output;
}

TEST_F(DemoRoadTest, GermanProfileShowsGermanTextsAndNotesWithAnEnglishFallback) {
    DemoServerProcess server(m_box.root, "--lang de");
    ASSERT_FALSE(server.Url().empty()) << server.Errors();

    // Declined: the old game starts.
    std::string output = RunLauncher(server.Url(), "--console", "n\n");
    EXPECT_NE(output.find(Offer(2)), std::string::npos) << output;
    EXPECT_EQ(WaitForRunnerLog(1), (std::vector<std::vector<std::string>>{Game()})) << output;
    EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.installedMd5);

    // Accepted: the notes of 1.1.0.0 in German, those of 1.2.0.0 (never translated) in English.
    output = RunLauncher(server.Url(), "--console --yes");
    const std::size_t german = output.find("- Neue Region: die Aschenmark\n");
    const std::size_t english = output.find("- Co-operative campaign for two players\n");
    EXPECT_NE(german, std::string::npos) << output;
    EXPECT_NE(english, std::string::npos) << output;
    EXPECT_LT(german, english) << output;
    EXPECT_EQ(output.find("Ashen Marches"), std::string::npos) << output;
    EXPECT_NE(output.find(Message(217, 2)), std::string::npos) << output;
    EXPECT_EQ(Md5OfFile(m_box.gameExe), m_box.patchedMd5) << output;
}

TEST_F(DemoRoadTest, ServerHonoursRangesAndRefusesPathsOutsideItsFolder) {
    DemoServerProcess server(m_box.root, "");
    ASSERT_FALSE(server.Url().empty()) << server.Errors();
    const std::string prefix = "http://127.0.0.1:";
    ASSERT_EQ(server.Url().compare(0, prefix.size(), prefix), 0) << server.Url();
    const int port = std::stoi(server.Url().substr(prefix.size()));
    httplib::Client client("127.0.0.1", port);

    const DemoFile& file = m_box.patchFiles[1];
    const std::string path = "/" + fs::relative(file.served, m_box.serverFolder).string();
    const std::string whole = FileContents(file.served);
    auto ranged = client.Get(path.c_str(), {{"Range", "bytes=1000-"}});
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status, 206);
    EXPECT_EQ(ranged->body, whole.substr(1000));
    EXPECT_EQ(
        ranged->get_header_value("Content-Range"),
        "bytes 1000-" + std::to_string(whole.size() - 1) + "/" + std::to_string(whole.size()));

    auto beyond =
        client.Get(path.c_str(), {{"Range", "bytes=" + std::to_string(whole.size()) + "-"}});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->status, 416);

    ASSERT_TRUE(m_temp.WriteFile("outside.txt", "secret"));
    auto escape = client.Get("/../../outside.txt");
    ASSERT_TRUE(escape);
    EXPECT_EQ(escape->status, 404);
    EXPECT_EQ(escape->body.find("secret"), std::string::npos);

    EXPECT_EQ(server.Stop(), 0);
    // Once its standard input is closed, the server no longer answers.
    EXPECT_FALSE(client.Get("/patchinfo.xml"));
}

TEST_F(DemoRoadTest, ServerStopsOnSigtermWhileItsInputIsStillOpen) {
    // As under scripts/demo: standard input is a pipe that stays open, and the server is
    // stopped by a signal. A watchdog kills it after ten seconds, which fails the test.
    const char kScript[] = R"(fifo="$1/in"
mkfifo "$fifo" || exit 90
"$0" --sandbox "$2" < "$fifo" > "$1/url" 2>&1 &
pid=$!
exec 4> "$fifo"
i=0
while [ ! -s "$1/url" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$1/url" ] || exit 91
( sleep 10; kill -KILL $pid 2>/dev/null ) </dev/null >/dev/null 2>&1 4>&- &
watchdog=$!
kill -TERM $pid
wait $pid
status=$?
kill $watchdog 2>/dev/null
exit $status)";
    const std::string command = "sh -c " + ShellQuote(std::string(kScript)) + " " +
                                ShellQuote(std::string(VELMORA_DEMO_SERVER_PATH)) + " " +
                                ShellQuote(m_temp.Path()) + " " + ShellQuote(m_box.root);
    EXPECT_EQ(RunShell(command).status, 0) << m_temp.ReadFile("url").value_or("");
}

#endif  // VELMORA_DEMO_SERVER_PATH

}  // namespace
