// Takes the pictures of the Qt front end shown in the README: the wizard's first page, the
// download page during a download, after it verified and after it failed, the patch offer in
// each language, and the window of a slow check for updates.
// Run it on a display of its own:
//   xvfb-run -a -s "-screen 0 1024x768x24" velmora-qt-screenshots docs/screenshots
// The download is real: a loopback server paces the patch files so the picture catches it in
// the middle.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/update_flow.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt/qt_wizard_driver.h"
#include "text/messages.h"
#include "ui/checking_run.h"
#include "ui/qt/checking_window.h"
#include "ui/qt/download_wizard.h"
#include "ui/qt/page_download.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_message_box.h"
#include "ui/user_interface.h"

namespace {

// Xvfb runs no window manager, so windows have no frame of their own; a plain one is drawn
// around the picture to show the caption and the window icon the launcher sets.
QImage Framed(QWidget* window) {
    const QPixmap content = window->grab();
    const qreal ratio = content.devicePixelRatio();
    const QSize contentSize = content.deviceIndependentSize().toSize();
    const int titleHeight = 30;
    const QSize logical(contentSize.width() + 2, contentSize.height() + titleHeight + 1);
    QImage image(logical * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(0x2b, 0x2f, 0x3a));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient title(0, 0, 0, titleHeight);
    title.setColorAt(0, QColor(0x3a, 0x40, 0x55));
    title.setColorAt(1, QColor(0x2b, 0x2f, 0x3a));
    painter.fillRect(QRect(0, 0, logical.width(), titleHeight), title);
    const QPixmap icon = window->windowIcon().pixmap(QSize(18, 18), ratio);
    painter.drawPixmap(8, (titleHeight - 18) / 2, icon);
    QFont font = window->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(34, 0, logical.width() - 40, titleHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
    painter.drawPixmap(1, titleHeight, content);
    return image;
}

bool Save(QWidget* widget, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    const bool saved = widget != nullptr && Framed(widget).save(path, "PNG");
    // With VELMORA_SHOT_SCREEN set, the whole screen as the X server shows it, too (ImageMagick's
    // import), beside the picture drawn from the widget.
    if (saved && qEnvironmentVariableIsSet("VELMORA_SHOT_SCREEN")) {
        QCoreApplication::processEvents();
        const QString screen = QDir(folder).filePath(QStringLiteral("screen-") + name);
        const std::string command =
            "import -window root '" + screen.toStdString() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not write %s\n", qPrintable(screen));
    }
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write",
                 qPrintable(path));
    return saved;
}

// Shows message 201 through the real box and photographs it before answering No.
bool ShootOffer(const QString& folder, int language, const QString& name) {
    LanguageIndex = language;
    ApplyLauncherLanguage();
    bool saved = false;
    QTimer::singleShot(300, [&] {
        QWidget* box = QApplication::activeModalWidget();
        saved = Save(box, folder, name);
        if (box != nullptr)
            box->close();
    });
    ShowQtMessageBox(nullptr, FormatPatchOffer(L"1.0.2.0", L"1.0.4.0"), LoadMessage(kMsgCaption),
                     kMbYesNo | kMbIconQuestion);
    return saved;
}

// The window a slow check shows, photographed before its Cancel is pressed.
bool ShootChecking(const QString& folder, int language, const QString& name) {
    LanguageIndex = language;
    ApplyLauncherLanguage();
    CheckingRun run([](const std::atomic<bool>& stop) {
        while (!stop.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    bool saved = false;
    QTimer::singleShot(300, [&] {
        auto* window = qobject_cast<CheckingWindow*>(QApplication::activeModalWidget());
        saved = Save(window, folder, name);
        if (window != nullptr)
            window->CancelButton()->click();
    });
    CheckingWindow window(run);
    window.RunUntilEnded();
    return saved;
}

// The whole wizard in a language; the download page caught on the second of three files, the
// bar over the whole patch.
bool ShootWizard(const QString& folder, int language, const QString& suffix) {
    LanguageIndex = language;
    ApplyLauncherLanguage();
    LoopbackServer server;
    // A folder of its own for each language: the wizard proposes the working folder, and one
    // that an earlier language filled would open already verified.
    TempDir downloads;
    ScopedCurrentDirectory cwd(downloads.Path());
    if (!server.IsRunning() || !cwd.IsValid())
        return false;
    // Three files of two megabytes at 1.5 MB/s: about four seconds, long enough to catch the
    // bar half way, in the middle file.
    BodyOptions paced;
    paced.bytesPerSecond = 1500 * 1000;
    auto info =
        qt_test::MakeServedCatalogue(server,
                                     {{"velmora2_data_1.0.4.pak", std::string(2000000, 'd')},
                                      {"velmora2_maps_1.0.4.pak", std::string(2000000, 'm')},
                                      {"velmora2_patch_1.0.4.exe", std::string(2000000, 'v')}},
                                     paced);

    bool ok = true;
    CVelLauncherDownloadWizard wizard;
    wizard.m_pPatchInfo = info.get();
    qt_test::RunScripted(wizard, [&](CVelLauncherDownloadWizard& w) {
        qt_test::WaitFor([] { return false; }, 300);
        ok = Save(&w, folder, QStringLiteral("wizard-page1-install-path%1.png").arg(suffix)) && ok;
        w.NextButton()->click();
        CVelLauncherPageDownload* page = w.DownloadPage();
        ok = qt_test::WaitFor([page] {
                 const int value = page->ProgressBar()->value();
                 return value >= 40 && value <= 70 && !page->FullProgressText().isEmpty();
             }) &&
             ok;
        ok = Save(&w, folder, QStringLiteral("wizard-page2-downloading%1.png").arg(suffix)) && ok;
        ok = qt_test::WaitFor([&w] { return w.FinishButton()->isEnabled(); }) && ok;
        qt_test::WaitFor([] { return false; }, 300);
        ok = Save(&w, folder, QStringLiteral("wizard-page2-verified%1.png").arg(suffix)) && ok;
        w.CancelButton()->click();
    });
    return ok;
}

// The download page after a failed download, the box closed: what failed on the page and what
// can be done, "Try again" and "Play without the patch", Back offered, Finish off. A digest
// mismatch in the language given.
bool ShootFailedDownload(const QString& folder, int language, const QString& name) {
    LanguageIndex = language;
    ApplyLauncherLanguage();
    LoopbackServer server;
    if (!server.IsRunning())
        return false;
    auto info = qt_test::MakeServedCatalogue(
        server, {{"velmora2_patch_1.0.4.exe", std::string(600 * 1000, 'v')}}, BodyOptions{},
        /*wrongDigest=*/true);
    bool ok = false;
    CVelLauncherDownloadWizard wizard;
    wizard.m_pPatchInfo = info.get();
    // The box itself is the toolkit's; the picture is of the page once it has been closed.
    wizard.SetMessageBoxFunction(
        [](QWidget*, const std::wstring&, const std::wstring&, unsigned) { return kIdOk; });
    DownloadWizardRequest request;
    request.playWithoutPatch = [] {};
    qt_test::RunScripted(
        wizard,
        [&](CVelLauncherDownloadWizard& w) {
            qt_test::WaitFor([] { return false; }, 300);
            w.NextButton()->click();
            ok = qt_test::WaitFor([&w] { return w.BackButton()->isEnabled(); });
            qt_test::WaitFor([] { return false; }, 300);
            ok = Save(&w, folder, name) && ok;
            w.CancelButton()->click();
        },
        60000, request);
    return ok;
}

// The first page alone, in another language.
bool ShootPathPage(const QString& folder, int language, const QString& name) {
    LanguageIndex = language;
    ApplyLauncherLanguage();
    LoopbackServer server;
    auto info = qt_test::MakeServedCatalogue(server, {{"velmora2_patch_1.0.4.exe", "v"}});
    bool ok = false;
    CVelLauncherDownloadWizard wizard;
    wizard.m_pPatchInfo = info.get();
    qt_test::RunScripted(wizard, [&](CVelLauncherDownloadWizard& w) {
        qt_test::WaitFor([] { return false; }, 300);
        ok = Save(&w, folder, name);
    });
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Made absolute now: the working directory changes below.
    const QString folder =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath();
    QDir().mkpath(folder);
    EnsureQtApplication();
    // The first page proposes the working directory; give it a folder that reads like a
    // player's.
    const QString downloads = QDir::temp().filePath(QStringLiteral("Velmora II/Patches"));
    QDir().mkpath(downloads);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(downloads);

    bool ok = ShootWizard(folder, 0, QString());
    ok = ShootWizard(folder, 2, QStringLiteral("-german")) && ok;
    ok = ShootOffer(folder, 0, QStringLiteral("offer-english.png")) && ok;
    ok = ShootOffer(folder, 1, QStringLiteral("offer-french.png")) && ok;
    ok = ShootOffer(folder, 2, QStringLiteral("offer-german.png")) && ok;
    ok = ShootPathPage(folder, 1, QStringLiteral("wizard-page1-french.png")) && ok;
    ok = ShootPathPage(folder, 2, QStringLiteral("wizard-page1-german.png")) && ok;
    ok = ShootFailedDownload(folder, 0, QStringLiteral("wizard-page2-failed.png")) && ok;
    ok = ShootFailedDownload(folder, 1, QStringLiteral("wizard-page2-failed-french.png")) && ok;
    ok = ShootFailedDownload(folder, 2, QStringLiteral("wizard-page2-failed-german.png")) && ok;
    ok = ShootChecking(folder, 0, QStringLiteral("checking-english.png")) && ok;
    ok = ShootChecking(folder, 2, QStringLiteral("checking-german.png")) && ok;

    QDir::setCurrent(previous);
    QDir(QDir::temp().filePath(QStringLiteral("Velmora II"))).removeRecursively();
    return ok ? 0 : 1;
}
