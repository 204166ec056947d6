#include "app/update_flow.h"

#include <memory>
#include <sstream>
#include <string>

#include "app/launcher_app.h"
#include "app/version_detection.h"
#include "catalogue/patch_info.h"
#include "catalogue/version_compare.h"
#include "catalogue/xml_tree.h"
#include "platform/platform.h"
#include "text/messages.h"
#include "transfer/curl_wrapper.h"
#include "transfer/download_path.h"
#include "ui/user_interface.h"

namespace {

// A box that cannot be shown answers 0, as a failed message box does.
int AskUser(CVelLauncherApp& app, const std::wstring& text, unsigned style) {
    if (app.m_pUserInterface == nullptr)
        return 0;
    return app.m_pUserInterface->MessageBox(text, LoadMessage(kMsgCaption), style);
}

}  // namespace

std::wstring FormatPatchOffer(const std::wstring& installedVersion,
                              const std::wstring& latestVersion) {
    // The versions come from the catalogue and the executable: they are inserted as they are,
    // never read as format directives themselves.
    const std::wstring format = LoadMessage(kMsgPatchOffer);
    const std::wstring* values[] = {&installedVersion, &latestVersion};
    std::wstring text;
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < format.size()) {
        if (next < 2 && format.compare(pos, 2, L"%s") == 0) {
            text += *values[next++];
            pos += 2;
        } else {
            text += format[pos++];
        }
    }
    if (text.size() > kMaxOfferTextLength)
        text.resize(kMaxOfferTextLength);
    return text;
}

bool FetchCatalogue(CVelLauncherApp& app, bool& bStartGame) {
    bStartGame = true;
    const std::wstring& base = app.m_cmdInfo.m_szUrl;
    if (base.size() > kMaxBaseUrlLength || g_pCurlWrapper == nullptr)
        return false;

    MemoryBuffer body;
    bool aborted = false;
    if (!g_pCurlWrapper->DownloadToMemory(base + std::wstring(kCatalogueFileName), body, aborted)) {
        ReleaseBuffer(body);
        return false;
    }

    // The document ends at the body's first NUL byte.
    std::istringstream stream(body.bytes != nullptr
                                  ? std::string(reinterpret_cast<const char*>(body.bytes))
                                  : std::string());
    XmlNode* tree = XmlParse(stream, "").release();

    app.m_pPatchInfo = std::make_unique<PatchInfo>();
    const bool read = ReadPatchInfo(tree, *app.m_pPatchInfo);

    XmlFree(tree, true);
    ReleaseBuffer(body);
    return read;
}

bool OfferUpdate(CVelLauncherApp& app, bool& bStartGame) {
    bStartGame = true;
    PatchInfo* info = app.m_pPatchInfo.get();
    if (info == nullptr || info->installed_game == nullptr)
        return false;
    const PatchEntry* latest = info->installed_game->latest;
    if (latest == nullptr)
        return false;
    if (info->installed_version == latest->version)
        return false;

    if (CompareVersions(info->launcher_version, info->patcherversion) < 0) {
        const int answer =
            AskUser(app, LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning);
        if (answer == kIdYes) {
            platform::OpenWebPage(info->patcherurl);
            bStartGame = false;
            return false;
        }
        if (answer == kIdNo)
            return false;
        // The question could not be put: the patch is still offered.
    }

    const std::wstring offer = FormatPatchOffer(info->installed_version, latest->version);
    return AskUser(app, offer, kMbYesNo | kMbIconQuestion) == kIdYes;
}

bool RunDownloadWizard(CVelLauncherApp& app, bool& bStartGame) {
    bStartGame = false;
    if (app.m_pPatchInfo == nullptr || app.m_pUserInterface == nullptr)
        return false;
    return app.m_pUserInterface->RunDownloadWizard(*app.m_pPatchInfo);
}

bool RunInstaller(CVelLauncherApp& app, bool& bStartGame) {
    bStartGame = true;
    const PatchInfo* info = app.m_pPatchInfo.get();
    if (info == nullptr || info->installed_game == nullptr)
        return false;
    const PatchEntry* latest = info->installed_game->latest;
    if (latest == nullptr)
        return false;

    // The catalogue names the installer; one that is absolute or climbs out of the download
    // folder is never started, and neither is one whose path does not fit.
    std::wstring installer;
    if (!BuildDownloadPath(info->download_folder, latest->installer, installer) ||
        !platform::StartProgram(installer, L"", true)) {
        ShowErrorMessage(LoadMessage(kMsgInstallerLaunchFailed));
        return false;
    }
    return true;
}

bool LaunchGame(CVelLauncherApp& app) {
    std::wstring exe;
    std::wstring folder;
    if (!GameExecutablePath(app.m_cmdInfo.m_szPath, exe) ||
        !GameFolderPath(app.m_cmdInfo.m_szPath, folder) ||
        !platform::StartProgram(exe, folder, false)) {
        ShowErrorMessage(LoadMessage(kMsgGameLaunchFailed));
        return false;
    }
    return true;
}

bool RunUpdateFlow(CVelLauncherApp& app) {
    using Step = bool (*)(CVelLauncherApp&, bool&);
    static constexpr Step kSteps[] = {FetchCatalogue, DetectInstalledVersion, OfferUpdate,
                                      RunDownloadWizard, RunInstaller};
    bool bStartGame = true;
    for (Step step : kSteps) {
        if (!step(app, bStartGame)) {
            if (bStartGame)
                LaunchGame(app);
            return false;
        }
    }
    return true;
}
