#pragma once
// The version and path page without a toolkit: the texts it shows, the folder it proposes and
// the check that decides whether Next may leave it.

#include <string>

#include "text/limits.h"

struct PatchInfo;

// The file whose creation proves that the folder is writable is kWriteAccessProbeName; the
// longest folder text accepted, kMaxDownloadFolderLength, leaves room for it in a path buffer.
// How many names the probe tries in a fixed order, kWriteAccessProbeName first, when an entry
// of the folder already has the name; after them it tries names chosen at random.
constexpr int kWriteAccessProbeNames = 65;
// The probe's name at attempt 0 .. kWriteAccessProbeNames - 1.
std::wstring WriteAccessProbeName(int attempt);

// Message 216, a line feed, then installed_game->name when a game is known.
std::wstring BuildVersionText(const PatchInfo& info);

// The folder the page offers at first: the working directory the launcher was started in;
// empty when it cannot be read.
std::wstring ProposeDownloadFolder();

enum class FolderCheck {
    kAccepted,
    kEmpty,        // nothing typed
    kTooLong,      // more than kMaxDownloadFolderLength characters
    kMissing,      // no file-system entry of that name
    kNotWritable,  // no probe file could be created in it (a file, a read-only folder, ...)
};

// Next's test, in this order: not empty, not too long, exists, a probe file can be created in
// it. The probe is created as a new file (never opening an existing entry, never following a
// link) and removed again, so whatever the folder holds under the probe's name (a file of the
// user's, a link, a folder, a FIFO) is never touched and never makes a writable folder look
// read-only: the probe moves on to a free name. Nothing stays behind. Never creates the folder.
FolderCheck CheckDownloadFolder(const std::wstring& folder);

// Next pressed: when the folder passes the check, stores it in info.download_folder exactly as
// typed (no separator added or removed, a relative text stays relative) and returns true. On
// false download_folder keeps its value and the front end shows message 209 (caption 202, error
// style) and stays on the page.
bool AcceptDownloadFolder(const std::wstring& folder, PatchInfo& info);

// The folder a text on the page stands for. The page shows its proposal through ForDisplay,
// which cannot show bytes that are not UTF-8; when the person leaves that text as it was
// shown, the proposal itself, byte for byte, is the folder meant. Any other text is taken as
// typed.
std::wstring FolderFromPageText(const std::wstring& text, const std::wstring& proposed);
