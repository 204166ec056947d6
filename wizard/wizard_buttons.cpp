#include "wizard/wizard_buttons.h"

#include <cwctype>

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

FailedStageChoices ChoicesFor(WizardStage stage, bool gameCanStart) {
    const bool failed = stage == WizardStage::kFailed;
    return {failed, failed && gameCanStart};
}

std::wstring BackButtonCaption(int language) {
    return language == 1 ? std::wstring(L"< &Retour") : std::wstring();
}

std::wstring AcceleratorsOf(const std::wstring& captions) {
    std::wstring letters;
    for (std::size_t i = 0; i + 1 < captions.size(); ++i) {
        if (captions[i] != L'&')
            continue;
        if (captions[i + 1] != L'&')
            letters += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(captions[i + 1])));
        ++i;
    }
    return letters;
}

std::wstring WithAccelerator(const std::wstring& caption, const std::wstring& taken) {
    if (!AcceleratorsOf(caption).empty())
        return caption;
    const std::wstring used = AcceleratorsOf(taken);
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const wint_t c = static_cast<wint_t>(caption[i]);
        if (!std::iswalpha(c))
            continue;
        if (used.find(static_cast<wchar_t>(std::towlower(c))) != std::wstring::npos)
            continue;
        std::wstring marked = caption;
        marked.insert(i, 1, L'&');
        return marked;
    }
    return caption;
}
