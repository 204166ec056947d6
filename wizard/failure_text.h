#pragma once
// What the player reads when a download or a start fails: one message of the table per cause,
// naming the file through ForDisplay.

#include <cstdint>
#include <string>

#include "text/failure.h"

// The message for failure in the current language. A digest mismatch keeps message 207 as it
// always read, with message 242 naming the file on a line below it; every other cause has its
// own message instead of 207. kNone and kStopped (no cause given) also read as message 207, as
// does kUntrusted, which no player is shown (a refused catalogue starts the game). Messages 230
// (kBusy: subject the folder) and 243 (kRunnerMissing: subject the program, detail the runner)
// are built here and nowhere else.
std::wstring FailureMessage(const Failure& failure);

// What the player can do after failure (the line below FailureMessage on the failed page): try
// again, which resumes (270); make room or choose another folder first when the folder is the
// trouble (271: a full disk, a file that cannot be written or read); or, when retrying cannot
// help (a catalogue whose path is refused), play without the patch (280).
std::wstring WayForwardText(const Failure& failure);

// Message 231's reason (232-235) for a libcurl result code.
int NetworkReasonMessage(int curlCode);
// Message 231's reason (290-292) for a refused certificate, from the TLS library's verdict.
int CertificateReasonMessage(long verifyResult);

// What the player is told when the catalogue could not be fetched because the secure connection
// failed (message 293 with its reason): such a player would otherwise never be patched and never
// learn why. Empty for every other failure, which starts the game without a word as ever.
std::wstring UncheckedUpdatesNotice(const Failure& catalogueFailure);

// "404 Not Found": the status and the server's own reason, or the standard phrase when the
// server gave none.
std::wstring HttpStatusText(int status, const std::string& reason);

// A size for a person in the current language: "512 KB", "12.3 MB", "4.50 GB" (1024-based, as
// the progress line counts); "12,3 MB" in German, "12,3 Mo" in French.
std::wstring SizeText(std::uint64_t bytes);
