// Which front end the real velmora-launcher maps: a start that shows nothing maps no Qt library
// even with a display present, and a launcher whose Qt module is missing patches in the console.
// The loader's own report (LD_DEBUG=libs) lists every library the process opened, before main
// and after.

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
#include "tests/support/scoped_env.h"
#include "tests/support/served_sandbox.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A bound against a hang, not an expectation of speed.
constexpr milliseconds kRunTimeout{60000};

// A socket that answers like a Wayland compositor's: connections are queued, never served.
// Enough for the launcher's "is a display there" probe.
class FakeDisplaySocket {
  public:
    explicit FakeDisplaySocket(const fs::path& path) : m_path(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string text = path.string();
        if (text.size() >= sizeof(address.sun_path))
            return;
        std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 &&
            (bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
             listen(m_fd, 16) != 0)) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~FakeDisplaySocket() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FakeDisplaySocket(const FakeDisplaySocket&) = delete;
    FakeDisplaySocket& operator=(const FakeDisplaySocket&) = delete;

    bool IsListening() const { return m_fd >= 0; }
    const fs::path& Path() const { return m_path; }

  private:
    fs::path m_path;
    int m_fd = -1;
};

class FrontEndLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.IsValid());
        ASSERT_TRUE(m_server.IsRunning());
        fs::create_directories(m_root.PathOf("tools"));
        m_runner = std::make_unique<RecordingRunner>(m_root.PathOf("tools"), "runner");
        ASSERT_TRUE(m_runner->IsValid());
        std::string error;
        ASSERT_TRUE(
            ServeDemoSandbox(m_server, m_root.PathOf("sandbox"), 64 * 1024, m_sandbox, error))
            << error;
        m_display = std::make_unique<FakeDisplaySocket>(m_root.PathOf("wayland-test"));
        ASSERT_TRUE(m_display->IsListening());
    }

    // The test's environment with the loader's report on, the runner, the sandbox's folders,
    // a display answering when withDisplay, and the Qt module looked for at modulePath when
    // one is given.
    std::vector<std::string> Environment(bool withDisplay,
                                         const std::optional<std::string>& modulePath) const {
        const char* replaced[] = {
            "DISPLAY=",         "WAYLAND_DISPLAY=", "VELMORA_RUNNER=", "XDG_DATA_HOME=",
            "XDG_RUNTIME_DIR=", "XDG_CACHE_HOME=",  "LD_DEBUG=",       "VELMORA_QT_MODULE="};
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            bool skip = false;
            for (const char* name : replaced)
                skip = skip || std::strncmp(*e, name, std::strlen(name)) == 0;
            if (!skip)
                env.emplace_back(*e);
        }
        env.push_back("LD_DEBUG=libs");
        env.push_back("VELMORA_RUNNER=" + m_runner->ScriptPath().string());
        env.push_back("XDG_DATA_HOME=" + m_sandbox.dataHome.string());
        env.push_back("XDG_RUNTIME_DIR=" + m_sandbox.runtimeFolder.string());
        env.push_back("XDG_CACHE_HOME=" + m_root.PathOf("cache").string());
        if (withDisplay)
            env.push_back("WAYLAND_DISPLAY=" + m_display->Path().string());
        if (modulePath)
            env.push_back("VELMORA_QT_MODULE=" + *modulePath);
        return env;
    }

    std::string Run(const std::vector<std::string>& options, bool withDisplay,
                    const std::optional<std::string>& modulePath = std::nullopt) {
        std::vector<std::string> args = {VELMORA_LAUNCHER_PATH};
        args.insert(args.end(), options.begin(), options.end());
        const fs::path output = m_root.PathOf("output.txt");
        const std::optional<int> status =
            RunProgram(args, m_sandbox.downloadFolder, Environment(withDisplay, modulePath), output,
                       kRunTimeout);
        const std::string text = FileContents(output);
        EXPECT_EQ(status, std::optional<int>(0)) << text;
        return text;
    }

    std::vector<std::string> Road() const {
        return {"--url", m_server.Url("/velmora2/"), "--path", m_sandbox.gameFolder.string()};
    }

    void MakeGameUpToDate() {
        const std::vector<unsigned char> latest = DemoGameExecutable(m_sandbox.latestVersion);
        std::ofstream out(m_sandbox.gameExe, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(latest.data()),
                  static_cast<std::streamsize>(latest.size()));
    }

    static bool MapsQt(const std::string& loaderReport) {
        return loaderReport.find("libQt6") != std::string::npos;
    }

    TempDir m_root;
    LoopbackServer m_server;
    std::unique_ptr<RecordingRunner> m_runner;
    DemoSandbox m_sandbox;
    std::unique_ptr<FakeDisplaySocket> m_display;
};

TEST_F(FrontEndLauncherTest, VersionMapsNoQtLibrary) {
    const std::string report = Run({"--version"}, true);
    EXPECT_NE(report.find("velmora-launcher 1.0.0.38"), std::string::npos) << report;
    // The loader's report is really there: libcurl is opened before main.
    EXPECT_NE(report.find("libcurl"), std::string::npos) << report;
    EXPECT_FALSE(MapsQt(report)) << report;
}

TEST_F(FrontEndLauncherTest, UpToDateStartMapsNoQtLibraryWithOrWithoutDisplay) {
    MakeGameUpToDate();
    for (const bool withDisplay : {false, true}) {
        std::vector<std::string> options = Road();
        if (!withDisplay)
            options.push_back("--console");
        const std::string report = Run(options, withDisplay);
        EXPECT_FALSE(MapsQt(report)) << "display " << withDisplay << "\n" << report;
        EXPECT_EQ(report.find("velmora-ui-qt"), std::string::npos) << report;
    }
    // Both starts reached the game.
    EXPECT_EQ(m_runner->WaitForRuns(2, milliseconds(5000)).size(), 2u);
}

// The path of a shared library this test process has mapped whose name holds part.
std::string MappedLibrary(const std::string& part) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t slash = line.find('/');
        if (slash != std::string::npos && line.find(part, slash) != std::string::npos)
            return line.substr(slash);
    }
    return {};
}

TEST_F(FrontEndLauncherTest, ForeignQtModuleLeavesThePatchToTheConsole) {
    // A shared object in the module's place that is not the launcher's module (the maths
    // library): it passes the file checks and loads (through the checked descriptor, as the
    // loader's report shows) when the first window is due, but tells no interface version,
    // so it makes no front end, and --verbose says so.
    const std::string foreign = MappedLibrary("/libm.so");
    ASSERT_FALSE(foreign.empty());
    const fs::path broken = m_root.PathOf("modules/velmora-ui-qt.so");
    fs::create_directories(broken.parent_path());
    fs::copy_file(foreign, broken);
    std::vector<std::string> options = Road();
    options.push_back("--yes");
    options.push_back("--verbose");
    const std::string report = Run(options, true, broken.string());
    EXPECT_NE(report.find("calling init: /proc/self/fd/"), std::string::npos) << report;
    EXPECT_NE(
        report.find("the console serves: " + broken.string() + ": not the launcher's Qt module"),
        std::string::npos)
        << report;
    EXPECT_FALSE(MapsQt(report)) << report;
    for (const DemoFile& file : m_sandbox.patchFiles)
        EXPECT_EQ(FileContents(m_sandbox.downloadFolder / file.target), FileContents(file.served))
            << file.target << "\n"
            << report;
}

// --verbose says each transfer and digest in the windowed front end too (the worker runs in
// the Qt module).
TEST_F(FrontEndLauncherTest, VerboseWindowedRunSaysTheDownloadAndDigestLines) {
    ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    std::vector<std::string> options = Road();
    options.insert(options.end(), {"--yes", "--verbose"});
    const std::string report = Run(options, true);
    for (const DemoFile& file : m_sandbox.patchFiles)
        EXPECT_TRUE(report.find("] download: " + file.target + ": HTTP status 200") !=
                        report.npos &&
                    report.find("] digest: " + file.target + " md5 " + file.md5) != report.npos)
            << report;
}

}  // namespace
