#include "app/launcher_app.h"

#include <cstdio>

#include "app/instance_lock.h"
#include "app/language.h"
#include "app/update_flow.h"
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
        std::fputs(WideToUtf8(std::wstring_view(text)).c_str(), stdout);
        std::fflush(stdout);
        return false;
    }
    if (makeUserInterface)
        m_pUserInterface = makeUserInterface(m_cmdInfo);
    if (m_pUserInterface == nullptr || g_pCurlWrapper == nullptr)
        return false;

    LanguageIndex = 0;
    DetectLanguage();

    if (!AcquireInstanceLock()) {
        ShowErrorMessage(*m_pUserInterface, LoadMessage(kMsgSingleInstance));
        return false;
    }
    UpdateFlow flow{m_cmdInfo, *m_pUserInterface, *g_pCurlWrapper, m_pPatchInfo, {}};
    RunUpdateFlow(flow);
    return false;
}

std::wstring LauncherUsageText() {
    return L"Usage: velmora-launcher [--url <base URL>] [--path <game folder>] [options]\n"
           L"\n"
           L"Fetches the patch catalogue from <base URL>patchinfo.xml, offers a newer patch for\n"
           L"the game installed in <game folder> (bin/velmora2.exe below it), downloads, checks\n"
           L"and installs it, or starts the game.\n"
           L"\n"
           L"  --url <base URL>   download server, ending in \"/\" (default: the maker's server)\n"
           L"  --path <folder>    game installation folder (default: the current directory)\n"
           L"  --console          use the text front end even when a display is present\n"
           L"  --yes              answer every question with its default (Yes) without asking\n"
           L"  --no-cache         hash the game afresh, neither reading nor writing the digest "
           L"cache\n"
           L"  --help             show this text and end\n"
           L"  --version          show the launcher's version and end\n";
}

CVelLauncherApp& TheApp() {
    static CVelLauncherApp app;
    return app;
}
