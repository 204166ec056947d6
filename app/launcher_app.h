#pragma once
// The application object: owns the catalogue model and the process-wide transfer wrapper, and
// runs the whole program from InitInstance.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "catalogue/patch_info.h"

class UserInterface;

class CVelLauncherApp {
  public:
    CVelLauncherApp();
    ~CVelLauncherApp();
    CVelLauncherApp(const CVelLauncherApp&) = delete;
    CVelLauncherApp& operator=(const CVelLauncherApp&) = delete;

    // Runs the program: options, language, the single-instance lock, then the update flow.
    // Always false: the program ends when it returns.
    bool InitInstance(std::vector<std::wstring> args);

    // The catalogue model, created by the update flow; null until then.
    std::unique_ptr<PatchInfo> m_pPatchInfo;
    CLauncherCommandLineInfo m_cmdInfo;

    // The front end the program shows things with (not owned). When none is set, InitInstance
    // makes one with the factory, once the options are known.
    UserInterface* m_pUserInterface = nullptr;
    std::function<std::unique_ptr<UserInterface>(const CLauncherCommandLineInfo&)>
        m_userInterfaceFactory;

  private:
    std::unique_ptr<UserInterface> m_ownedUserInterface;
};

// The text of --help.
std::wstring LauncherUsageText();

// The one application object of the launcher process.
CVelLauncherApp& TheApp();
