// The entry points of the Qt front end's module (velmora-ui-qt.so), which the launcher loads
// the first time it must show a window.

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_user_interface.h"
#include "ui/qt_front_end.h"
#include "ui/qt_platform_choice.h"

namespace {

// Qt aborts the process in QApplication's constructor when its platform plugin is missing or
// cannot reach its display (a Wayland-only desktop without the Wayland plugin installed), so
// the plugin is chosen here, where saying no still leaves the console to the player.
bool PrepareQtPlatform() {
    // The player's own choice stands; it may name a plugin this probe does not know.
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    const QDir folder(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    std::vector<std::string> files;
    for (const QString& file : folder.entryList(QDir::Files))
        files.push_back(file.toStdString());
    DisplaysPresent displays;
    displays.wayland = platform::WaylandDisplayPresent();
    displays.x11 = platform::X11DisplayPresent();
    std::string chosen;
    if (!ChooseQtPlatform(files, displays, chosen))
        return false;
    qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(chosen));
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int VelmoraUiModuleInterfaceVersion() {
    return kQtModuleInterfaceVersion;
}

extern "C" __attribute__((visibility("default"))) UserInterface* velmora_create_qt_user_interface(
    bool assumeYes) {
    if (!PrepareQtPlatform())
        return nullptr;
    EnsureQtApplication();
    return new QtUserInterface(assumeYes);
}

extern "C" __attribute__((visibility("default"))) void velmora_destroy_qt_user_interface(
    UserInterface* userInterface) {
    delete userInterface;
}

// The launcher calls these through the types in ui/qt_front_end.h; a drift fails to compile here.
[[maybe_unused]] static const QtModuleInterfaceVersionFunction kVersionMatches =
    &VelmoraUiModuleInterfaceVersion;
[[maybe_unused]] static const CreateQtUserInterfaceFunction kCreateMatches =
    &velmora_create_qt_user_interface;
[[maybe_unused]] static const DestroyQtUserInterfaceFunction kDestroyMatches =
    &velmora_destroy_qt_user_interface;
