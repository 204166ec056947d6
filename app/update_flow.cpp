#include "app/update_flow.h"

#include <memory>
#include <sstream>
#include <string>

#include "app/command_line.h"
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

int AskUser(UpdateFlow& flow, const std::wstring& text, unsigned style) {
    return flow.ui.MessageBox(text, LoadMessage(kMsgCaption), style);
}

// Step 2 knows only the installation folder and the model it fills.
bool DetectInstalledVersionStep(UpdateFlow& flow, bool& bStartGame) {
    return DetectInstalledVersionWithUserCache(flow.options.m_szPath, flow.patchInfo.get(),
                                               bStartGame, !flow.options.m_bNoCache);
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

bool FetchCatalogue(UpdateFlow& flow, bool& bStartGame) {
    bStartGame = true;
    const std::wstring& base = flow.options.m_szUrl;
    if (base.size() > kMaxBaseUrlLength)
        return false;

    MemoryBuffer body;
    bool aborted = false;
    if (!flow.curl.DownloadToMemory(base + std::wstring(kCatalogueFileName), body, aborted)) {
        ReleaseBuffer(body);
        return false;
    }

    // The document ends at the body's first NUL byte.
    std::istringstream stream(body.bytes != nullptr
                                  ? std::string(reinterpret_cast<const char*>(body.bytes))
                                  : std::string());
    ReleaseBuffer(body);
    const std::unique_ptr<XmlNode> tree = XmlParse(stream, "");

    flow.patchInfo = std::make_unique<PatchInfo>();
    return ReadPatchInfo(tree.get(), *flow.patchInfo);
}

bool OfferUpdate(UpdateFlow& flow, bool& bStartGame) {
    bStartGame = true;
    PatchInfo* info = flow.patchInfo.get();
    if (info == nullptr || info->installed_game == nullptr)
        return false;
    const PatchEntry* latest = info->installed_game->latest;
    if (latest == nullptr)
        return false;
    if (info->installed_version == latest->version)
        return false;

    if (CompareVersions(info->launcher_version, info->patcherversion) < 0) {
        const int answer =
            AskUser(flow, LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning);
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
    return AskUser(flow, offer, kMbYesNo | kMbIconQuestion) == kIdYes;
}

bool RunDownloadWizard(UpdateFlow& flow, bool& bStartGame) {
    bStartGame = false;
    if (flow.patchInfo == nullptr)
        return false;
    return flow.ui.RunDownloadWizard(*flow.patchInfo);
}

bool RunInstaller(UpdateFlow& flow, bool& bStartGame) {
    bStartGame = true;
    const PatchInfo* info = flow.patchInfo.get();
    if (info == nullptr || info->installed_game == nullptr)
        return false;
    const PatchEntry* latest = info->installed_game->latest;
    if (latest == nullptr)
        return false;

    // The catalogue names the installer; one that is absolute or climbs out of the download
    // folder is never started, and neither is one whose path does not fit.
    std::wstring installer;
    if (!BuildDownloadPath(info->download_folder, latest->installer, installer)) {
        flow.failure = MakeFailure(FailureClass::kUnsafePath, 0, {}, latest->installer);
    } else if (platform::StartProgram(installer, L"", true, &flow.failure)) {
        return true;
    }
    ShowErrorMessage(flow.ui, LoadMessage(kMsgInstallerLaunchFailed));
    return false;
}

bool LaunchGame(UpdateFlow& flow) {
    std::wstring exe;
    std::wstring folder;
    if (!GameExecutablePath(flow.options.m_szPath, exe) ||
        !GameFolderPath(flow.options.m_szPath, folder)) {
        flow.failure = MakeFailure(FailureClass::kUnsafePath, 0, {}, flow.options.m_szPath);
    } else if (platform::StartProgram(exe, folder, false, &flow.failure)) {
        return true;
    }
    ShowErrorMessage(flow.ui, LoadMessage(kMsgGameLaunchFailed));
    return false;
}

bool RunUpdateFlow(UpdateFlow& flow) {
    using Step = bool (*)(UpdateFlow&, bool&);
    static constexpr Step kSteps[] = {FetchCatalogue, DetectInstalledVersionStep, OfferUpdate,
                                      RunDownloadWizard, RunInstaller};
    bool bStartGame = true;
    for (Step step : kSteps) {
        if (!step(flow, bStartGame)) {
            if (bStartGame)
                LaunchGame(flow);
            return false;
        }
    }
    return true;
}
