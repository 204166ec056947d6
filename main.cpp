// velmora-launcher: started by the player in place of the game.

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher_app.h"
#include "platform/platform.h"
#include "text/utf8.h"
#include "ui/console/console_ui.h"
#ifdef VELMORA_HAVE_QT
#include "ui/qt/qt_user_interface.h"
#endif

namespace {

std::unique_ptr<UserInterface> MakeUserInterface(const CLauncherCommandLineInfo& options) {
#ifdef VELMORA_HAVE_QT
    if (!options.m_bConsole && platform::HasDisplay())
        return std::make_unique<QtUserInterface>(options.m_bAssumeYes);
#endif
    return std::make_unique<ConsoleUserInterface>(stdin, stderr, options.m_bAssumeYes);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::wstring> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i)
        args.push_back(Utf8ToWide(std::string_view(argv[i])));

    TheApp().InitInstance(std::move(args), MakeUserInterface);
    // The outcome's status for whoever started the launcher (see the README's table).
    return TheApp().ExitStatus();
}
