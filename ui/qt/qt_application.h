#pragma once
// The one QApplication of the launcher process. It is created the first time something must be
// shown, so that a run that only starts the game never loads the GUI.

#include <QIcon>
#include <QPixmap>
#include <QSize>

class QApplication;

// Creates the application on the first call (with the launcher's own name as its only
// argument, so Qt never reads the launcher's options) and returns it; later calls return it.
// Also puts Qt's own texts (standard buttons, dialogs) in the launcher's language.
QApplication& EnsureQtApplication();

// Makes Qt's own texts follow LanguageIndex; cheap when it has not changed.
void ApplyLauncherLanguage();

// The product icon, in every size drawn for it (16, 32, 48 and 256 pixels, with their
// double-density variants where the screen needs them).
QIcon ProductIcon();

// The side banner of the wizard's pages, drawn to fill logicalSize on a screen of the given
// density: the banner's own pixels when they fit exactly, else its double-size drawing scaled.
QPixmap SideBanner(const QSize& logicalSize, qreal devicePixelRatio);

// The banner's natural size in pixels.
constexpr int kSideBannerWidth = 164;
constexpr int kSideBannerHeight = 314;
