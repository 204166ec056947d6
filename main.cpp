// velmora-launcher: started by the player in place of the game.

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher_app.h"
#include "platform/platform.h"
#include "text/log.h"
#include "text/utf8.h"
#include "ui/console/console_ui.h"
#ifdef VELMORA_HAVE_QT
#include "ui/deferred_user_interface.h"
#include "ui/qt_front_end.h"
#endif

namespace {

std::unique_ptr<UserInterface> MakeUserInterface(const CLauncherCommandLineInfo& options) {
    const bool assumeYes = options.m_bAssumeYes;
    auto console = [assumeYes]() -> std::unique_ptr<UserInterface> {
        return std::make_unique<ConsoleUserInterface>(stdin, stderr, assumeYes);
    };
#ifdef VELMORA_HAVE_QT
    // The Qt module is opened only when the first window is due: a start that shows nothing
    // maps no Qt library. When it cannot be opened, the console takes over.
    // The display is probed only then too: a quick start pays no round trip to a remote
    // server, and one that refuses leaves the console in charge, never Qt's abort.
    if (!options.m_bConsole) {
        auto qt = [assumeYes]() -> std::unique_ptr<UserInterface> {
            std::wstring reason;
            if (!platform::HasDisplay(&reason)) {
                LogLine("no display takes a window, the console serves: %s",
                        LogText(reason).c_str());
                return nullptr;
            }
            std::unique_ptr<UserInterface> ui = LoadQtUserInterface(assumeYes, reason);
            if (ui == nullptr) {
                // One reason per candidate, one line in the log.
                while (!reason.empty() && reason.back() == L'\n')
                    reason.pop_back();
                for (wchar_t& ch : reason)
                    ch = ch == L'\n' ? L';' : ch;
                LogLine("Qt front end not loaded, the console serves: %s", LogText(reason).c_str());
            }
            return ui;
        };
        return std::make_unique<DeferredUserInterface>(qt, console);
    }
#endif
    return console();
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
