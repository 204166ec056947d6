#pragma once
// The wizard's buttons at each stage, as the property-sheet flags the launcher has always used,
// so that any front end (Qt, console, tests) shows the same choices at the same moment.

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
