// A download through the launcher's own roads to a front end: the deferred front end makes the
// console (first choice or fallback) or the Qt module's front end, whose wizard runs the real
// page and worker on an offscreen display. The folder claim travels with the call through every
// wrapper, so while the worker receives, a second launcher cannot lock the folder. Only Qt's own
// classes are used here: the Qt wizard lives in the module.

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QWizard>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/update_flow.h"
#include "platform/folder_lock.h"
#include "tests/support/scoped_env.h"
#include "tests/wizard/wizard_fixture.h"
#include "text/utf8.h"
#include "transfer/curl_wrapper.h"
#include "ui/console/console_ui.h"
#include "ui/deferred_user_interface.h"
#include "ui/qt_front_end.h"

namespace {

enum class FrontEnd { kConsole, kConsoleFallback, kQtModule };

// The Qt wizard's own row of buttons (download_wizard.cpp): Next and Finish.
constexpr QWizard::WizardButton kNext = QWizard::CustomButton2;
constexpr QWizard::WizardButton kFinish = QWizard::CustomButton3;

bool Within20s(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::unique_ptr<UserInterface> Console() {
    return std::make_unique<ConsoleUserInterface>(stdin, stderr, true);
}

// Plays Next, then Finish once the second launcher has tried the lock, inside the wizard's
// modal loop; scripted says whether it got that far. A timer that looks again each tick, rather
// than one callback that waits, so it cannot fire before the wizard exists and then hold up the
// very loop that would show it.
void ScriptQtWizard(const std::atomic<bool>& tried, bool& scripted) {
    static int argc = 1;
    static char name[] = "qt_front_end_download_test";
    static char* argv[] = {name, nullptr};
    // The module's front end takes the application that is already there.
    static QApplication* application = new QApplication(argc, argv);
    auto* ticks = new QTimer(application);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto nextPressed = std::make_shared<bool>(false);
    QObject::connect(ticks, &QTimer::timeout, [ticks, deadline, nextPressed, &tried, &scripted] {
        auto* wizard = qobject_cast<QWizard*>(QApplication::activeModalWidget());
        if (wizard == nullptr || wizard->currentId() < 0)
            return;
        const bool late = std::chrono::steady_clock::now() > deadline;
        if (!*nextPressed) {
            *nextPressed = true;
            wizard->button(kNext)->click();
        } else if (tried.load() && wizard->button(kFinish)->isEnabled()) {
            scripted = true;
            ticks->deleteLater();
            wizard->button(kFinish)->click();
            return;
        }
        if (late) {
            ticks->deleteLater();
            wizard->reject();
        }
    });
    ticks->start(10);
}

class FrontEndDownloadTest : public ::testing::TestWithParam<FrontEnd> {};

TEST_P(FrontEndDownloadTest, TheFolderIsHeldWhileTheWorkerWrites) {
    const FrontEnd frontEnd = GetParam();
    ScopedEnv module("VELMORA_QT_MODULE", std::string(VELMORA_BINARY_DIR) + "/velmora-ui-qt.so");
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ServedPatch patch;
    ASSERT_TRUE(patch.server.IsRunning());
    const std::string bytes(4096, 'v');
    patch.AddFile("data.bin", bytes);
    patch.server.ServeBlocks("/data.bin", {bytes.substr(0, 2048), bytes.substr(2048)});
    // Both wizards propose the working folder.
    ScopedCurrentDirectory cwd(patch.folder.Path());
    ASSERT_TRUE(cwd.IsValid());
    const std::wstring folder = std::filesystem::current_path().wstring();

    std::wstring loadError;
    DeferredUserInterface::Maker preferred;
    if (frontEnd == FrontEnd::kConsole)
        preferred = Console;
    if (frontEnd == FrontEnd::kQtModule)
        preferred = [&] { return LoadQtUserInterface(false, loadError); };
    DeferredUserInterface ui(preferred, Console);
    CLauncherCommandLineInfo options;
    CCurlWrapper curl;
    auto info = std::make_unique<PatchInfo>(std::move(patch.info));
    UpdateFlow flow{options, ui, curl, info};

    std::atomic<bool> tried{false};
    platform::LockResult whileWriting = platform::LockResult::kTaken;
    std::thread second([&] {
        Within20s([&] { return !patch.server.RequestsFor("/data.bin").empty(); });
        platform::FolderLock other;
        whileWriting = other.TryLock(folder);
        tried.store(true);
    });
    bool scripted = frontEnd != FrontEnd::kQtModule;
    if (!scripted)
        ScriptQtWizard(tried, scripted);
    bool startGame = true;
    const bool finished = RunDownloadWizard(flow, startGame);
    second.join();

    EXPECT_EQ(ui.FellBack(), frontEnd == FrontEnd::kConsoleFallback) << WideToUtf8(loadError);
    EXPECT_TRUE(scripted);
    EXPECT_TRUE(finished);
    EXPECT_EQ(patch.folder.ReadFile("data.bin").value_or(""), bytes);
    EXPECT_EQ(whileWriting, platform::LockResult::kHeldElsewhere);
    // Held on for the installer that follows.
    EXPECT_TRUE(flow.folderLock.IsHeld());
    EXPECT_EQ(flow.lockedFolder, folder);
}

INSTANTIATE_TEST_SUITE_P(Roads, FrontEndDownloadTest,
                         ::testing::Values(FrontEnd::kConsole, FrontEnd::kConsoleFallback,
                                           FrontEnd::kQtModule),
                         [](const ::testing::TestParamInfo<FrontEnd>& row) -> std::string {
                             switch (row.param) {
                                 case FrontEnd::kConsole:
                                     return "Console";
                                 case FrontEnd::kConsoleFallback:
                                     return "ConsoleFallback";
                                 case FrontEnd::kQtModule:
                                     return "QtModule";
                             }
                             return "Unknown";
                         });

}  // namespace
