#pragma once
// The launcher's localised texts: one table keyed by the English id (200-218), with the French
// and German entries at +100 and +200.

#include <string>

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
};

// The text of message id (English base id) in the current language; empty when there is none.
std::wstring LoadMessage(int id);
// The table entry with exactly this id (200-218, 300-318, 400-418); empty when there is none.
std::wstring LoadTableEntry(int tableId);
// "English", "French" or "German" for the current language; "English" for any other index.
std::wstring LanguageName();
