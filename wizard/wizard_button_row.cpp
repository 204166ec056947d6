#include "wizard/wizard_button_row.h"

#include "wizard/wizard_buttons.h"

WizardButtonRow ButtonRowFor(unsigned flags, bool finishTextSet) {
    WizardButtonRow row;
    const bool finishShown =
        finishTextSet || (flags & (kWizardFinish | kWizardDisabledFinish)) != 0;
    row.back = {!finishTextSet, (flags & kWizardBack) != 0};
    row.next = {!finishShown, !finishShown && (flags & kWizardNext) != 0};
    row.finish = {finishShown, (flags & kWizardFinish) != 0};
    row.cancel = {true, (flags & kWizardCancel) != 0};
    return row;
}
