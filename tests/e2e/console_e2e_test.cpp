// The real velmora-launcher in its text front end, against a loopback server: a patch is
// offered, downloaded, verified and installed with --console --yes, in English and in German;
// and a second launcher gives way to one that is still running.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_runner.h"
#include "tests/support/served_sandbox.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Bounds against a hang, not expectations of speed.
constexpr milliseconds kRunTimeout{60000};
constexpr milliseconds kSecondInstanceTimeout{10000};

// The fixtures are the demo's own sandbox, served by the loopback server: the same catalogue,
// game and patch files a newcomer sees in ./scripts/demo.
class ConsoleLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.IsValid());
        ASSERT_TRUE(m_server.IsRunning());
        fs::create_directories(m_root.PathOf("tools"));
        m_runner = std::make_unique<RecordingRunner>(m_root.PathOf("tools"), "runner", 200);
        ASSERT_TRUE(m_runner->IsValid());

        std::string error;
        ASSERT_TRUE(
            ServeDemoSandbox(m_server, m_root.PathOf("sandbox"), 256 * 1024, m_sandbox, error))
            << error;
    }

    void WriteProfile(const std::string& language) {
        std::string error;
        ASSERT_TRUE(WriteDemoProfile(m_sandbox.dataHome, language, error)) << error;
    }

    // The test's own environment without a display, with the runner, the profile folder and
    // the lock folder of this test.
    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        const char* replaced[] = {"DISPLAY=",       "WAYLAND_DISPLAY=", "VELMORA_RUNNER=",
                                  "XDG_DATA_HOME=", "XDG_RUNTIME_DIR=", "XDG_STATE_HOME=",
                                  "VELMORA_DEBUG=", "XDG_CONFIG_HOME=", "XDG_CACHE_HOME=",
                                  "HOME="};
        for (char** e = environ; *e != nullptr; ++e) {
            bool skip = false;
            for (const char* name : replaced)
                skip = skip || std::strncmp(*e, name, std::strlen(name)) == 0;
            if (!skip)
                env.emplace_back(*e);
        }
        env.push_back("VELMORA_RUNNER=" + m_runner->ScriptPath().string());
        env.push_back("XDG_DATA_HOME=" + m_sandbox.dataHome.string());
        env.push_back("XDG_RUNTIME_DIR=" + m_sandbox.runtimeFolder.string());
        env.push_back("XDG_STATE_HOME=" + StateHome().string());
        env.push_back("XDG_CONFIG_HOME=" + (m_sandbox.root / "config").string());
        env.push_back("XDG_CACHE_HOME=" + (m_sandbox.root / "cache").string());
        env.push_back("HOME=" + HomeFolder().string());
        return env;
    }

    std::string RunLog() const {
        return m_root
            .ReadFile(
                fs::relative(StateHome() / "velmora-launcher/launcher.log", m_root.Path()).string())
            .value_or("");
    }

    // Started as a wrapper does, with --path, in the download folder; or, fromMenu, as the
    // desktop's menu does: no --path, in the home folder.
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& options,
                                        const std::string& output, bool holdInput = false,
                                        bool fromMenu = false) {
        std::vector<std::string> args = {m_launcherPath, "--url", m_baseUrl};
        if (!fromMenu)
            args.insert(args.end(), {"--path", m_sandbox.gameFolder.string()});
        args.insert(args.end(), options.begin(), options.end());
        fs::create_directories(HomeFolder());
        return std::make_unique<ChildProcess>(args,
                                              fromMenu ? HomeFolder() : m_sandbox.downloadFolder,
                                              Environment(), m_root.PathOf(output), holdInput);
    }
    fs::path HomeFolder() const { return m_sandbox.root / "home"; }

    std::string Output(const std::string& name) const { return m_root.ReadFile(name).value_or(""); }
    fs::path StateHome() const { return m_sandbox.root / "state"; }

    // One launcher run with --console --yes: it patches and ends without starting the game.
    void ExpectPatchedRun(const std::string& output) {
        auto launcher = Start({"--console", "--yes"}, output);
        ASSERT_TRUE(launcher->Started());
        const std::optional<int> status = launcher->Wait(kRunTimeout);
        ASSERT_TRUE(status.has_value()) << Output(output);
        EXPECT_EQ(*status, 0) << Output(output);

        for (const DemoFile& file : m_sandbox.patchFiles)
            EXPECT_EQ(FileContents(m_sandbox.downloadFolder / file.target),
                      FileContents(file.served))
                << file.target;
        const auto runs = m_runner->Runs();
        ASSERT_EQ(runs.size(), 1u) << Output(output);
        EXPECT_EQ(runs[0].args, std::vector<std::string>{
                                    (m_sandbox.downloadFolder / m_sandbox.installer).string()});
        EXPECT_EQ(runs[0].workingFolder, fs::canonical(m_sandbox.downloadFolder).string());
        // Waited for: its end is recorded before the launcher ended.
        EXPECT_TRUE(runs[0].finished);
        // And the game stays closed after a patch.
        EXPECT_EQ(m_runner->WaitForRuns(2, milliseconds(400)).size(), 1u);
    }

    static void ExpectContains(const std::string& text, const std::string& part) {
        EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
    }

    std::string m_launcherPath = VELMORA_LAUNCHER_PATH;
    TempDir m_root;
    LoopbackServer m_server;
    std::unique_ptr<RecordingRunner> m_runner;
    DemoSandbox m_sandbox;
    std::string m_baseUrl = m_server.Url("/velmora2/");
};

// The demo's launcher, built in build/demo with the demo's key and the signature required
// (./scripts/demo builds it and makes the key pair in build/demo-keys/), against catalogues
// signed with that key by minisign.
class SignedCatalogueLauncherTest : public ConsoleLauncherTest {
  protected:
    void SetUp() override {
        const fs::path launcher = fs::path(VELMORA_SOURCE_DIR) / "build/demo/velmora-launcher";
        m_secretKey = fs::path(VELMORA_SOURCE_DIR) / "build/demo-keys/demo.key";
        if (!fs::exists(launcher) || !fs::exists(m_secretKey))
            GTEST_SKIP() << "the demo's signing launcher is built by ./scripts/demo";
        ConsoleLauncherTest::SetUp();
        m_launcherPath = launcher.string();
    }

    // Signs the sandbox's catalogue as a publisher does and serves the signature beside it.
    void SignCatalogue(const std::string& comment) {
        const fs::path catalogue = m_sandbox.serverFolder / "patchinfo.xml";
        const std::string command =
            ShellWords({"minisign", "-S", "-s", m_secretKey, "-m", catalogue, "-t", comment}) +
            " >/dev/null 2>&1 </dev/null";
        ASSERT_EQ(RunShell(command).status, 0) << command;
        m_server.ServeBytes("/velmora2/patchinfo.xml.minisig",
                            FileContents(catalogue.string() + ".minisig"));
    }

    // A refused catalogue counts as one that could not be read: the game starts.
    void ExpectRefusedAndGameStarted(const std::string& output, const std::string& why) {
        const std::size_t before = m_runner->Runs().size();
        auto launcher = Start({"--console", "--yes"}, output);
        ASSERT_TRUE(launcher->Started());
        ASSERT_TRUE(launcher->Wait(kRunTimeout).has_value()) << Output(output);
        ExpectContains(Output(output), why);
        ExpectContains(Output(output), "(catalogue refused)");
        ExpectContains(RunLog(), "outcome=game-started url=");
        ExpectContains(RunLog(), " cause=\"catalogue signature refused: ");
        const auto runs = m_runner->WaitForRuns(before + 1, kRunTimeout);
        ASSERT_EQ(runs.size(), before + 1) << Output(output);
        EXPECT_EQ(runs.back().args,
                  std::vector<std::string>{m_sandbox.gameFolder.string() + "/bin/velmora2.exe"});
    }

    fs::path m_secretKey;
};

TEST_F(SignedCatalogueLauncherTest, SoundSignaturePatchesAndRecordsTheSerial) {
    SignCatalogue("serial:7 expires:2099-01-01T00:00:00Z");
    ExpectPatchedRun("launcher.out");
    EXPECT_EQ(Output("launcher.out").find("catalogue signature"), std::string::npos);
    const std::optional<std::string> record = m_root.ReadFile(
        fs::relative(StateHome() / "velmora-launcher/catalogue-serials", m_root.Path()).string());
    ASSERT_TRUE(record.has_value());
    EXPECT_NE(record->find(" 7\n"), std::string::npos) << *record;
}

TEST_F(SignedCatalogueLauncherTest, CatalogueChangedAfterSigningIsRefused) {
    SignCatalogue("serial:7 expires:2099-01-01T00:00:00Z");
    std::string changed = m_sandbox.catalogueText;
    changed.insert(changed.find("<patch_info"), "<!-- changed after signing -->\n");
    m_server.ServeBytes("/velmora2/patchinfo.xml", changed);
    ExpectRefusedAndGameStarted("launcher.out", "catalogue signature");
}

TEST_F(SignedCatalogueLauncherTest, MissingOrExpiredSignatureIsRefused) {
    ExpectRefusedAndGameStarted("missing.out", "catalogue signature");
    SignCatalogue("serial:7 expires:2001-01-01T00:00:00Z");
    ExpectRefusedAndGameStarted("expired.out", "catalogue signature");
}

TEST_F(ConsoleLauncherTest, PatchesInEnglishWithAssumedYes) {
    ExpectPatchedRun("launcher.out");
    const std::string out = Output("launcher.out");
    ExpectContains(out, "[Velmora II Launcher]\n");
    ExpectContains(out,
                   "A new patch is available. You currently have version 1.0.0.0 , the latest "
                   "patch available is version 1.2.0.0 . Do you wish to download the patch?");
    ExpectContains(out, "Selected version :");
    ExpectContains(out, "Velmora II (boxed edition)");
    ExpectContains(out, "The patch files will be downloaded to :\n" +
                            fs::canonical(m_sandbox.downloadFolder).string());
    ExpectContains(out, "Patch 1.1.0.0 :\n************\n- New region: the Ashen Marches\n");
    ExpectContains(out, "Patch 1.2.0.0 :\n************\n- Co-operative campaign for two players\n");
    ExpectContains(out, "Install");
    const std::string log = RunLog();
    ExpectContains(log, " exit=0 outcome=installer-succeeded installer=0 ");
    ExpectContains(log, "switches=\"--console --yes\"");
}

// A game folder named in Latin-1 is started with exactly its own bytes; the run says every
// step on standard error and ends with 0.
TEST_F(ConsoleLauncherTest, Latin1GameFolderStartsWithItsOwnBytes) {
    const fs::path latin1 = m_sandbox.gameFolder.parent_path() / "Jeu \xe9t\xe9";
    fs::rename(m_sandbox.gameFolder, latin1);
    m_sandbox.gameFolder = latin1;
    m_baseUrl = "http://127.0.0.1:1/";
    auto launcher = Start({"--console", "--verbose"}, "latin1.out");
    ASSERT_TRUE(launcher->Started());
    const std::optional<int> status = launcher->Wait(kRunTimeout);
    ASSERT_TRUE(status.has_value()) << Output("latin1.out");
    EXPECT_EQ(*status, 0) << Output("latin1.out");
    const auto runs = m_runner->WaitForRuns(1, kRunTimeout);
    ASSERT_EQ(runs.size(), 1u) << Output("latin1.out");
    EXPECT_EQ(runs[0].args, std::vector<std::string>{latin1.string() + "/bin/velmora2.exe"});
    EXPECT_EQ(runs[0].workingFolder, fs::canonical(latin1 / "bin").string());
    ExpectContains(Output("latin1.out"), "catalogue: fetching http://127.0.0.1:1/patchinfo.xml");
    ExpectContains(RunLog(), " exit=0 outcome=game-started ");
}

// Started from the menu: the player is asked where the game is, the patch goes to the
// launcher's own folder and its installer runs there; the next start asks nothing.
TEST_F(ConsoleLauncherTest, MenuStartAsksForTheGameOnceAndPatchesOutsideHome) {
    auto first = Start({"--console"}, "menu.out", true, true);
    ASSERT_TRUE(first->WriteInput(m_sandbox.gameFolder.string() + "\ny\n\ny\n"));
    first->CloseInput();
    ASSERT_EQ(first->Wait(kRunTimeout), std::optional<int>(0)) << Output("menu.out");
    ExpectContains(Output("menu.out"), "Velmora II was not found in " + HomeFolder().string());
    const fs::path downloads = m_sandbox.root / "cache/velmora-launcher/downloads";
    const auto runs = m_runner->Runs();
    ASSERT_EQ(runs.size(), 1u) << Output("menu.out");
    EXPECT_EQ(runs[0].workingFolder, fs::canonical(downloads).string());
    EXPECT_TRUE(fs::is_empty(HomeFolder()));
    ExpectContains(FileContents(m_sandbox.root / "config/velmora-launcher/settings"),
                   "download-folder=" + downloads.string() + "\n");

    auto second = Start({"--console"}, "again.out", false, true);
    ASSERT_EQ(second->Wait(kRunTimeout), std::optional<int>(0)) << Output("again.out");
    EXPECT_EQ(Output("again.out").find("was not found"), std::string::npos) << Output("again.out");
}

// No runner: the installer's box says what to install, the game's box after it does not.
TEST_F(ConsoleLauncherTest, NoRunnerSaysWhatToInstallOnce) {
    fs::remove(m_runner->ScriptPath());
    auto launcher = Start({"--console", "--yes"}, "norunner.out");
    ASSERT_EQ(launcher->Wait(kRunTimeout), std::optional<int>(1)) << Output("norunner.out");
    const std::string out = Output("norunner.out");
    ExpectContains(out, "Failed to launch the patch.\n\nCannot start ");
    ExpectContains(out, "]\nFailed to launch the game.\n");
    const std::size_t reason = out.find("Install Wine from your system's packages");
    EXPECT_NE(reason, std::string::npos) << out;
    EXPECT_EQ(out.find("Install Wine", reason + 1), std::string::npos) << out;
}

TEST_F(ConsoleLauncherTest, GameThatCannotStartEndsWithStatus1) {
    fs::remove(m_sandbox.gameFolder / "bin/velmora2.exe");
    auto launcher = Start({"--console", "--yes"}, "missing.out");
    ASSERT_TRUE(launcher->Started());
    const std::optional<int> status = launcher->Wait(kRunTimeout);
    ASSERT_TRUE(status.has_value()) << Output("missing.out");
    EXPECT_EQ(*status, 1) << Output("missing.out");
    ExpectContains(Output("missing.out"), "Failed to launch the game.");
    ExpectContains(RunLog(), " exit=1 outcome=nothing-started ");
    // Nothing of the verbose trace without --verbose.
    EXPECT_EQ(Output("missing.out").find("[velmora "), std::string::npos);
}

TEST_F(ConsoleLauncherTest, PatchesInGermanWhenTheProfileSaysSo) {
    WriteProfile("German");
    ExpectPatchedRun("launcher.out");
    const std::string out = Output("launcher.out");
    ExpectContains(out,
                   "Ein neuer Patch ist verf\xC3\xBC"
                   "gbar. Momentan haben sie Version 1.0.0.0, der aktuellste Patch ist Version "
                   "1.2.0.0. M\xC3\xB6"
                   "chten sie den Patch herunterladen?");
    ExpectContains(out, "Ausgew\xC3\xA4hlte version:");
    ExpectContains(out, "Die Patch Dateien werden heruntergeladen nach:");
    // 1.1.0.0 has German notes; 1.2.0.0 has none and falls back to English.
    ExpectContains(out, "Patch 1.1.0.0 :\n************\n- Neue Region: die Aschenmark\n");
    ExpectContains(out, "Patch 1.2.0.0 :\n************\n- Co-operative campaign for two players\n");
    ExpectContains(out, "Installieren");
    EXPECT_EQ(out.find("Ashen Marches"), std::string::npos);
}

// A second launcher gives way to a running one, in the language of the profile, before it
// fetches anything; the first goes on undisturbed.
TEST_F(ConsoleLauncherTest, SecondLauncherEndsWithMessage215) {
    WriteProfile("German");
    auto first = Start({"--console"}, "first.out", true);
    ASSERT_TRUE(first->Started());
    // The first launcher now waits for the answer to the patch offer, holding the lock.
    const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
    while (Output("first.out").find("(y/n) ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(20));
    ASSERT_NE(Output("first.out").find("(y/n) "), std::string::npos) << Output("first.out");
    ASSERT_EQ(m_server.RequestsFor("/velmora2/patchinfo.xml").size(), 1u);

    auto second = Start({"--console", "--yes"}, "second.out");
    ASSERT_TRUE(second->Started());
    const std::optional<int> status = second->Wait(kSecondInstanceTimeout);
    ASSERT_TRUE(status.has_value()) << Output("second.out");
    EXPECT_EQ(*status, 3);
    const std::string out = Output("second.out");
    ExpectContains(out,
                   "Nur eine Instanz des Velmora II Launcher kann zu einem Zeitpunkt eingesetzt "
                   "werden.");
    EXPECT_EQ(m_server.RequestsFor("/velmora2/patchinfo.xml").size(), 1u);
    EXPECT_TRUE(m_runner->Runs().empty());

    // The end of its input answers the first launcher's question with neither yes nor no: the
    // offer is declined and the game starts.
    first->CloseInput();
    const std::optional<int> firstStatus = first->Wait(kRunTimeout);
    ASSERT_TRUE(firstStatus.has_value()) << Output("first.out");
    EXPECT_EQ(*firstStatus, 0);
    const auto runs = m_runner->WaitForRuns(1, kRunTimeout);
    ASSERT_EQ(runs.size(), 1u) << Output("first.out");
    EXPECT_EQ(runs[0].args,
              std::vector<std::string>{m_sandbox.gameFolder.string() + "/bin/velmora2.exe"});
    EXPECT_EQ(runs[0].workingFolder, fs::canonical(m_sandbox.gameFolder / "bin").string());
}

}  // namespace
