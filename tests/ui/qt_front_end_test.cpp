// The Qt front end as the launcher meets it: a module opened on the first window, a platform
// chosen before Qt can abort on a missing one, and the console whenever the module fails.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "ui/deferred_user_interface.h"
#include "ui/qt_front_end.h"
#include "ui/qt_platform_choice.h"

namespace {

const std::string kModule = std::string(VELMORA_BINARY_DIR) + "/velmora-ui-qt.so";

bool ProcessMapsQt() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libQt6") != std::string::npos)
            return true;
    }
    return false;
}

// Answers every box with a fixed button and counts what reached it.
class CountingUserInterface : public UserInterface {
  public:
    CountingUserInterface(int answer, int* calls) : m_answer(answer), m_calls(calls) {}
    int MessageBox(const std::wstring&, const std::wstring&, unsigned) override {
        ++*m_calls;
        return m_answer;
    }
    bool RunDownloadWizard(PatchInfo&, const DownloadWizardRequest&) override {
        ++*m_calls;
        return true;
    }
    bool AskGameFolder(const std::wstring&, const std::wstring&, std::wstring&) override {
        return false;
    }

  private:
    int m_answer;
    int* m_calls;
};

class DeferredUserInterfaceTest : public ::testing::Test {
  protected:
    DeferredUserInterface::Maker Counted(int answer, int* made, int* calls) {
        return [=]() -> std::unique_ptr<UserInterface> {
            ++*made;
            return std::make_unique<CountingUserInterface>(answer, calls);
        };
    }
    int m_preferredMade = 0, m_preferredCalls = 0, m_fallbackMade = 0, m_fallbackCalls = 0;
};

TEST_F(DeferredUserInterfaceTest, MakesNothingUntilTheFirstBoxThenOnlyOnce) {
    DeferredUserInterface ui(Counted(kIdYes, &m_preferredMade, &m_preferredCalls),
                             Counted(kIdNo, &m_fallbackMade, &m_fallbackCalls));
    EXPECT_FALSE(ui.Made());
    EXPECT_EQ(m_preferredMade, 0);
    EXPECT_EQ(ui.MessageBox(L"text", L"caption", kMbYesNo), kIdYes);
    EXPECT_EQ(ui.MessageBox(L"text", L"caption", kMbYesNo), kIdYes);
    EXPECT_TRUE(ui.Made());
    EXPECT_FALSE(ui.FellBack());
    EXPECT_EQ(m_preferredMade, 1);
    EXPECT_EQ(m_preferredCalls, 2);
    EXPECT_EQ(m_fallbackMade, 0);
}

TEST_F(DeferredUserInterfaceTest, FallsBackForGoodWhenThePreferredOneCannotBeMade) {
    DeferredUserInterface ui(
        [this]() -> std::unique_ptr<UserInterface> {
            ++m_preferredMade;
            return nullptr;
        },
        Counted(kIdNo, &m_fallbackMade, &m_fallbackCalls));
    EXPECT_EQ(ui.MessageBox(L"text", L"caption", kMbYesNo), kIdNo);
    EXPECT_TRUE(ui.FellBack());
    EXPECT_EQ(ui.MessageBox(L"text", L"caption", kMbYesNo), kIdNo);
    EXPECT_EQ(m_preferredMade, 1);
    EXPECT_EQ(m_fallbackMade, 1);
    EXPECT_EQ(m_fallbackCalls, 2);
}

TEST(QtPlatformChoiceTest, PrefersWaylandAndNeedsBothPluginAndDisplay) {
    const std::vector<std::string> both = {"libqxcb.so", "libqwayland-egl.so", "libqoffscreen.so"};
    const std::vector<std::string> x11Only = {"libqxcb.so", "libqoffscreen.so", "libqvnc.so"};
    std::string chosen;
    EXPECT_TRUE(ChooseQtPlatform(both, {true, true}, chosen));
    EXPECT_EQ(chosen, "wayland");
    EXPECT_TRUE(ChooseQtPlatform(both, {false, true}, chosen));
    EXPECT_EQ(chosen, "xcb");
    // A Wayland-only desktop without the Wayland plugin: no window, the console instead.
    EXPECT_FALSE(ChooseQtPlatform(x11Only, {true, false}, chosen));
    EXPECT_TRUE(chosen.empty());
    EXPECT_TRUE(ChooseQtPlatform(x11Only, {true, true}, chosen));
    EXPECT_EQ(chosen, "xcb");
    EXPECT_FALSE(ChooseQtPlatform(both, {false, false}, chosen));
    // Only a shared object counts as a plugin, not a leftover of another kind.
    EXPECT_FALSE(ChooseQtPlatform({"libqxcb.so.debug"}, {false, true}, chosen));
}

class QtModuleTest : public ::testing::Test {
  protected:
    TempDir m_root;
};

TEST_F(QtModuleTest, QtIsMappedOnlyOnceTheModuleIsLoaded) {
    ScopedEnv module("VELMORA_QT_MODULE", kModule);
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ASSERT_EQ(QtModuleCandidates(), std::vector<std::wstring>{Utf8ToWide(kModule)});
    EXPECT_FALSE(ProcessMapsQt());
    std::wstring error;
    std::unique_ptr<UserInterface> ui = LoadQtUserInterface(true, error);
    ASSERT_NE(ui, nullptr) << WideToUtf8(error);
    EXPECT_TRUE(ProcessMapsQt());
    // An unattended run answers in the module's front end without a window.
    EXPECT_EQ(ui->MessageBox(L"Patch now?", L"Velmora", kMbYesNo | kMbIconQuestion), kIdYes);
    EXPECT_EQ(ui->MessageBox(L"Done.", L"Velmora", kMbOk), kIdOk);
}

TEST_F(QtModuleTest, NoUsablePlatformIsRefusedBeforeQtStarts) {
    ScopedEnv module("VELMORA_QT_MODULE", kModule);
    ScopedEnv platform("QT_QPA_PLATFORM", std::nullopt);
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    ScopedEnv x11("DISPLAY", std::nullopt);
    std::wstring error;
    // Qt would abort the process here; the module says no and the test goes on.
    EXPECT_EQ(LoadQtUserInterface(false, error), nullptr);
    EXPECT_NE(error.find(L"no Qt platform"), std::wstring::npos) << WideToUtf8(error);
}

// Whatever stands in the module's place, the loader says why it refused it and maps no Qt:
// no SIGBUS from a cut copy, no hang on a FIFO, no call into another release's module.
TEST_F(QtModuleTest, MissingOrForeignModuleIsReportedNotFatal) {
    const std::string path = m_root.PathOf("velmora-ui-qt.so").string();
    const std::string built = FileContents(kModule);
    ASSERT_GT(built.size(), 4096u);
    const struct {
        const char* what;
        std::function<void()> plant;
        std::string module;
        std::wstring reason;
    } rows[] = {
        {"missing", [] {}, path, L"not installed"},
        {"not a shared object", [&] { std::ofstream(path) << "not a module"; }, path,
         L"not a shared object"},
        {"cut short", [&] { std::ofstream(path, std::ios::binary) << built.substr(0, 4096); }, path,
         L"cut short"},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, path, L"not a regular file"},
        {"another release", [] {}, VELMORA_FOREIGN_QT_MODULE, L"another release"},
    };
    const bool mappedBefore = ProcessMapsQt();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::filesystem::remove(path);
        row.plant();
        ScopedEnv module("VELMORA_QT_MODULE", row.module);
        std::wstring error;
        EXPECT_EQ(LoadQtUserInterface(false, error), nullptr);
        EXPECT_NE(error.find(row.reason), std::wstring::npos) << WideToUtf8(error);
    }
    EXPECT_EQ(ProcessMapsQt(), mappedBefore);
}

}  // namespace
