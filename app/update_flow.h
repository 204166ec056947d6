#pragma once
// What the launcher does once it runs: fetch the catalogue, recognise the installed game, offer
// the newest patch, download it through the wizard and run its installer, or else start the
// game.
//
// Every step sets bStartGame to its own default first, and returns true to go on or false to
// stop; a stop starts the game exactly when bStartGame is still set.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/kept_catalogue.h"
#include "platform/folder_lock.h"
#include "text/failure.h"
#include "text/limits.h"
#include "transfer/retry_backoff.h"
#include "transfer/transfer_limits.h"

class CCurlWrapper;
class CLauncherCommandLineInfo;
class UserInterface;
struct PatchInfo;

// How a run ended, as far as a wrapper that started the launcher cares (LauncherExitStatus
// gives the process's exit status for each).
enum class RunOutcome {
    kStoppedByPlayer,     // declined, cancelled, or went for the newer launcher's page: 0
    kGameStarted,         // 0
    kInstallerSucceeded,  // the installer ran and ended with 0: 0
    kNothingStarted,      // the game could not be started, whatever came before: 1
    kInstallerFailed,     // the installer ran and ended with another status: 2
    kInstanceBusy,        // another launcher holds the single-instance lock: 3
    kFolderBusy,          // another launcher holds the download folder: 3
    kUpdateFailed,        // under --yes, the download failed and the wizard gave up: 4
    kPatchReady,          // --download-only: the patch is in the folder, verified: 0
    kNothingDue,          // --download-only: no patch for this game, or it is up to date: 5
};
int LauncherExitStatus(RunOutcome outcome);
// A short English word for the log ("game-started", "installer-failed" ...).
const char* RunOutcomeName(RunOutcome outcome);

// Everything the steps work with, handed over by whoever runs the flow: the application object
// in the program, a test with a scripted front end in the tests.
struct UpdateFlow {
    UpdateFlow(const CLauncherCommandLineInfo& options, UserInterface& ui, CCurlWrapper& curl,
               std::unique_ptr<PatchInfo>& patchInfo, Failure failure = {})
        : options(options), ui(ui), curl(curl), patchInfo(patchInfo), failure(std::move(failure)) {}

    const CLauncherCommandLineInfo& options;
    // The only way the steps reach the person.
    UserInterface& ui;
    CCurlWrapper& curl;
    // The catalogue model; its owner is the application (m_pPatchInfo). FetchCatalogue fills it.
    std::unique_ptr<PatchInfo>& patchInfo;
    // Why the run went otherwise than planned, for the log and the run record: the catalogue
    // could not be fetched or was refused, the download failed before the wizard was cancelled,
    // or the installer or the game could not be started (a later failure replaces an earlier one).
    Failure failure;
    RunOutcome outcome = RunOutcome::kStoppedByPlayer;
    // The installer's exit status, once it has run.
    int installerStatus = 0;
    // The download folder, held from the start of the download (the wizard's claim) until the
    // installer has ended, so no second launcher writes there or swaps the installer
    // meanwhile.
    platform::FolderLock folderLock;
    std::wstring lockedFolder;
    // Another launcher held the download folder when this one asked for it.
    bool folderBusy = false;
    // The catalogue's retries (tests shorten them and fix the seed).
    BackoffSettings catalogueBackoff = CatalogueBackoff();
    std::uint64_t backoffSeed = FreshBackoffSeed();
    // No plain http:// address goes out, not even to the browser (VELMORA_REQUIRE_HTTPS).
    bool httpsOnly = kHttpsOnly;
    // The catalogue was fetched and read (FetchCatalogue's result).
    bool catalogueRead = false;
    // The digest cache the check looked the game up in (empty: none), for the download worker.
    std::wstring digestCache;
    // What deltas did in the download, for the run log (DescribeDeltas); empty when none was
    // offered.
    std::string deltas;
    // A start outside the game folder (LocateGame): the wizard proposes downloadFolder (empty:
    // the working folder) and the folder accepted is remembered in settingsFile for the next
    // such start; the installer then runs in the download folder, not the working folder.
    bool outsideWorkingFolder = false;
    std::wstring downloadFolder;
    std::wstring settingsFile;
    // The reason a start failed for want of a runner has been shown once already.
    bool runnerReasonShown = false;
    // Where the last good catalogue is kept (empty: nowhere), for the next start's conditional
    // request.
    std::wstring keptCatalogue = UserKeptCataloguePath();
};

// The claim the wizard's download page makes (DownloadFolderClaim): takes the folder lock on
// folder for the rest of the flow. False, with folderBusy set, when another launcher holds it;
// a folder that cannot be locked at all (missing, or no locks on its file system) is let
// through, since the download then meets the same trouble with its own cause.
bool ClaimDownloadFolder(UpdateFlow& flow, const std::wstring& folder);

// The checks before any window (the catalogue, then the installed game), through the front
// end's checking window. False when there is nothing to offer; bStartGame as the steps leave it.
bool RunUpdateChecks(UpdateFlow& flow, bool& bStartGame);

// Runs the steps in order. True when the flow ended with the installer having run; false on
// every other exit (its caller does not look at it).
bool RunUpdateFlow(UpdateFlow& flow);

// Fetches <base URL>patchinfo.xml (FetchDocument: only a 200 answer, retried within
// flow.catalogueBackoff) into a new PatchInfo held by flow.patchInfo (kept even when the text
// proves not to be a catalogue). True when the catalogue was read. A raised stop (the person
// cancelled the check before the offer) ends the transfer or a pause soon.
//
// Unless --no-cache was given, the request names the copy kept in flow.keptCatalogue (from the
// same address), and a 304 makes that copy the catalogue, judged by the same signature rules as
// a fresh one; a kept copy that is refused (expired, or the fresh signature does not fit it) or
// is no catalogue is fetched afresh without the condition, once. A catalogue read from a 200
// answer that named a validator becomes the kept copy.
bool FetchCatalogue(UpdateFlow& flow, bool& bStartGame, const std::atomic<bool>* stop = nullptr);
// Asks about a newer launcher (message 214) when the catalogue names one, then offers the
// patch (message 201). True when the user accepts the patch.
bool OfferUpdate(UpdateFlow& flow, bool& bStartGame);
// Runs the modal download wizard, its download page claiming the folder (ClaimDownloadFolder)
// and using flow.digestCache; clears bStartGame, so a cancelled wizard ends everything. A
// wizard cancelled after a failed download leaves the cause in flow.failure, and under --yes,
// where nobody chose to stop, the run ends as kUpdateFailed.
bool RunDownloadWizard(UpdateFlow& flow, bool& bStartGame);
// Starts the latest patch's installer from the download folder and waits for it to end. Only
// an installer that is one of the patch's own download entries (same path once '\' reads '/',
// letters as they are) is started, and only while its bytes still give the entry's digests,
// checked on the opened file with the download folder held, and while every other file of the
// patch still gives its digests (the digest cache spares the reads where it can be trusted),
// since the data files may have changed while "Install?" waited. When it cannot be started the user
// sees message 203 and the game starts instead; when another launcher holds the folder, message
// 230 and nothing starts.
bool RunInstaller(UpdateFlow& flow, bool& bStartGame);

// Starts <installation folder>bin/velmora2.exe in its own bin/ folder without waiting; message
// 200 when it cannot be started (followed by the runner guidance, message 243, when no runner
// was found).
bool LaunchGame(UpdateFlow& flow);

// Message 201 with its two placeholders filled by installedVersion and latestVersion, in that
// order, cut to kMaxOfferTextLength characters.
std::wstring FormatPatchOffer(const std::wstring& installedVersion,
                              const std::wstring& latestVersion);
