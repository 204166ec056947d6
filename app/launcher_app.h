#pragma once
// The application object: owns the catalogue model, the front end and the process-wide
// transfer wrapper, and runs the whole program from InitInstance.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "catalogue/patch_info.h"
#include "text/failure.h"

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

    // The process's exit status for the run InitInstance made (LauncherExitStatus); 0 for
    // --help, --version and before any run.
    int ExitStatus() const { return m_exitStatus; }

    // The catalogue model, created by the update flow; null until then.
    std::unique_ptr<PatchInfo> m_pPatchInfo;
    CLauncherCommandLineInfo m_cmdInfo;

  private:
    // Leaves the run's record in launcher.log; a log that cannot be written changes nothing.
    void RecordRun(const char* outcome, int installerStatus, const Failure& failure,
                   const std::string& deltas = {});

    std::unique_ptr<UserInterface> m_pUserInterface;
    int m_exitStatus = 0;
};

// The one application object of the launcher process.
CVelLauncherApp& TheApp();
