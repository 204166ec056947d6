// The Qt download wizard, driven through its real modal Run on an offscreen display: the
// buttons of every stage, the folder check of Next, the download fed by a loopback server, and
// the ways out of it.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/patch_info.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt/qt_wizard_driver.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "ui/qt/download_wizard.h"
#include "ui/qt/page_download.h"
#include "ui/qt/page_install_path.h"
#include "ui/qt/qt_application.h"
#include "ui/user_interface.h"
#include "wizard/install_path_page_logic.h"
#include "wizard/wizard_buttons.h"

namespace {

using qt_test::ServedFile;
using qt_test::WaitFor;

struct RecordedBox {
    std::wstring text;
    std::wstring caption;
    unsigned style;
};

// What a button row looks like to the user: which buttons are there, which can be pressed.
struct ButtonsSeen {
    bool backShown, backEnabled, nextShown, nextEnabled, finishShown, finishEnabled, cancelShown,
        cancelEnabled;
};

ButtonsSeen Seen(const CVelLauncherDownloadWizard& wizard) {
    auto shown = [&wizard](QAbstractButton* b) { return b != nullptr && b->isVisibleTo(&wizard); };
    auto enabled = [](QAbstractButton* b) { return b != nullptr && b->isEnabled(); };
    return {shown(wizard.BackButton()),   enabled(wizard.BackButton()),
            shown(wizard.NextButton()),   enabled(wizard.NextButton()),
            shown(wizard.FinishButton()), enabled(wizard.FinishButton()),
            shown(wizard.CancelButton()), enabled(wizard.CancelButton())};
}

void ExpectPathPageButtons(const CVelLauncherDownloadWizard& wizard) {
    const ButtonsSeen b = Seen(wizard);
    EXPECT_TRUE(b.backShown && b.backEnabled);
    EXPECT_TRUE(b.nextShown && b.nextEnabled);
    EXPECT_FALSE(b.finishShown);
    EXPECT_TRUE(b.cancelShown && b.cancelEnabled);
}

class QtDownloadWizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureQtApplication();
        LanguageIndex = 0;
        ApplyLauncherLanguage();
        ASSERT_TRUE(m_server.IsRunning());
        ASSERT_TRUE(m_downloads.IsValid());
        MakeWizard();
    }

    // A wizard whose boxes are answered OK by the test and recorded.
    void MakeWizard() {
        m_wizard = std::make_unique<CVelLauncherDownloadWizard>();
        m_wizard->SetMessageBoxFunction([this](QWidget*, const std::wstring& text,
                                               const std::wstring& caption, unsigned style) {
            m_boxes.push_back({text, caption, style});
            return kIdOk;
        });
    }

    // A catalogue whose one patch file the server sends at `rate` bytes per second (0: at once).
    void MakeCatalogue(std::size_t bytes, std::size_t rate, bool wrongDigest = false) {
        BodyOptions options;
        options.bytesPerSecond = rate;
        m_info = qt_test::MakeServedCatalogue(
            m_server, {{"velmora2_patch_1.0.4.exe", std::string(bytes, 'p')}}, options,
            wrongDigest);
        m_wizard->m_pPatchInfo = m_info.get();
    }

    bool Run(const std::function<void(CVelLauncherDownloadWizard&)>& script) {
        return qt_test::RunScripted(*m_wizard, script);
    }

    // Types the folder on the first page and presses Next.
    static void EnterFolder(CVelLauncherDownloadWizard& wizard, const std::wstring& folder) {
        wizard.InstallPathPage()->PathEdit()->setText(QString::fromStdWString(folder));
        wizard.NextButton()->click();
    }

    bool BoxShown(int message) const {
        // The message opens the box's text; a reason may follow on the lines below.
        for (const RecordedBox& box : m_boxes)
            if (box.text.rfind(LoadMessage(message), 0) == 0)
                return true;
        return false;
    }

    std::size_t PatchRequests() const {
        return m_server.RequestsFor("/patch/velmora2_patch_1.0.4.exe").size();
    }

    LoopbackServer m_server;
    TempDir m_downloads;
    std::unique_ptr<PatchInfo> m_info;
    std::unique_ptr<CVelLauncherDownloadWizard> m_wizard;
    std::vector<RecordedBox> m_boxes;
};

TEST_F(QtDownloadWizardTest, FirstPageOffersBackNextAndCancelUnderTheLauncherCaption) {
    MakeCatalogue(16, 0);
    const bool result = Run([&](CVelLauncherDownloadWizard& w) {
        EXPECT_EQ(w.currentId(), CVelLauncherDownloadWizard::kInstallPathPageId);
        EXPECT_EQ(w.windowTitle().toStdWString(), LoadMessage(kMsgCaption));
        EXPECT_FALSE(w.windowIcon().isNull());
        EXPECT_FALSE(w.button(QWizard::HelpButton) != nullptr &&
                     w.button(QWizard::HelpButton)->isVisibleTo(&w));
        ExpectPathPageButtons(w);
        // Back is enabled on the first page, and leads nowhere.
        w.BackButton()->click();
        EXPECT_EQ(w.currentId(), CVelLauncherDownloadWizard::kInstallPathPageId);
        w.CancelButton()->click();
    });
    EXPECT_FALSE(result);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(QtDownloadWizardTest, FirstPageShowsTheWorkingFolderWithTheCaretAfterItAndNothingSelected) {
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        QLineEdit* edit = w.InstallPathPage()->PathEdit();
        ASSERT_TRUE(WaitFor([edit] { return edit->hasFocus(); }, 5000));
        EXPECT_EQ(edit->text().toStdWString(), ProposeDownloadFolder(PatchInfo{}));
        EXPECT_FALSE(edit->hasSelectedText());
        EXPECT_EQ(edit->cursorPosition(), edit->text().size());
        EXPECT_EQ(w.InstallPathPage()->PathDescription()->text().toStdWString(),
                  LoadMessage(kMsgDownloadFolderLabel));
    });
}

TEST_F(QtDownloadWizardTest, FrenchBackIsTheButtonMessage207NamesAndBrowseIsTranslated) {
    LanguageIndex = 1;
    ApplyLauncherLanguage();
    MakeWizard();
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        EXPECT_EQ(w.BackButton()->text(), QStringLiteral("< &Retour"));
        EXPECT_EQ(w.InstallPathPage()->BrowseButton()->text().toStdWString(), LoadTableEntry(352));
        // One left edge for the label, the folder and Browse.
        const int left = w.InstallPathPage()->PathEdit()->x();
        EXPECT_EQ(w.InstallPathPage()->PathDescription()->x(), left);
        EXPECT_EQ(w.InstallPathPage()->BrowseButton()->x(), left);
    });
    LanguageIndex = 0;
    ApplyLauncherLanguage();
}

TEST_F(QtDownloadWizardTest, AnUnchangedLatin1ProposalKeepsItsBytes) {
    const std::string raw = m_downloads.NarrowPath() +
                            "/T\xE9l\xE9"
                            "chargements";
    ASSERT_TRUE(std::filesystem::create_directory(raw));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(raw);
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        // Shown readably, taken back with the folder's own bytes.
        const std::wstring shown = w.InstallPathPage()->PathEdit()->text().toStdWString();
        EXPECT_EQ(shown, ForDisplay(Utf8ToWide(std::string_view(raw))));
        w.NextButton()->click();
        EXPECT_EQ(w.currentId(), CVelLauncherDownloadWizard::kDownloadPageId);
        w.CancelButton()->click();
    });
    std::filesystem::current_path(previous);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(WideToUtf8(std::wstring_view(m_info->download_folder)), raw);
}

TEST_F(QtDownloadWizardTest, VersionTextNamesTheInstalledRelease) {
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        EXPECT_EQ(w.InstallPathPage()->VersionText()->text().toStdWString(),
                  L"Selected version :\nVelmora II (1.0.2.0)");
    });
}

TEST_F(QtDownloadWizardTest, VersionTextWithoutAKnownReleaseIsTheLabelAndALineFeed) {
    MakeCatalogue(16, 0);
    m_info->installed_game = nullptr;
    Run([&](CVelLauncherDownloadWizard& w) {
        EXPECT_EQ(w.InstallPathPage()->VersionText()->text().toStdWString(),
                  L"Selected version :\n");
    });
}

TEST_F(QtDownloadWizardTest, PressingEnterOnTheFolderPressesNext) {
    MakeCatalogue(64, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        QLineEdit* edit = w.InstallPathPage()->PathEdit();
        edit->setText(QString::fromStdWString(m_downloads.WidePath()));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(edit, &press);
        EXPECT_EQ(w.currentId(), CVelLauncherDownloadWizard::kDownloadPageId);
    });
}

TEST_F(QtDownloadWizardTest, BrowseReplacesTheFolderOnlyWhenOneWasChosen) {
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        CVelLauncherPageInstallPath* page = w.InstallPathPage();
        std::wstring offered;
        page->PathEdit()->setText(QStringLiteral("/typed/by/hand"));
        page->SetFolderChooser(
            [&offered](const std::wstring& initial, std::wstring& out, QWidget*) {
                offered = initial;
                out.clear();
                return false;
            });
        page->BrowseButton()->click();
        EXPECT_EQ(offered, L"/typed/by/hand");
        EXPECT_EQ(page->PathEdit()->text(), QStringLiteral("/typed/by/hand"));

        page->SetFolderChooser([](const std::wstring&, std::wstring& out, QWidget*) {
            out = L"/chosen/folder";
            return true;
        });
        page->BrowseButton()->click();
        EXPECT_EQ(page->PathEdit()->text(), QStringLiteral("/chosen/folder"));
    });
}

// --- Next refused ------------------------------------------------------------------------

struct RefusedFolder {
    const char* label;
    // Makes the folder text to type; empty optional result: the case cannot be made here.
    std::function<std::optional<std::wstring>(const TempDir&)> make;
};

class QtNextRefusedTest : public QtDownloadWizardTest,
                          public ::testing::WithParamInterface<RefusedFolder> {};

TEST_P(QtNextRefusedTest, ShowsMessage209AndStaysOnTheFirstPage) {
    const std::optional<std::wstring> folder = GetParam().make(m_downloads);
    if (!folder)
        GTEST_SKIP() << "no such folder can be made here";
    MakeCatalogue(16, 0);
    m_info->download_folder = L"before";
    Run([&](CVelLauncherDownloadWizard& w) {
        EnterFolder(w, *folder);
        EXPECT_EQ(w.currentId(), CVelLauncherDownloadWizard::kInstallPathPageId);
        ExpectPathPageButtons(w);
        // What was typed stays for the user to correct.
        EXPECT_EQ(w.InstallPathPage()->PathEdit()->text().toStdWString(), *folder);
    });
    ASSERT_EQ(m_boxes.size(), 1u);
    // Message 209, and below it why, naming the folder; nothing typed, nothing to name.
    const std::wstring& text = m_boxes[0].text;
    if (folder->empty()) {
        EXPECT_EQ(text, LoadMessage(kMsgInvalidFolder));
    } else {
        EXPECT_EQ(text.rfind(LoadMessage(kMsgInvalidFolder) + L"\n", 0), 0u);
        EXPECT_NE(text.find(*folder, LoadMessage(kMsgInvalidFolder).size()), std::wstring::npos);
    }
    EXPECT_EQ(m_boxes[0].caption, LoadMessage(kMsgCaption));
    EXPECT_EQ(m_boxes[0].style, kMbOk | kMbIconError);
    EXPECT_EQ(m_info->download_folder, L"before");
    EXPECT_EQ(PatchRequests(), 0u);
}

// A folder nobody may create files in: a read-only one, or, for a user whom permissions do not
// stop, a system folder that takes no new files at all.
std::optional<std::wstring> ReadOnlyFolder(const TempDir& dir) {
    namespace fs = std::filesystem;
    const fs::path folder = dir.PathOf("read-only");
    std::error_code error;
    fs::create_directory(folder, error);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, error);
    if (CheckDownloadFolder(folder.wstring()) == FolderCheck::kNotWritable)
        return folder.wstring();
    // Permissions do not hold back this user; give the folder back its rights for clean-up.
    fs::permissions(folder, fs::perms::owner_all, error);
    for (const wchar_t* system : {L"/sys", L"/proc"})
        if (CheckDownloadFolder(system) == FolderCheck::kNotWritable)
            return std::wstring(system);
    return std::nullopt;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, QtNextRefusedTest,
    ::testing::Values(
        RefusedFolder{"Empty", [](const TempDir&) { return std::optional<std::wstring>(L""); }},
        RefusedFolder{"Missing",
                      [](const TempDir& dir) {
                          return std::optional<std::wstring>(dir.WidePathOf("not-there"));
                      }},
        RefusedFolder{"File",
                      [](const TempDir& dir) {
                          dir.WriteFile("a-file", "x");
                          return std::optional<std::wstring>(dir.WidePathOf("a-file"));
                      }},
        RefusedFolder{"ReadOnly", ReadOnlyFolder}),
    [](const ::testing::TestParamInfo<RefusedFolder>& info) { return info.param.label; });

// --- The download page -------------------------------------------------------------------

TEST_F(QtDownloadWizardTest, DownloadRunsWithFinishDisabledThenInstallEndsTheWizardWithTrue) {
    MakeCatalogue(400 * 1000, 200 * 1000);
    const bool result = Run([&](CVelLauncherDownloadWizard& w) {
        EnterFolder(w, m_downloads.WidePath());
        ASSERT_EQ(w.currentId(), CVelLauncherDownloadWizard::kDownloadPageId);
        EXPECT_EQ(m_info->download_folder, m_downloads.WidePath());
        CVelLauncherPageDownload* page = w.DownloadPage();
        EXPECT_NE(page->ChangelogView()->toPlainText().indexOf(QStringLiteral("Patch 1.0.4.0 :")),
                  -1);
        EXPECT_TRUE(page->ChangelogView()->isReadOnly());

        const ButtonsSeen running = Seen(w);
        EXPECT_FALSE(running.backEnabled);
        EXPECT_FALSE(running.nextShown && running.nextEnabled);
        EXPECT_TRUE(running.finishShown);
        EXPECT_FALSE(running.finishEnabled);
        EXPECT_TRUE(running.cancelShown && running.cancelEnabled);

        // The worker's messages reach the widgets through the GUI thread's event loop.
        EXPECT_TRUE(WaitFor([page] {
            return page->FullProgressText().startsWith(QStringLiteral("Downloading "));
        }));
        ASSERT_TRUE(WaitFor([&w] { return w.FinishButton()->isEnabled(); }));
        EXPECT_EQ(page->ProgressBar()->value(), 100);

        const ButtonsSeen verified = Seen(w);
        EXPECT_FALSE(verified.backShown);
        EXPECT_FALSE(verified.nextShown);
        EXPECT_TRUE(verified.finishShown && verified.finishEnabled);
        EXPECT_TRUE(verified.cancelShown && verified.cancelEnabled);
        // Message 217 with a keyboard accelerator, like Back, Next and Finish.
        EXPECT_EQ(w.FinishButton()->text().toStdWString(), L"&" + LoadMessage(kMsgInstall));
        w.FinishButton()->click();
    });
    EXPECT_TRUE(result);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_downloads.ReadFile("velmora2_patch_1.0.4.exe"), std::string(400 * 1000, 'p'));
}

TEST_F(QtDownloadWizardTest,
       FailedVerificationShowsMessage207ThenBackKeepsTheFolderAndNextStartsAFreshWorker) {
    MakeCatalogue(2000, 0, /*wrongDigest=*/true);
    const std::wstring folder = m_downloads.WidePath() + L"/";
    Run([&](CVelLauncherDownloadWizard& w) {
        EnterFolder(w, folder);
        ASSERT_TRUE(WaitFor([this] { return BoxShown(kMsgFilesCorrupted); }));
        // The box is closed; the stage follows it.
        ASSERT_TRUE(WaitFor([&w] { return w.BackButton()->isEnabled(); }));
        // The page itself says what failed, the file named.
        EXPECT_EQ(w.DownloadPage()->PatchText()->text().toStdWString(),
                  LoadMessage(kMsgFilesCorrupted) +
                      L"\nFile that failed: velmora2_patch_1.0.4.exe\n" +
                      LoadMessage(kMsgWayForwardResume));
        EXPECT_NE(w.DownloadPage()->ProgressBar()->value(), 100);
        const ButtonsSeen failed = Seen(w);
        EXPECT_TRUE(failed.backShown && failed.backEnabled);
        EXPECT_FALSE(failed.nextShown);
        EXPECT_TRUE(failed.finishShown);
        EXPECT_FALSE(failed.finishEnabled);
        EXPECT_TRUE(failed.cancelShown && failed.cancelEnabled);
        EXPECT_NE(w.FinishButton()->text().toStdWString(), LoadMessage(kMsgInstall));

        w.BackButton()->click();
        ASSERT_EQ(w.currentId(), CVelLauncherDownloadWizard::kInstallPathPageId);
        ExpectPathPageButtons(w);
        QLineEdit* edit = w.InstallPathPage()->PathEdit();
        EXPECT_EQ(edit->text().toStdWString(), folder);
        ASSERT_TRUE(WaitFor([edit] { return edit->hasFocus(); }, 5000));
        EXPECT_FALSE(edit->hasSelectedText());

        m_boxes.clear();
        w.NextButton()->click();
        ASSERT_EQ(w.currentId(), CVelLauncherDownloadWizard::kDownloadPageId);
        EXPECT_FALSE(w.FinishButton()->isEnabled());
        // Only a worker started afresh can give a verdict again.
        EXPECT_TRUE(WaitFor([this] { return BoxShown(kMsgFilesCorrupted); }));
    });
    // The folder was stored as typed, separator and all.
    EXPECT_EQ(m_info->download_folder, folder);
    for (const RecordedBox& box : m_boxes) {
        EXPECT_EQ(box.caption, LoadMessage(kMsgCaption));
        EXPECT_EQ(box.style, kMbOk | kMbIconError);
    }
}

// --yes: the wizard presses Next and Install itself, and Cancel after a failure, whose cause
// the caller is told.
TEST_F(QtDownloadWizardTest, AnsweringForThePlayerPressesNextThenInstallOrCancel) {
    for (const bool wrongDigest : {false, true}) {
        SCOPED_TRACE(wrongDigest);
        MakeWizard();
        MakeCatalogue(2000, 0, wrongDigest);
        m_boxes.clear();
        ScopedCurrentDirectory here(m_downloads.Path());
        ASSERT_TRUE(here.IsValid());
        m_wizard->AnswerForThePlayer(true);
        DownloadWizardRequest request;
        std::vector<Failure> reported;
        request.failureReport = [&reported](const Failure& failure) {
            reported.push_back(failure);
        };
        EXPECT_EQ(m_wizard->Run(request), !wrongDigest);
        EXPECT_EQ(m_info->download_folder, m_downloads.WidePath());
        EXPECT_EQ(BoxShown(kMsgFilesCorrupted), wrongDigest);
        ASSERT_EQ(reported.size(), wrongDigest ? 1u : 0u);
        if (wrongDigest) {
            EXPECT_EQ(reported[0].cause, FailureClass::kDigestMismatch);
        }
    }
}

// --- Leaving during a download -----------------------------------------------------------

enum class WayOut { kCancelButton, kEscapeKey, kCloseWindow };

class QtLeaveDuringDownloadTest : public QtDownloadWizardTest,
                                  public ::testing::WithParamInterface<WayOut> {};

TEST_P(QtLeaveDuringDownloadTest, StopsTheWorkerWithinTheBoundAndReturnsFalse) {
    // A server that announces a large file and then goes quiet: only the stop request can end
    // the transfer before the server gives up a minute later.
    MakeCatalogue(16, 0);
    m_server.ServeStall("/patch/velmora2_patch_1.0.4.exe", std::string(1000, 's'), 10 * 1000 * 1000,
                        std::chrono::seconds(60));
    m_info->installed_game->latest->download_list[0]->size = 10 * 1000 * 1000;
    const bool result = Run([&](CVelLauncherDownloadWizard& w) {
        EnterFolder(w, m_downloads.WidePath());
        ASSERT_TRUE(WaitFor([this] { return PatchRequests() > 0; }));
        ASSERT_TRUE(WaitFor([&] { return m_downloads.Exists("velmora2_patch_1.0.4.exe"); }));
        EXPECT_TRUE(w.DownloadPage()->Logic().WorkerRunning());
        switch (GetParam()) {
            case WayOut::kCancelButton:
                w.CancelButton()->click();
                break;
            case WayOut::kEscapeKey: {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(&w, &escape);
                break;
            }
            case WayOut::kCloseWindow:
                w.close();
                break;
        }
        EXPECT_FALSE(w.isVisible());
    });
    EXPECT_FALSE(result);
    EXPECT_TRUE(m_wizard->WorkerStoppedAtClose());
    EXPECT_TRUE(m_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, QtLeaveDuringDownloadTest,
                         ::testing::Values(WayOut::kCancelButton, WayOut::kEscapeKey,
                                           WayOut::kCloseWindow),
                         [](const ::testing::TestParamInfo<WayOut>& info) {
                             switch (info.param) {
                                 case WayOut::kCancelButton:
                                     return "CancelButton";
                                 case WayOut::kEscapeKey:
                                     return "EscapeKey";
                                 case WayOut::kCloseWindow:
                                     return "CloseWindow";
                             }
                             return "Unknown";
                         });

// --- Texts fit their places --------------------------------------------------------------

class QtPageTextsFitTest : public QtDownloadWizardTest,
                           public ::testing::WithParamInterface<int> {};

TEST_P(QtPageTextsFitTest, EveryTextOfTheFirstPageHasRoomInTheLanguage) {
    LanguageIndex = GetParam();
    ApplyLauncherLanguage();
    MakeWizard();
    MakeCatalogue(16, 0);
    Run([&](CVelLauncherDownloadWizard& w) {
        CVelLauncherPageInstallPath* page = w.InstallPathPage();
        for (QLabel* label : {page->PathDescription(), page->VersionText()}) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << label->text().toStdString();
            EXPECT_GE(label->geometry().top(), 0);
        }
        // The label above the folder never reaches into it.
        EXPECT_LE(page->PathDescription()->geometry().bottom(), page->PathEdit()->geometry().top());
        for (QAbstractButton* button : {static_cast<QAbstractButton*>(page->BrowseButton()),
                                        w.BackButton(), w.NextButton(), w.CancelButton()})
            EXPECT_LE(button->sizeHint().width(), button->width()) << button->text().toStdString();
    });
    LanguageIndex = 0;
    ApplyLauncherLanguage();
}

INSTANTIATE_TEST_SUITE_P(Languages, QtPageTextsFitTest, ::testing::Values(0, 1, 2));

// Every visible button of the shown page and its row has a key, and no two the same.
void ExpectUniqueKeys(CVelLauncherDownloadWizard& w) {
    std::wstring keys, table;
    for (QAbstractButton* button : w.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&w))  // the pages not shown are hidden, their buttons too
            continue;
        const std::wstring own = AcceleratorsOf(button->text().toStdWString());
        EXPECT_EQ(own.size(), 1u) << button->text().toStdString();
        keys += own;
        table += L" | " + button->text().toStdWString();
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << WideToUtf8(table);
}

// In the language, by keyboard: unique keys on every page; Enter presses the focused button
// (Browse opens the chooser, "Try again" starts over); "Play without the patch" ends the wizard
// and tells the caller.
TEST_P(QtPageTextsFitTest, UniqueKeysEnterOnTheFocusedButtonAndTheWaysForward) {
    LanguageIndex = GetParam();
    ApplyLauncherLanguage();
    MakeWizard();
    MakeCatalogue(2000, 0, /*wrongDigest=*/true);
    int plays = 0;
    DownloadWizardRequest request;
    request.playWithoutPatch = [&plays] { ++plays; };
    auto enter = [](QWidget* target) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
    };
    const bool result = qt_test::RunScripted(
        *m_wizard,
        [&](CVelLauncherDownloadWizard& w) {
            ExpectUniqueKeys(w);
            int chosen = 0;
            w.InstallPathPage()->SetFolderChooser(
                [&chosen](auto&, std::wstring&, QWidget*) { return ++chosen < 0; });
            w.InstallPathPage()->BrowseButton()->setFocus();
            enter(w.InstallPathPage()->BrowseButton());
            EXPECT_EQ(chosen, 1);
            EnterFolder(w, m_downloads.WidePath());
            ExpectUniqueKeys(w);
            CVelLauncherPageDownload* page = w.DownloadPage();
            ASSERT_TRUE(WaitFor([page] { return page->TryAgainButton()->isVisible(); }));
            ExpectUniqueKeys(w);
            enter(page->TryAgainButton());
            ASSERT_TRUE(WaitFor([this] { return m_boxes.size() == 2; }));
            ASSERT_TRUE(WaitFor([page] { return page->PlayWithoutPatchButton()->isVisible(); }));
            page->PlayWithoutPatchButton()->click();
        },
        60000, request);
    EXPECT_FALSE(result);
    EXPECT_EQ(plays, 1);
    LanguageIndex = 0;
    ApplyLauncherLanguage();
}

// Screen readers find the folder by its label, the notes and the bar by their names, and a
// verified page that says so; a larger window gives its room to the notes.
TEST_F(QtDownloadWizardTest, ScreenReadersFindNamesAndALargerWindowGrowsTheNotes) {
    MakeCatalogue(2000, 0);
    auto name = [](QObject* object) {
        return QAccessible::queryAccessibleInterface(object)
            ->text(QAccessible::Name)
            .toStdWString();
    };
    Run([&](CVelLauncherDownloadWizard& w) {
        CVelLauncherPageInstallPath* first = w.InstallPathPage();
        EXPECT_EQ(first->PathDescription()->buddy(), first->PathEdit());
        EXPECT_EQ(name(first->PathEdit()), LoadMessage(kMsgDownloadFolderLabel));
        EnterFolder(w, m_downloads.WidePath());
        CVelLauncherPageDownload* page = w.DownloadPage();
        EXPECT_EQ(name(page->ChangelogView()), LoadMessage(kMsgReleaseNotes));
        EXPECT_EQ(name(page->ProgressBar()), LoadMessage(kMsgDownloadProgress));
        ASSERT_TRUE(WaitFor([&w] { return w.FinishButton()->isEnabled(); }));
        EXPECT_EQ(name(page->PatchText()), LoadMessage(kMsgOneFileChecked));
        const QSize before = page->ChangelogView()->size();
        w.resize(w.width() + 200, w.height() + 100);
        ASSERT_TRUE(WaitFor([&] { return page->ChangelogView()->width() > before.width(); }));
        EXPECT_EQ(page->ChangelogView()->size(), before + QSize(200, 100));
    });
}

}  // namespace
