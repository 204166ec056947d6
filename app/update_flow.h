#pragma once
// What the launcher does once it runs: fetch the catalogue, recognise the installed game, offer
// the newest patch, download it through the wizard and run its installer, or else start the
// game.
//
// Every step sets bStartGame to its own default first, and returns true to go on or false to
// stop; a stop starts the game exactly when bStartGame is still set.

#include <string>

#include "text/limits.h"

class CVelLauncherApp;

// Runs the steps in order. True when the flow ended with the installer having run; false on
// every other exit (its caller does not look at it).
bool RunUpdateFlow(CVelLauncherApp& app);

// Fetches <base URL>patchinfo.xml into a new PatchInfo held by the application (kept even when
// the text proves not to be a catalogue). True when the catalogue was read.
bool FetchCatalogue(CVelLauncherApp& app, bool& bStartGame);
// Asks about a newer launcher (message 214) when the catalogue names one, then offers the
// patch (message 201). True when the user accepts the patch.
bool OfferUpdate(CVelLauncherApp& app, bool& bStartGame);
// Runs the modal download wizard; clears bStartGame, so a cancelled wizard ends everything.
bool RunDownloadWizard(CVelLauncherApp& app, bool& bStartGame);
// Starts the latest patch's installer from the download folder and waits for it to end. When
// it cannot be started the user sees message 203 and the game starts instead.
bool RunInstaller(CVelLauncherApp& app, bool& bStartGame);

// Starts <installation folder>bin/velmora2.exe in its own bin/ folder without waiting; message
// 200 when it cannot be started.
bool LaunchGame(CVelLauncherApp& app);

// Message 201 with its two placeholders filled by installedVersion and latestVersion, in that
// order, cut to kMaxOfferTextLength characters.
std::wstring FormatPatchOffer(const std::wstring& installedVersion,
                              const std::wstring& latestVersion);
