// The Qt front end's message boxes, answered by the test from inside their own event loop on an
// offscreen display, and the lazily created application.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "text/messages.h"
#include "ui/checking_run.h"
#include "ui/qt/checking_window.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_message_box.h"
#include "ui/qt/qt_user_interface.h"
#include "ui/user_interface.h"

namespace {

// What the box looked like, seen from inside its event loop.
struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool hasWindowIcon = false;
};

// Schedules a look at the next modal box, then presses `press` on it (NoButton: closes it
// from the window frame instead).
void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        if (QPushButton* pressed = box->defaultButton())
            seen.defaultButton = box->standardButton(pressed);
        seen.hasWindowIcon = !box->windowIcon().isNull();
        if (press == QMessageBox::NoButton)
            box->close();
        else
            box->button(press)->click();
    });
}

class QtMessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureQtApplication();
        LanguageIndex = 0;
        ApplyLauncherLanguage();
    }
    void TearDown() override {
        LanguageIndex = 0;
        ApplyLauncherLanguage();
    }
};

struct StyleCase {
    const char* label;
    unsigned style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int expected;
};

class QtMessageBoxStyleTest : public QtMessageBoxTest,
                              public ::testing::WithParamInterface<StyleCase> {};

TEST_P(QtMessageBoxStyleTest, ShowsTheStyleAndReportsTheButtonPressed) {
    const StyleCase& c = GetParam();
    QtUserInterface ui(/*assumeYes=*/false);
    SeenBox seen;
    AnswerNextBox(seen, c.press);
    const int answer = ui.MessageBox(L"Text <b>as is</b>", L"Caption", c.style);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(answer, c.expected);
    EXPECT_EQ(seen.title, QStringLiteral("Caption"));
    // Texts are never read as markup.
    EXPECT_EQ(seen.text, QStringLiteral("Text <b>as is</b>"));
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_TRUE(seen.hasWindowIcon);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, QtMessageBoxStyleTest,
    ::testing::Values(StyleCase{"QuestionYes", kMbYesNo | kMbIconQuestion, QMessageBox::Question,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, kIdYes},
                      StyleCase{"QuestionNo", kMbYesNo | kMbIconQuestion, QMessageBox::Question,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No, kIdNo},
                      StyleCase{"WarningYes", kMbYesNo | kMbIconWarning, QMessageBox::Warning,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, kIdYes},
                      StyleCase{"WarningClosedFromTheFrame", kMbYesNo | kMbIconWarning,
                                QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::NoButton, kIdNo},
                      StyleCase{"ErrorOk", kMbOk | kMbIconError, QMessageBox::Critical,
                                QMessageBox::Ok, QMessageBox::Ok, kIdOk},
                      StyleCase{"ErrorClosedFromTheFrame", kMbOk | kMbIconError,
                                QMessageBox::Critical, QMessageBox::Ok, QMessageBox::NoButton,
                                kIdOk}),
    [](const ::testing::TestParamInfo<StyleCase>& info) { return info.param.label; });

TEST_F(QtMessageBoxTest, YesIsTheButtonEnterPresses) {
    SeenBox seen;
    AnswerNextBox(seen, QMessageBox::No);
    ShowQtMessageBox(nullptr, L"Question", L"Caption", kMbYesNo | kMbIconQuestion);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
}

TEST_F(QtMessageBoxTest, ErrorMessageCarriesTheCaptionOfTheCurrentLanguage) {
    LanguageIndex = 1;
    QtUserInterface ui(false);
    SeenBox seen;
    AnswerNextBox(seen, QMessageBox::Ok);
    ShowErrorMessage(ui, LoadMessage(kMsgSingleInstance));
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, QStringLiteral("Lancement Velmora II"));
    EXPECT_EQ(seen.text.toStdWString(), LoadMessage(kMsgSingleInstance));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(QtMessageBoxTest, QtsOwnButtonsSpeakTheLauncherLanguage) {
    LanguageIndex = 2;
    ApplyLauncherLanguage();
    SeenBox seen;
    QString yesText;
    QTimer::singleShot(0, [&yesText] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            yesText = box->button(QMessageBox::Yes)->text();
            box->button(QMessageBox::No)->click();
        }
    });
    ShowQtMessageBox(nullptr, L"Frage", L"Velmora II Launcher", kMbYesNo | kMbIconQuestion);
    // The translation ships with Qt; without it Qt speaks English and there is nothing to check.
    if (yesText == QStringLiteral("&Yes"))
        GTEST_SKIP() << "Qt's German texts are not installed";
    EXPECT_EQ(yesText.remove(QLatin1Char('&')), QStringLiteral("Ja"));
}

TEST_F(QtMessageBoxTest, AssumeYesAnswersWithoutShowingAnything) {
    QtUserInterface ui(/*assumeYes=*/true);
    bool boxAppeared = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&boxAppeared] {
        if (QApplication::activeModalWidget() != nullptr) {
            boxAppeared = true;
            QApplication::activeModalWidget()->close();
        }
    });
    probe.start(0);
    EXPECT_EQ(ui.MessageBox(L"Offer", L"Caption", kMbYesNo | kMbIconQuestion), kIdYes);
    EXPECT_EQ(ui.MessageBox(L"Launcher out of date", L"Caption", kMbYesNo | kMbIconWarning),
              kIdYes);
    EXPECT_EQ(ui.MessageBox(L"Failed", L"Caption", kMbOk | kMbIconError), kIdOk);
    QCoreApplication::processEvents();
    EXPECT_FALSE(boxAppeared);
}

TEST(QtApplicationTest, ProductIconAndBannerComeFromTheCompiledResources) {
    EnsureQtApplication();
    const QIcon icon = ProductIcon();
    for (int size : {16, 32, 48}) {
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        EXPECT_EQ(pixmap.size(), QSize(size, size)) << size;
    }
    // Double density takes a drawing made at that many pixels, not a blown-up copy.
    const QImage sharp = icon.pixmap(QSize(16, 16), 2.0)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    bool drawn = false;
    for (const char* file : {":/velmora/icon-16@2x.png", ":/velmora/icon-32.png"})
        drawn = drawn || sharp == QImage(QString::fromLatin1(file))
                                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(drawn);

    const QPixmap banner = SideBanner(QSize(kSideBannerWidth, kSideBannerHeight), 1.0);
    EXPECT_EQ(banner.size(), QSize(kSideBannerWidth, kSideBannerHeight));
    const QPixmap bannerHiDpi = SideBanner(QSize(kSideBannerWidth, kSideBannerHeight), 2.0);
    EXPECT_EQ(bannerHiDpi.size(), QSize(2 * kSideBannerWidth, 2 * kSideBannerHeight));
    EXPECT_EQ(bannerHiDpi.devicePixelRatio(), 2.0);
}

}  // namespace

// --- The checking window ----------------------------------------------------------------------

// Work that lasts until it is stopped or released by the test, bounded so that a window that
// never stops it fails the test instead of hanging it.
struct HeldCheck {
    void operator()(const std::atomic<bool>& stop) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop.load() && !release.load() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stopped = stop.load();
    }
    std::atomic<bool> release{false};
    bool stopped = false;
};

TEST_F(QtMessageBoxTest, TheCheckingWindowSaysWhatGoesOnAndItsButtonStopsTheCheckToStartTheGame) {
    LanguageIndex = 1;
    ApplyLauncherLanguage();
    QtUserInterface ui(false);
    HeldCheck check;
    QString text;
    QString cancel;
    QTimer::singleShot(50, [&] {
        auto* window = qobject_cast<CheckingWindow*>(QApplication::activeModalWidget());
        if (window == nullptr)
            return;
        for (auto* label : window->findChildren<QLabel*>())
            text += label->text();
        cancel = window->CancelButton()->text();
        window->CancelButton()->click();
    });
    CheckingRun run(std::ref(check));
    EXPECT_FALSE(ui.ShowChecking(run));
    EXPECT_TRUE(run.Ended());
    EXPECT_TRUE(check.stopped);
    EXPECT_EQ(text.toStdWString(), LoadMessage(kMsgChecking));
    // It says what it does: the game starts.
    EXPECT_EQ(cancel.toStdWString(), L"&Lancer le jeu");
}

TEST_F(QtMessageBoxTest, TheCheckingWindowGoesByItselfWhenTheCheckEnds) {
    QtUserInterface ui(false);
    HeldCheck check;
    bool shown = false;
    QTimer::singleShot(50, [&] {
        shown = qobject_cast<CheckingWindow*>(QApplication::activeModalWidget()) != nullptr;
        check.release.store(true);
    });
    CheckingRun run(std::ref(check));
    EXPECT_TRUE(ui.ShowChecking(run));
    EXPECT_TRUE(shown);
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(check.stopped);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
