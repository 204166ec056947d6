#pragma once
// What whoever runs the download wizard hands it for that one run. It travels with the call,
// through every wrapper a front end sits behind, down to the download page and its worker.

#include <cstdint>
#include <functional>
#include <string>

#include "text/failure.h"

// Asked by the download page right before its worker starts: true when the folder is this
// launcher's to write in (held from now on, or no hold is possible there); false when another
// launcher holds it, and nothing may be written. The caller keeps the hold for the download and
// the installer that follows, so that no second launcher works in the folder meanwhile.
using DownloadFolderClaim = std::function<bool(const std::wstring& folder)>;

// Told the cause each time a download of the patch fails, before the page shows it: whoever
// runs the wizard then knows a Cancel that follows from one that was chosen.
using DownloadFailureReport = std::function<void(const Failure& failure)>;

// Told, once the worker has given its verdict, what deltas did in a download that offered any.
struct DeltaTally;
using DownloadDeltaReport = std::function<void(const DeltaTally& deltas)>;

struct DownloadWizardRequest {
    // Empty: nothing is asked.
    DownloadFolderClaim folderClaim;
    // The digest cache file the worker uses for the files it finds in the folder; empty: none
    // (--no-cache, or no cache folder).
    std::wstring digestCachePath;
    // The folder the worker copies the files from before it fetches any (a file: base
    // address); empty: none.
    std::wstring localSource;
    // Empty: nobody is told.
    DownloadFailureReport failureReport;
    // Called when the player, after a failed download, chooses to play without the patch; the
    // wizard then ends as cancelled and the caller starts the game. Empty: the choice is not
    // offered.
    std::function<void()> playWithoutPatch;
    // Where the bases of the patch's deltas are: the game folder (empty: the current folder).
    std::wstring gameFolder;
    // Empty: nobody is told.
    DownloadDeltaReport deltaReport;
    // The download's bandwidth cap in bytes per second (--limit-rate); 0: none. The page's
    // second line says when one is in force.
    std::int64_t rateLimit = 0;
};
