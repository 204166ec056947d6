#pragma once
// Which of Qt's platform plugins can open a window here. Qt ends the process when the plugin it
// picks is missing or its display does not answer, so the launcher picks one itself, before
// Qt starts, and falls back to the console when none fits.

#include <string>
#include <vector>

struct DisplaysPresent {
    bool wayland = false;
    bool x11 = false;
};

// pluginFiles: the file names in Qt's platforms plugin folder. chosenPlatform receives the name
// to start Qt with ("wayland", "xcb"); false when no installed plugin has a display answering.
bool ChooseQtPlatform(const std::vector<std::string>& pluginFiles, DisplaysPresent displays,
                      std::string& chosenPlatform);
