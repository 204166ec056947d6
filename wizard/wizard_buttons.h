#pragma once
// The wizard's buttons: which are there at each stage, as the property-sheet flags the launcher
// has always used, so that any front end (Qt, console, tests) shows the same choices at the
// same moment; how those flags show on the row; and the captions the launcher sets itself
// instead of taking the toolkit's own translation.

#include <string>

// Button flags (the values of PSWIZB_*). Every set the wizard uses includes Cancel.
constexpr unsigned kWizardBack = 0x01;
constexpr unsigned kWizardNext = 0x02;
constexpr unsigned kWizardFinish = 0x04;
constexpr unsigned kWizardDisabledFinish = 0x08;
constexpr unsigned kWizardCancel = 0x10;

enum class WizardStage {
    kInstallPathShown,  // version and path page: Back, Next, Cancel (0x13)
    kDownloading,       // download page while the worker runs: disabled Finish, Cancel (0x18)
    kVerified,          // every file verified: Finish captioned message 217, Cancel (0x14)
    kFailed,  // after the error box with message 207: Back, disabled Finish, Cancel (0x19)
};

// The flags to set on entering the stage.
unsigned WizardButtons(WizardStage stage);

// The row as the classic wizard sheet shows the flags: Finish, enabled or not, takes the place
// of Next whenever a Finish flag is set, and once the Finish button has been given a text of
// its own it stands alone beside Cancel.
struct WizardButtonState {
    bool visible = false;
    bool enabled = false;
};

struct WizardButtonRow {
    WizardButtonState back;
    WizardButtonState next;
    WizardButtonState finish;
    WizardButtonState cancel;
};

WizardButtonRow ButtonRowFor(unsigned flags, bool finishTextSet);

// Beside Back and Cancel, a failed download offers a way forward: "Try again" (a fresh worker
// at once, keeping what is on disk) and, when whoever runs the wizard can start the game, "Play
// without the patch". No other stage has either.
struct FailedStageChoices {
    bool tryAgain = false;
    bool playWithoutPatch = false;
};

FailedStageChoices ChoicesFor(WizardStage stage, bool gameCanStart);

// The Back button's caption in the language: the word message 207 tells the player to press
// where the toolkit's translation uses another ("< &Retour" in French); empty where the
// toolkit's own caption already is that word.
std::wstring BackButtonCaption(int language);

// The caption with a keyboard accelerator ('&') before its first letter that no other button
// uses yet; taken holds the other buttons' captions. A caption that already has one, or whose
// every letter is taken, is returned as it is.
std::wstring WithAccelerator(const std::wstring& caption, const std::wstring& taken);

// The accelerator letters of a row of captions ("< &Back&Next >" gives "bn"), in lower case;
// "&&" is a plain ampersand.
std::wstring AcceleratorsOf(const std::wstring& captions);
