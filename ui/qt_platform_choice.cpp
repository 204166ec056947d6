#include "ui/qt_platform_choice.h"

namespace {

bool HasPlugin(const std::vector<std::string>& pluginFiles, const std::string& prefix) {
    for (const std::string& file : pluginFiles) {
        if (file.rfind(prefix, 0) == 0 && file.size() > 3 &&
            file.compare(file.size() - 3, 3, ".so") == 0)
            return true;
    }
    return false;
}

}  // namespace

bool ChooseQtPlatform(const std::vector<std::string>& pluginFiles, DisplaysPresent displays,
                      std::string& chosenPlatform) {
    // Wayland first where both answer: the X11 server of a Wayland desktop is only its
    // compatibility layer. The Wayland plugin comes as libqwayland-egl.so and
    // libqwayland-generic.so, both named "wayland*" to Qt.
    if (displays.wayland && HasPlugin(pluginFiles, "libqwayland")) {
        chosenPlatform = "wayland";
        return true;
    }
    if (displays.x11 && HasPlugin(pluginFiles, "libqxcb")) {
        chosenPlatform = "xcb";
        return true;
    }
    chosenPlatform.clear();
    return false;
}
