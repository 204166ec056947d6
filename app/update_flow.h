#pragma once
// What the launcher does once it runs: fetch the catalogue, recognise the installed game, offer
// the newest patch, download it through the wizard and run its installer, or else start the
// game.
//
// Every step sets bStartGame to its own default first, and returns true to go on or false to
// stop; a stop starts the game exactly when bStartGame is still set.

#include <memory>
#include <string>

#include "text/failure.h"
#include "text/limits.h"

class CCurlWrapper;
class CLauncherCommandLineInfo;
class UserInterface;
struct PatchInfo;

// Everything the steps work with, handed over by whoever runs the flow: the application object
// in the program, a test with a scripted front end in the tests.
struct UpdateFlow {
    const CLauncherCommandLineInfo& options;
    // The only way the steps reach the person.
    UserInterface& ui;
    CCurlWrapper& curl;
    // The catalogue model; its owner is the application (m_pPatchInfo). FetchCatalogue fills it.
    std::unique_ptr<PatchInfo>& patchInfo;
    // Why the installer or the game could not be started, when one of them could not.
    Failure failure;
};

// Runs the steps in order. True when the flow ended with the installer having run; false on
// every other exit (its caller does not look at it).
bool RunUpdateFlow(UpdateFlow& flow);

// Fetches <base URL>patchinfo.xml into a new PatchInfo held by flow.patchInfo (kept even when
// the text proves not to be a catalogue). True when the catalogue was read.
bool FetchCatalogue(UpdateFlow& flow, bool& bStartGame);
// Asks about a newer launcher (message 214) when the catalogue names one, then offers the
// patch (message 201). True when the user accepts the patch.
bool OfferUpdate(UpdateFlow& flow, bool& bStartGame);
// Runs the modal download wizard; clears bStartGame, so a cancelled wizard ends everything.
bool RunDownloadWizard(UpdateFlow& flow, bool& bStartGame);
// Starts the latest patch's installer from the download folder and waits for it to end. When
// it cannot be started the user sees message 203 and the game starts instead.
bool RunInstaller(UpdateFlow& flow, bool& bStartGame);

// Starts <installation folder>bin/velmora2.exe in its own bin/ folder without waiting; message
// 200 when it cannot be started.
bool LaunchGame(UpdateFlow& flow);

// Message 201 with its two placeholders filled by installedVersion and latestVersion, in that
// order, cut to kMaxOfferTextLength characters.
std::wstring FormatPatchOffer(const std::wstring& installedVersion,
                              const std::wstring& latestVersion);
