#include "ui/qt/qt_application.h"

#include <QApplication>
#include <QImage>
#include <QLibraryInfo>
#include <QPainter>
#include <QString>
#include <QTranslator>

#include "text/messages.h"

// Resources compiled into a static library are registered by hand; the call must name the
// resource file outside any namespace.
static void RegisterLauncherResources() {
    Q_INIT_RESOURCE(velmora_launcher);
}

namespace {

const char* const kQtLanguageCodes[] = {"en", "fr", "de"};

int CurrentLanguage() {
    return LanguageIndex >= 0 && LanguageIndex <= 2 ? LanguageIndex : 0;
}

}  // namespace

QApplication& EnsureQtApplication() {
    // Never destroyed: the launcher's application object outlives main(), and by the time it
    // goes, the Qt globals a QApplication destructor relies on are gone already. The argument
    // vector must stay valid for the application's whole life.
    static int argc = 1;
    static char name[] = "velmora-launcher";
    static char* argv[] = {name, nullptr};
    static QApplication* application = nullptr;

    if (application == nullptr) {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            application = existing;
        } else {
            application = new QApplication(argc, argv);
        }
        RegisterLauncherResources();
        QApplication::setApplicationName(QStringLiteral("velmora-launcher"));
        QGuiApplication::setDesktopFileName(QStringLiteral("velmora-launcher"));
        QApplication::setWindowIcon(ProductIcon());
    }
    ApplyLauncherLanguage();
    return *application;
}

void ApplyLauncherLanguage() {
    static QTranslator translator;
    static int installed = -1;
    const int language = CurrentLanguage();
    if (language == installed)
        return;
    QCoreApplication::removeTranslator(&translator);
    installed = language;
    // Qt's own words (Yes, No, Cancel, Back ...) come in the launcher's language, not the
    // system's, like every other text it shows. Without the translation Qt speaks English.
    if (language != 0 &&
        translator.load(QStringLiteral("qtbase_") + QLatin1String(kQtLanguageCodes[language]),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&translator);
    }
}

QIcon ProductIcon() {
    QIcon icon;
    // Each file has a double-density twin ("@2x") that QIcon picks up on its own.
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/velmora/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap SideBanner(const QSize& logicalSize, qreal devicePixelRatio) {
    const QSize pixels = logicalSize * devicePixelRatio;
    if (pixels == QSize(kSideBannerWidth, kSideBannerHeight)) {
        QPixmap banner(QStringLiteral(":/velmora/banner.png"));
        banner.setDevicePixelRatio(devicePixelRatio);
        return banner;
    }
    const QImage source(QStringLiteral(":/velmora/banner@2x.png"));
    if (pixels == source.size()) {
        QPixmap banner = QPixmap::fromImage(source);
        banner.setDevicePixelRatio(devicePixelRatio);
        return banner;
    }
    // Any other size is drawn from the double-size picture with a painter rather than
    // QImage::scaled, whose smooth scaling hands large pictures to worker threads.
    QImage scaled(pixels, QImage::Format_ARGB32_Premultiplied);
    scaled.fill(Qt::transparent);
    {
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), pixels), source);
    }
    QPixmap banner = QPixmap::fromImage(scaled);
    banner.setDevicePixelRatio(devicePixelRatio);
    return banner;
}

#if defined(__SANITIZE_THREAD__)
// Qt is not built with the thread sanitizer, so the sanitizer cannot see the locks Qt takes
// inside its own libraries: the queue of posted events (which the download worker's wake posts
// to) and the worker threads Qt's image code shares work with show up as races on memory only
// Qt touches. Reports from the sanitizer's hooks (allocation, memmove) called from inside Qt's
// libraries are therefore dropped; every access our own code makes stays checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
