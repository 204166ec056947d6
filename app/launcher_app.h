#pragma once
// The application object: owns the catalogue model, the front end and the process-wide
// transfer wrapper, and runs the whole program from InitInstance.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "catalogue/patch_info.h"

class UserInterface;

// Makes the front end once the options are known (a window, or the terminal).
using UserInterfaceFactory =
    std::function<std::unique_ptr<UserInterface>(const CLauncherCommandLineInfo&)>;

class CVelLauncherApp {
  public:
    CVelLauncherApp();
    ~CVelLauncherApp();
    CVelLauncherApp(const CVelLauncherApp&) = delete;
    CVelLauncherApp& operator=(const CVelLauncherApp&) = delete;

    // Runs the program: options, the front end made by makeUserInterface, language, the
    // single-instance lock, then the update flow. Always false: the program ends when it
    // returns.
    bool InitInstance(std::vector<std::wstring> args,
                      const UserInterfaceFactory& makeUserInterface);

    // The catalogue model, created by the update flow; null until then.
    std::unique_ptr<PatchInfo> m_pPatchInfo;
    CLauncherCommandLineInfo m_cmdInfo;

  private:
    std::unique_ptr<UserInterface> m_pUserInterface;
};

// The text of --help.
std::wstring LauncherUsageText();

// The one application object of the launcher process.
CVelLauncherApp& TheApp();
