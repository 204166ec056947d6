#pragma once
// --download-only: the patch fetched and checked ahead of time (a timer at night, say), so that
// the next start finds it in place. Nothing is installed and the game is not started.

#include "app/update_flow.h"

// How long the files are left alone after the download before they are read for the digest
// cache: a digest is trusted by the next start only when it was taken that long after the
// file's last change (DigestCache::kRacyWindowNs, with a margin).
inline constexpr unsigned kDownloadSettleMs = 2100;

// Runs the checks, and when the installed game has a patch due, asks for it (message 201;
// nothing is asked under --yes), takes the proposed download folder (the current directory)
// with its lock and runs the download worker over it with nobody watching. The outcome lands in
// flow.outcome: kPatchReady when every file was verified (and then read once more after
// settleMs for the digest cache, so the next start's download page finds them without reading),
// kNothingDue when the game is not found, not recognised or up to date, kUpdateFailed with the
// cause in flow.failure when the catalogue, the folder or the download failed, kFolderBusy
// when another launcher holds the folder, kStoppedByPlayer when the offer was declined.
void RunDownloadAhead(UpdateFlow& flow, unsigned settleMs = kDownloadSettleMs);
