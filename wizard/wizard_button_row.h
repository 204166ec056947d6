#pragma once
// How the wizard's button flags (wizard/wizard_buttons.h) show on its row of buttons, the way
// the classic wizard sheet shows them: Finish, enabled or not, takes the place of Next whenever a
// Finish flag is set, and once the Finish button has been given a text of its own it stands
// alone beside Cancel.

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
