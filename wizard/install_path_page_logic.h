#pragma once
// The version and path page without a toolkit: the texts it shows, the folder it proposes and
// the check that decides whether Next may leave it.

#include <cstdint>
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

// The folder the page offers at first: info.download_folder when the launcher has put one
// there (a start outside the game folder), else the working directory the launcher was
// started in; empty when neither is known.
std::wstring ProposeDownloadFolder(const PatchInfo& info);

enum class FolderCheck {
    kAccepted,
    kEmpty,        // nothing typed
    kTooLong,      // more than kMaxDownloadFolderLength characters
    kMissing,      // no file-system entry of that name
    kNotAFolder,   // an entry that is not a folder (a file, a FIFO, ...)
    kNotWritable,  // no probe file could be created in it (a file, a read-only folder, ...)
};

// Next's test, in this order: not empty, not too long, exists, is a folder, a probe file can be
// created in it. The probe is created as a new file (never opening an existing entry, never
// following a link) and removed again, so whatever the folder holds under the probe's name (a file
// of the user's, a link, a folder, a FIFO) is never touched and never makes a writable folder look
// read-only: the probe moves on to a free name. Nothing stays behind. Never creates the folder.
FolderCheck CheckDownloadFolder(const std::wstring& folder);

// The folder text with a leading "~" or "~/" read as the home folder, as a shell would; any
// other text (also "~name") is returned as it is, and so is everything when no home is known.
std::wstring ExpandHomeFolder(const std::wstring& text);

// What the page shows when the check refuses folder: message 209 on the first line and, below
// it, why (245, 246 or 247, naming the folder through ForDisplay); 209 alone for an empty or
// over-long text.
std::wstring FolderRefusalText(FolderCheck check, const std::wstring& folder);

// Bytes of the latest patch still to fetch into folder: every entry's listed size less the
// bytes of a regular file already at its target (never less than 0 per entry).
std::uint64_t BytesStillToFetch(const PatchInfo& info, const std::wstring& folder);

// The whole patch on the first page: message 278 with the listed sizes' sum and, on a line
// below, message 279 with how much of it folder already holds (BytesStillToFetch's
// complement) when that is anything; empty when the patch lists no size.
std::wstring PatchSizeText(const PatchInfo& info, const std::wstring& folder);

// Message 239 for folder, with BytesStillToFetch and the free space of its file system, when
// that space is short of it; false (text untouched) when it is not, or cannot be read.
bool DiskSpaceShortText(const PatchInfo& info, const std::wstring& folder, std::wstring& text);

// Next pressed. The text has a leading "~" expanded (ExpandHomeFolder), must pass the check,
// and the folder's file system must have room for BytesStillToFetch (a folder whose free space
// cannot be read is not refused for it). On success the folder is stored in
// info.download_folder as typed but for that expansion (no separator added or removed, a
// relative text stays relative) and true returned. On false download_folder keeps its value,
// refusal (when given) receives the text to show (FolderRefusalText, or message 239 with the
// needed and free space) and the front end shows it (caption 202, error style) and stays on
// the page.
bool AcceptDownloadFolder(const std::wstring& folder, PatchInfo& info,
                          std::wstring* refusal = nullptr);

// The folder a text on the page stands for. The page shows its proposal through ForDisplay,
// which cannot show bytes that are not UTF-8; when the person leaves that text as it was
// shown, the proposal itself, byte for byte, is the folder meant. Any other text is taken as
// typed.
std::wstring FolderFromPageText(const std::wstring& text, const std::wstring& proposed);
