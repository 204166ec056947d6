#include "app/update_flow.h"

#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "app/catalogue_trust.h"
#include "app/command_line.h"
#include "app/game_location.h"
#include "app/installer_check.h"
#include "app/version_detection.h"
#include "catalogue/patch_info.h"
#include "catalogue/version_compare.h"
#include "catalogue/xml_tree.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "text/log.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/curl_wrapper.h"
#include "transfer/delta_fetch.h"
#include "transfer/digest_cache.h"
#include "transfer/document_fetch.h"
#include "transfer/download_path.h"
#include "transfer/known_digests.h"
#include "transfer/local_source.h"
#include "transfer/verify.h"
#include "ui/user_interface.h"
#include "wizard/failure_text.h"

namespace {

int AskUser(UpdateFlow& flow, const std::wstring& text, unsigned style) {
    return flow.ui.MessageBox(text, LoadMessage(kMsgCaption), style);
}

// The body as signed: every byte received, NULs included.
std::string_view BodyBytes(const MemoryBuffer& body) {
    if (body.bytes == nullptr || body.byteCount == 0)
        return {};
    return std::string_view(reinterpret_cast<const char*>(body.bytes), body.byteCount - 1);
}

// Step 2 knows only the installation folder and the model it fills; the game was read before
// (GameReader).
bool DetectInstalledVersionStep(UpdateFlow& flow, const InstalledGame& game, bool& bStartGame) {
    const bool found = ApplyInstalledGame(game, flow.patchInfo.get(), bStartGame);
    // The download worker, should it run, uses the same cache, or none.
    flow.digestCache = game.digestCache;
    if (found && flow.patchInfo != nullptr) {
        const PatchInfo& info = *flow.patchInfo;
        LogLine("installed version \"%s\", launcher version \"%s\", release %s",
                LogText(info.installed_version).c_str(), LogText(info.launcher_version).c_str(),
                info.installed_game != nullptr ? LogText(info.installed_game->name).c_str()
                                               : "not recognised");
    } else {
        LogLine("no game executable below \"%s\"", LogText(flow.options.m_szPath).c_str());
    }
    return found;
}

// The game's version and digest do not depend on the catalogue, so a helper thread reads them
// while the catalogue is on its way (the digest of a large executable takes far longer than
// the fetch). Without a catalogue the digest is not needed: the helper is stopped. A cancel
// of the check reaches the helper as well.
class GameReader {
  public:
    GameReader(const UpdateFlow& flow, const std::atomic<bool>& checkStop)
        : m_folder(flow.options.m_szPath),
          m_useCache(!flow.options.m_bNoCache),
          m_checkStop(checkStop) {
        try {
            m_thread = std::thread([this] {
                InstalledGame game = Read(&m_stop);
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_game = std::move(game);
                    m_done = true;
                }
                m_doneSignal.notify_all();
            });
        } catch (const std::system_error&) {
            // Without a helper the game is read after the fetch, on the checking thread.
        }
    }
    ~GameReader() {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    GameReader(const GameReader&) = delete;
    GameReader& operator=(const GameReader&) = delete;

    void Abandon() { m_stop.store(true); }

    InstalledGame Result() {
        if (!m_thread.joinable())
            return Read(&m_checkStop);
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // Woken at once by the helper's end; the pauses only look for a cancel.
            while (!m_doneSignal.wait_for(lock, std::chrono::milliseconds(20),
                                          [this] { return m_done; })) {
                if (m_checkStop.load())
                    m_stop.store(true);
            }
        }
        m_thread.join();
        return m_game;
    }

  private:
    // With --no-cache the cache is disabled: its file is neither read nor written.
    InstalledGame Read(const std::atomic<bool>* stop) const {
        DigestCache cache(m_useCache ? UserDigestCachePath() : std::wstring());
        return ReadInstalledGame(m_folder, cache, stop);
    }

    const std::wstring m_folder;
    const bool m_useCache;
    const std::atomic<bool>& m_checkStop;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::condition_variable m_doneSignal;
    bool m_done = false;
    InstalledGame m_game;
    std::thread m_thread;
};

// The checks before any window: the catalogue, then the installed game. False when the flow
// does not go on to the offer.
bool RunChecks(UpdateFlow& flow, const std::atomic<bool>& stop, bool& bStartGame) {
    GameReader reader(flow, stop);
    if (!FetchCatalogue(flow, bStartGame, &stop)) {
        reader.Abandon();
        return false;
    }
    return DetectInstalledVersionStep(flow, reader.Result(), bStartGame);
}

// The launcher's old box (200 or 203) says that something did not start; when the cause is a
// missing runner, the same box says under it, once per run, what to install. The game that
// then fails for the same reason says only that it did not start.
void ShowStartFailure(UpdateFlow& flow, MessageId message) {
    std::wstring text = LoadMessage(message);
    if (flow.failure.cause == FailureClass::kRunnerMissing && !flow.runnerReasonShown) {
        text += L"\n\n" + FailureMessage(flow.failure);
        flow.runnerReasonShown = true;
    }
    ShowErrorMessage(flow.ui, text);
}

void LogFailure(const char* what, const Failure& failure) {
    if (LogEnabled())
        LogLine("%s: %s", what, DescribeFailure(failure).c_str());
}

bool StartsWithNoCase(const std::wstring& text, std::wstring_view prefix) {
    if (text.size() <= prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (static_cast<wchar_t>(std::towlower(static_cast<wint_t>(text[i]))) != prefix[i])
            return false;
    }
    return true;
}

// Only a web address goes to the browser: anything else could name a local program or file.
bool IsWebAddress(const std::wstring& url) {
    return StartsWithNoCase(url, L"http://") || StartsWithNoCase(url, L"https://");
}

// The newer launcher's page as the browser gets it. An https-only launcher sends nobody to a
// plain http:// page either: anyone on the way could rewrite it into a page offering another
// program as the launcher. Its own support page (https in such a build: the configuration
// refuses anything else) stands in, and the log says why.
std::wstring NewerLauncherPage(const std::wstring& patcherurl, bool httpsOnly) {
    if (!httpsOnly || !StartsWithNoCase(patcherurl, L"http://"))
        return patcherurl;
    LogLine("newer launcher's page %s refused: plain http in an https-only launcher",
            LogText(patcherurl).c_str());
    return DefaultSupportUrl();
}

// The catalogue's installer, opened below the download folder without following links, still
// gives the digests its download entry lists.
bool InstallerStillVerified(const std::wstring& folder, const std::wstring& installerPath,
                            const DownloadEntry& entry, Failure& failure) {
    const std::wstring relative = NativeTarget(entry.target);
    platform::TrustedFolder below;
    if (!below.Open(folder, &failure))
        return false;
    const platform::UniqueFile file =
        below.OpenFile(relative, platform::FileAccess::kRead, &failure);
    if (file == nullptr) {
        failure.subject = installerPath;
        return false;
    }
    if (!OpenFileMatchesEntry(file.get(), entry)) {
        failure = MakeFailure(FailureClass::kDigestMismatch, 0, "changed since it was verified",
                              installerPath);
        return false;
    }
    return true;
}

// Every file of the patch still gives its listed digests, read below the held folder; the cache
// answers for the files whose identity it can vouch for, so a file changed since costs a read.
bool PatchStillVerified(const UpdateFlow& flow, const PatchEntry& patch, const std::wstring& folder,
                        Failure& failure) {
    DigestCache cache(flow.digestCache);
    cache.Load();
    const KnownDigests known{nullptr, &cache, nullptr};
    const bool verified = VerifyDownloadList(&patch, folder, known, nullptr, &failure);
    cache.Save();
    return verified;
}

// One catalogue as fetched: its bytes, what the server said identifies them, and whether they
// are the kept copy a 304 vouched for.
struct CatalogueBody {
    std::string bytes;
    HttpValidators validators;
    bool fromKeptCopy = false;
};

// Fetches the catalogue, asking "changed since?" for kept when one is given. An error page is
// never taken: what the parser would say of it is no news to anyone.
bool FetchCatalogueBody(UpdateFlow& flow, const std::wstring& url, const KeptCatalogue* kept,
                        const std::atomic<bool>* stop, CatalogueBody& got, Failure& failure) {
    got = CatalogueBody{};
    MemoryBuffer body;
    DocumentFetch how;
    how.backoff = flow.catalogueBackoff;
    how.seed = flow.backoffSeed;
    how.stop = stop;
    how.onRetry = [](std::chrono::milliseconds pause, unsigned retry) {
        LogLine("catalogue: retry %u in %lld ms", retry, static_cast<long long>(pause.count()));
    };
    if (kept != nullptr)
        how.condition = kept->validators;
    const bool fetched = FetchDocument(flow.curl, url, body, how, &failure);
    if (!fetched)
        LogFailure("catalogue: not fetched", failure);
    if (fetched && kept != nullptr && flow.curl.LastHttpStatus() == 304) {
        got.bytes = kept->body;
        got.validators = kept->validators;
        got.fromKeptCopy = true;
    } else if (fetched) {
        got.bytes = std::string(BodyBytes(body));
        got.validators = flow.curl.LastValidators();
    }
    ReleaseBuffer(body);
    return fetched;
}

// Judges the catalogue by its signature and reads it into a new PatchInfo (kept even when the
// text proves not to be a catalogue). False, with failure set when its signature was refused.
bool ReadCatalogueBody(UpdateFlow& flow, const std::wstring& url, const CatalogueBody& got,
                       const std::atomic<bool>* stop, Failure& failure) {
    if (!CatalogueIsTrusted(flow, url, got.bytes, stop, &failure, got.fromKeptCopy)) {
        LogFailure(got.fromKeptCopy ? "catalogue: kept copy refused" : "catalogue: refused",
                   failure);
        return false;
    }
    // The document ends at the body's first NUL byte.
    std::istringstream stream(std::string(got.bytes.c_str()));
    const std::unique_ptr<XmlNode> tree = XmlParse(stream, "");
    flow.patchInfo = std::make_unique<PatchInfo>();
    const bool read = ReadPatchInfo(tree.get(), *flow.patchInfo);
    flow.catalogueRead = read;
    LogLine("catalogue: %s", read ? "read" : "refused (not a catalogue)");
    return read;
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

bool FetchCatalogue(UpdateFlow& flow, bool& bStartGame, const std::atomic<bool>* stop) {
    bStartGame = true;
    const std::wstring& base = flow.options.m_szUrl;
    if (base.size() > kMaxBaseUrlLength)
        return false;

    const std::wstring url = base + std::wstring(kCatalogueFileName);
    LogLine("catalogue: fetching %s", LogText(url).c_str());
    const std::uint32_t started = platform::TickCountMs();

    // --no-cache asks the server for the whole catalogue; a good one is still kept for the
    // next start. A catalogue read from a folder has no server to ask.
    const bool local = !LocalSourceFolder(base).empty();
    std::optional<KeptCatalogue> kept;
    if (!local && !flow.options.m_bNoCache && !flow.keptCatalogue.empty()) {
        kept = ReadKeptCatalogue(flow.keptCatalogue);
        if (kept && kept->url != LogText(url))
            kept.reset();
    }
    CatalogueBody got;
    Failure failure;
    bool read = FetchCatalogueBody(flow, url, kept ? &*kept : nullptr, stop, got, failure) &&
                ReadCatalogueBody(flow, url, got, stop, failure);
    if (!read && got.fromKeptCopy && !(stop != nullptr && stop->load())) {
        // Catalogue and signature are not published in one instant: a signature already made
        // for the next catalogue does not fit the copy the server still calls current.
        LogLine("catalogue: fetching it afresh, without the kept copy");
        read = FetchCatalogueBody(flow, url, nullptr, stop, got, failure) &&
               ReadCatalogueBody(flow, url, got, stop, failure);
    }
    if (!read) {
        if (failure.IsFailure())
            flow.failure = std::move(failure);
        return false;
    }
    const unsigned ms = static_cast<unsigned>(platform::TickCountMs() - started);
    if (local)
        LogLine("catalogue: read from the folder, %zu bytes in %u ms", got.bytes.size(), ms);
    else
        LogLine("catalogue: HTTP status %ld, %zu bytes%s in %u ms", flow.curl.LastHttpStatus(),
                got.bytes.size(), got.fromKeptCopy ? " (the kept copy)" : "", ms);
    if (!local && !got.fromKeptCopy && !got.validators.Empty() && !flow.keptCatalogue.empty()) {
        // Only costs the next start a full fetch when it fails.
        Failure written;
        if (!WriteKeptCatalogue(flow.keptCatalogue, {LogText(url), got.validators, got.bytes},
                                &written))
            LogFailure("catalogue: copy not kept", written);
    }
    return true;
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
            // A browser that cannot be asked, or an address that is no web page, still leaves
            // the person the address to copy.
            const std::wstring page = NewerLauncherPage(info->patcherurl, flow.httpsOnly);
            const bool opened = IsWebAddress(page) && platform::OpenWebPage(page);
            LogLine("newer launcher's page %s: %s", LogText(page).c_str(),
                    opened ? "handed to the browser" : "not opened");
            if (!opened) {
                flow.ui.MessageBox(
                    FormatMessageText(LoadMessage(kMsgOpenAddress), {ForDisplay(page)}),
                    LoadMessage(kMsgCaption), kMbOk | kMbIconWarning);
            }
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

bool ClaimDownloadFolder(UpdateFlow& flow, const std::wstring& folder) {
    if (flow.folderLock.IsHeld() && flow.lockedFolder == folder)
        return true;
    Failure failure;
    switch (flow.folderLock.TryLock(folder, &failure)) {
        case platform::LockResult::kTaken:
            flow.lockedFolder = folder;
            LogLine("download folder %s: held", LogText(folder).c_str());
            return true;
        case platform::LockResult::kHeldElsewhere:
            flow.lockedFolder.clear();
            flow.folderBusy = true;
            LogLine("download folder %s: held by another launcher", LogText(folder).c_str());
            return false;
        case platform::LockResult::kUnavailable:
            break;
    }
    flow.lockedFolder.clear();
    LogFailure("download folder cannot be locked", failure);
    return true;
}

bool RunDownloadWizard(UpdateFlow& flow, bool& bStartGame) {
    bStartGame = false;
    if (flow.patchInfo == nullptr)
        return false;
    DownloadWizardRequest request;
    request.folderClaim = [&flow](const std::wstring& folder) {
        return ClaimDownloadFolder(flow, folder);
    };
    request.digestCachePath = flow.digestCache;
    request.localSource = LocalSourceFolder(flow.options.m_szUrl);
    request.gameFolder = flow.options.m_szPath;
    request.deltaReport = [&flow](const DeltaTally& deltas) {
        flow.deltas = DescribeDeltas(deltas);
        LogLine("deltas: %s", flow.deltas.c_str());
    };
    // The page proposes what the model holds: away from the game folder, not the working
    // folder (the home folder, for a start from the menu).
    if (flow.outsideWorkingFolder && !flow.downloadFolder.empty() &&
        flow.patchInfo->download_folder.empty())
        flow.patchInfo->download_folder = flow.downloadFolder;
    request.rateLimit = flow.options.m_rateLimit;
    if (request.rateLimit > 0)
        LogLine("download: capped at %lld bytes a second",
                static_cast<long long>(request.rateLimit));
    Failure lastFailure;
    request.failureReport = [&lastFailure](const Failure& failure) { lastFailure = failure; };
    bool playWithoutPatch = false;
    request.playWithoutPatch = [&playWithoutPatch] { playWithoutPatch = true; };
    const bool finished = flow.ui.RunDownloadWizard(*flow.patchInfo, request);
    if (!finished && playWithoutPatch) {
        // The player's own way out of a failed download: the game, as on every other road.
        flow.failure = lastFailure;
        LogFailure("wizard: playing without the patch after a failed download", lastFailure);
        bStartGame = true;
    } else if (!finished && lastFailure.IsFailure()) {
        // The run log's cause, whoever pressed Cancel.
        flow.failure = lastFailure;
        LogFailure("wizard: cancelled after a failed download", lastFailure);
        // Nobody answers under --yes: the Cancel was the launcher's own, and a wrapper must
        // not take it for a player who declined.
        if (flow.options.m_bAssumeYes)
            flow.outcome = RunOutcome::kUpdateFailed;
    } else {
        LogLine("wizard: %s", finished ? "finished" : "cancelled");
    }
    if (finished && flow.outsideWorkingFolder)
        RememberDownloadFolder(flow.settingsFile, flow.patchInfo->download_folder);
    return finished;
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
    // folder is never started, and neither is one whose path does not fit, nor any file that
    // is not one of this patch's verified downloads.
    const std::wstring& folder = info->download_folder;
    std::wstring installer;
    const DownloadEntry* entry = FindInstallerEntry(*latest, latest->installer);
    if (!BuildDownloadPath(folder, latest->installer, installer)) {
        flow.failure = MakeFailure(FailureClass::kUnsafePath, 0, {}, latest->installer);
    } else if (entry == nullptr) {
        flow.failure = MakeFailure(FailureClass::kUnsafePath, 0, "not one of the patch's files",
                                   latest->installer);
    } else if (!ClaimDownloadFolder(flow, folder)) {
        flow.failure = MakeFailure(FailureClass::kBusy, 0, {}, folder);
        ShowErrorMessage(flow.ui, FailureMessage(flow.failure));
        bStartGame = false;
        return false;
    } else if (InstallerStillVerified(folder, installer, *entry, flow.failure) &&
               PatchStillVerified(flow, *latest, folder, flow.failure)) {
        // Between the check above and the start below the folder stays locked, so no other
        // launcher can write the file; a process of this same user that ignores the lock
        // could still swap it in that instant, as it could swap any file of the user's.
        LogLine("installer: starting %s", LogText(installer).c_str());
        int status = 0;
        // From the menu the working folder is the home folder: the installer then starts
        // beside its files instead.
        const std::wstring workingFolder = flow.outsideWorkingFolder ? folder : std::wstring();
        flow.ui.ShowInstallerNotice(true);
        const bool ran =
            platform::StartProgram(installer, workingFolder, true, &flow.failure, &status);
        flow.ui.ShowInstallerNotice(false);
        flow.folderLock.Release();
        flow.lockedFolder.clear();
        if (ran) {
            flow.installerStatus = status;
            flow.outcome =
                status == 0 ? RunOutcome::kInstallerSucceeded : RunOutcome::kInstallerFailed;
            LogLine("installer: ended with status %d", status);
            // A failed installer never closes in silence: the player learns what comes next.
            if (status != 0)
                ShowErrorMessage(flow.ui, FormatMessageText(LoadMessage(kMsgInstallerStatus),
                                                            {std::to_wstring(status)}));
            return true;
        }
    }
    flow.folderLock.Release();
    flow.lockedFolder.clear();
    LogFailure("installer not started", flow.failure);
    ShowStartFailure(flow, kMsgInstallerLaunchFailed);
    return false;
}

bool LaunchGame(UpdateFlow& flow) {
    std::wstring exe;
    std::wstring folder;
    if (!GameExecutablePath(flow.options.m_szPath, exe) ||
        !GameFolderPath(flow.options.m_szPath, folder)) {
        flow.failure = MakeFailure(FailureClass::kUnsafePath, 0, {}, flow.options.m_szPath);
    } else if (platform::StartProgram(exe, folder, false, &flow.failure)) {
        flow.outcome = RunOutcome::kGameStarted;
        LogLine("game: started %s", LogText(exe).c_str());
        return true;
    }
    flow.outcome = RunOutcome::kNothingStarted;
    LogFailure("game not started", flow.failure);
    ShowStartFailure(flow, kMsgGameLaunchFailed);
    return false;
}

bool RunUpdateChecks(UpdateFlow& flow, bool& bStartGame) {
    bool goOn = true;
    // The catalogue and the game's digest come before any window; the front end may show that
    // they take long, and a cancel there reads as a catalogue that could not be read.
    const bool checked = flow.ui.RunChecking(
        [&](const std::atomic<bool>& stop) { goOn = RunChecks(flow, stop, bStartGame); });
    if (!checked) {
        LogLine("checking for updates: cancelled");
        bStartGame = true;
        goOn = false;
    } else if (!goOn && flow.patchInfo == nullptr) {
        // A catalogue that a refused certificate kept away would leave the player unpatched
        // for good without a word: an intercepting proxy, a broken chain. The log has the cause.
        const std::wstring notice = UncheckedUpdatesNotice(flow.failure);
        if (!notice.empty())
            flow.ui.ShowNotice(notice);
    }
    return goOn;
}

bool RunUpdateFlow(UpdateFlow& flow) {
    using Step = bool (*)(UpdateFlow&, bool&);
    static constexpr Step kSteps[] = {OfferUpdate, RunDownloadWizard, RunInstaller};
    bool bStartGame = true;
    flow.outcome = RunOutcome::kStoppedByPlayer;
    bool goOn = RunUpdateChecks(flow, bStartGame);
    for (Step step : kSteps) {
        if (!goOn)
            break;
        goOn = step(flow, bStartGame);
    }
    if (goOn)
        return true;
    if (bStartGame) {
        LaunchGame(flow);
    } else if (flow.outcome == RunOutcome::kUpdateFailed) {
        // Set by the wizard's step, with the cause already in the log.
    } else if (flow.folderBusy) {
        // The player met another launcher's folder and gave up there.
        flow.outcome = RunOutcome::kFolderBusy;
    } else {
        flow.outcome = RunOutcome::kStoppedByPlayer;
    }
    return false;
}

int LauncherExitStatus(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::kStoppedByPlayer:
        case RunOutcome::kGameStarted:
        case RunOutcome::kInstallerSucceeded:
        case RunOutcome::kPatchReady:
            return 0;
        case RunOutcome::kNothingStarted:
            return 1;
        case RunOutcome::kInstallerFailed:
            return 2;
        case RunOutcome::kInstanceBusy:
        case RunOutcome::kFolderBusy:
            return 3;
        case RunOutcome::kUpdateFailed:
            return 4;
        case RunOutcome::kNothingDue:
            return 5;
    }
    return 1;
}

const char* RunOutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::kStoppedByPlayer:
            return "stopped-by-player";
        case RunOutcome::kGameStarted:
            return "game-started";
        case RunOutcome::kInstallerSucceeded:
            return "installer-succeeded";
        case RunOutcome::kNothingStarted:
            return "nothing-started";
        case RunOutcome::kInstallerFailed:
            return "installer-failed";
        case RunOutcome::kInstanceBusy:
            return "instance-busy";
        case RunOutcome::kFolderBusy:
            return "folder-busy";
        case RunOutcome::kUpdateFailed:
            return "update-failed";
        case RunOutcome::kPatchReady:
            return "patch-ready";
        case RunOutcome::kNothingDue:
            return "nothing-due";
    }
    return "unknown";
}
