#pragma once
// The launcher's localised texts: one table keyed by the English id (200-218), with the French
// and German entries at +100 and +200.

#include <initializer_list>
#include <string>
#include <string_view>

// 0 English, 1 French, 2 German. Set once at start-up, before anything is shown.
extern int LanguageIndex;

// Ids of the messages in use.
enum MessageId : int {
    kMsgGameLaunchFailed = 200,
    kMsgPatchOffer = 201,
    kMsgCaption = 202,
    kMsgInstallerLaunchFailed = 203,
    kMsgDownloadingPatch = 204,
    kMsgDownloading = 206,
    kMsgFilesCorrupted = 207,
    kMsgDownloadFolderLabel = 208,
    kMsgInvalidFolder = 209,
    kMsgLauncherOutOfDate = 214,
    kMsgSingleInstance = 215,
    kMsgSelectedVersion = 216,
    kMsgInstall = 217,
    kMsgVerifying = 218,

    // The launcher's own messages: a cause for every failure, and guidance.
    kMsgFolderBusy = 230,         // %1 folder
    kMsgServerUnreachable = 231,  // %1 file or address, %2 one of the three reasons below
    kMsgReasonNameNotFound = 232,
    kMsgReasonRefused = 233,
    kMsgReasonSecureConnection = 234,
    kMsgReasonNetwork = 235,
    kMsgServerError = 236,        // %1 file, %2 status and reason ("404 Not Found")
    kMsgServerStalled = 237,      // %1 file, %2 seconds
    kMsgFileTooLarge = 238,       // %1 file, %2 listed size
    kMsgDiskSpace = 239,          // %1 folder, %2 needed, %3 free
    kMsgCannotWrite = 240,        // %1 file, %2 the system's reason
    kMsgUnsafePath = 241,         // %1 file
    kMsgFailedFile = 242,         // %1 file (shown under message 207)
    kMsgRunnerMissing = 243,      // %1 program, %2 runner looked for
    kMsgOpenAddress = 244,        // %1 address
    kMsgFolderMissing = 245,      // %1 folder
    kMsgNotAFolder = 246,         // %1 path
    kMsgFolderNotWritable = 247,  // %1 folder
    kMsgChecking = 248,
    kMsgFileOfFiles = 249,  // %1 number, %2 count
    kMsgTimeLeft = 250,     // %1 duration
    kMsgWaitingForServer = 251,
    kMsgBrowse = 252,
    kMsgRetrying = 253,         // %1 file, %2 seconds, %3 attempt
    kMsgInstallerStatus = 254,  // %1 exit status; what happens next
    kMsgNotRegularFile = 255,   // %1 path
    kMsgCannotRead = 256,       // %1 file
    kMsgGameNotFound = 260,     // %1 folder looked in
    kMsgNoGameInFolder = 261,   // %1 folder chosen
    kMsgChooseGameFolder = 262,

    // What the player can do after a failed download, and the wizard's own buttons and lines.
    kMsgWayForwardResume = 270,
    kMsgWayForwardFolder = 271,
    kMsgTryAgain = 272,
    kMsgPlayWithoutPatch = 273,
    kMsgStartGame = 274,
    kMsgStartingInstaller = 275,
    kMsgAllFilesChecked = 276,  // %1 count
    kMsgOneFileChecked = 277,
    kMsgPatchSize = 278,        // %1 size
    kMsgAlreadyInFolder = 279,  // %1 size
    kMsgWayForwardPlay = 280,
    kMsgReleaseNotes = 281,
    kMsgDownloadProgress = 282,
    kMsgDeltaFile = 283,   // %1 file, %2 delta's size, %3 file's size
    kMsgDeltaTotal = 284,  // %1 bytes fetched, %2 the files' sizes, %3 files as deltas
    kMsgDeltaFellBack = 285,  // %1 file

    // Why the server's certificate was refused: reasons for message 231 and for 293.
    kMsgCertificateNotTrusted = 290,
    kMsgCertificateOtherName = 291,
    kMsgCertificateExpired = 292,
    kMsgUpdatesNotChecked = 293,  // %1 the reason (234, 290-292)
    kMsgRateCapped = 294,         // %1 size (a second)

    // The highest id of the launcher's own messages.
    kMsgLastOwn = kMsgRateCapped,
};

// The text of message id (English base id) in the current language; empty when there is none.
std::wstring LoadMessage(int id);
// The table entry with exactly this id (200-218, 300-318, 400-418, and the launcher's own
// 230-294, 330-394, 430-494); empty when there is none.
std::wstring LoadTableEntry(int tableId);
// "English", "French" or "German" for the current language; "English" for any other index.
std::wstring LanguageName();

// The format with "%1" to "%9" replaced by the values in order; the values are inserted as they
// are (a "%1" inside a value stays as it is), and a placeholder without a value stays in place.
std::wstring FormatMessageText(std::wstring_view format,
                               std::initializer_list<std::wstring_view> values);
