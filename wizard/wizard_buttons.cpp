#include "wizard/wizard_buttons.h"

unsigned WizardButtons(WizardStage stage) {
    switch (stage) {
        case WizardStage::kInstallPathShown:
            return kWizardBack | kWizardNext | kWizardCancel;
        case WizardStage::kDownloading:
            return kWizardDisabledFinish | kWizardCancel;
        case WizardStage::kVerified:
            return kWizardFinish | kWizardCancel;
        case WizardStage::kFailed:
            return kWizardBack | kWizardDisabledFinish | kWizardCancel;
    }
    // Cancel stays usable whatever happens.
    return kWizardCancel;
}
