#include "app/launcher_app.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "app/catalogue_trust.h"
#include "app/download_ahead.h"
#include "app/game_location.h"
#include "app/launcher_settings.h"
#include "app/instance_lock.h"
#include "app/language.h"
#include "app/launcher_settings.h"
#include "app/run_log.h"
#include "app/update_flow.h"
#include "text/log.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/curl_wrapper.h"
#include "ui/user_interface.h"

#define VELMORA_WIDEN2(x) L##x
#define VELMORA_WIDEN(x) VELMORA_WIDEN2(x)
#define VELMORA_VERSION_WTEXT VELMORA_WIDEN(VELMORA_VERSION_TEXT)

CVelLauncherApp::CVelLauncherApp() {
    if (g_pCurlWrapper == nullptr)
        g_pCurlWrapper = new CCurlWrapper();
}

CVelLauncherApp::~CVelLauncherApp() {
    m_pPatchInfo.reset();
    m_pUserInterface.reset();
    delete g_pCurlWrapper;
    g_pCurlWrapper = nullptr;
}

bool CVelLauncherApp::InitInstance(std::vector<std::wstring> args,
                                   const UserInterfaceFactory& makeUserInterface) {
    ParseLauncherCommandLine(args, m_cmdInfo);
    if (m_cmdInfo.m_bShowHelp || m_cmdInfo.m_bShowVersion) {
        const std::wstring text = m_cmdInfo.m_bShowHelp
                                      ? LauncherUsageText()
                                      : L"velmora-launcher " VELMORA_VERSION_WTEXT L"\n";
        std::string narrow = WideToUtf8(std::wstring_view(text));
        if (!m_cmdInfo.m_bShowHelp)
            narrow += DescribeCatalogueTrust(BuiltInCatalogueTrust());
        std::fputs(narrow.c_str(), stdout);
        std::fflush(stdout);
        return false;
    }
    StartVerboseLog(VerboseRequested(m_cmdInfo.m_bVerbose));
    LogLine("velmora-launcher %s: base URL %s, installation folder \"%s\"", VELMORA_VERSION_TEXT,
            LogText(m_cmdInfo.m_szUrl).c_str(), LogText(m_cmdInfo.m_szPath).c_str());
    if (makeUserInterface)
        m_pUserInterface = makeUserInterface(m_cmdInfo);
    if (m_pUserInterface == nullptr || g_pCurlWrapper == nullptr) {
        m_exitStatus = LauncherExitStatus(RunOutcome::kNothingStarted);
        return false;
    }

    LanguageIndex = 0;
    DetectLanguage();
    LogLine("language %d", LanguageIndex);

    // A download made ahead of time leaves the game free to start meanwhile: only the download
    // folder's lock keeps two launchers apart there.
    if (!m_cmdInfo.m_bDownloadOnly && !AcquireInstanceLock()) {
        LogLine("another launcher holds the single-instance lock");
        ShowErrorMessage(*m_pUserInterface, LoadMessage(kMsgSingleInstance));
        m_exitStatus = LauncherExitStatus(RunOutcome::kInstanceBusy);
        RecordRun(RunOutcomeName(RunOutcome::kInstanceBusy), -1, {});
        return false;
    }
    // Started from the menu the working folder is the home folder: the game is looked for
    // where it was found last, or the player says where it is.
    const std::wstring settingsFile = UserSettingsPath();
    const GameLocation where = LocateGame(m_cmdInfo, *m_pUserInterface, settingsFile);
    UpdateFlow flow{m_cmdInfo, *m_pUserInterface, *g_pCurlWrapper, m_pPatchInfo, {}};
    flow.outsideWorkingFolder = where.outsideWorkingFolder;
    flow.downloadFolder = where.downloadFolder;
    flow.settingsFile = settingsFile;
    bool installerRan = false;
    if (m_cmdInfo.m_bDownloadOnly)
        RunDownloadAhead(flow);
    else
        installerRan = RunUpdateFlow(flow);
    m_exitStatus = LauncherExitStatus(flow.outcome);
    LogLine("outcome %s, exit status %d", RunOutcomeName(flow.outcome), m_exitStatus);
    RecordRun(RunOutcomeName(flow.outcome), installerRan ? flow.installerStatus : -1, flow.failure,
              flow.deltas);
    return false;
}

void CVelLauncherApp::RecordRun(const char* outcome, int installerStatus, const Failure& failure,
                                const std::string& deltas) {
    RunRecord record;
    record.version = VELMORA_VERSION_TEXT;
    record.url = m_cmdInfo.m_szUrl;
    record.path = m_cmdInfo.m_szPath;
    record.switches = LoggedSwitches(m_cmdInfo);
    record.outcome = outcome;
    record.exitStatus = m_exitStatus;
    record.installerStatus = installerStatus;
    record.failure = failure;
    record.deltas = deltas;
    std::wstring folder;
    const std::string line = FormatRunRecord(record, static_cast<std::int64_t>(std::time(nullptr)));
    const bool written = RunLogFolder(folder) && AppendRunLog(folder, line);
    LogLine("run log %s: %s", LogText(folder).c_str(), written ? "written" : "not written");
}

CVelLauncherApp& TheApp() {
    static CVelLauncherApp app;
    return app;
}
