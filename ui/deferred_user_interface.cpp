#include "ui/deferred_user_interface.h"

#include <utility>

DeferredUserInterface::DeferredUserInterface(Maker preferred, Maker fallback)
    : m_preferred(std::move(preferred)), m_fallback(std::move(fallback)) {}

UserInterface& DeferredUserInterface::Target() {
    if (m_target == nullptr) {
        if (m_preferred)
            m_target = m_preferred();
        if (m_target == nullptr) {
            m_target = m_fallback();
            m_fellBack = true;
        }
        m_preferred = nullptr;
        m_fallback = nullptr;
    }
    return *m_target;
}

int DeferredUserInterface::MessageBox(const std::wstring& text, const std::wstring& caption,
                                      unsigned style) {
    return Target().MessageBox(text, caption, style);
}

bool DeferredUserInterface::RunDownloadWizard(PatchInfo& info,
                                              const DownloadWizardRequest& request) {
    return Target().RunDownloadWizard(info, request);
}

bool DeferredUserInterface::AskGameFolder(const std::wstring& explanation,
                                          const std::wstring& initial, std::wstring& folder) {
    return Target().AskGameFolder(explanation, initial, folder);
}

bool DeferredUserInterface::ShowChecking(CheckingRun& run) {
    return Target().ShowChecking(run);
}

void DeferredUserInterface::ShowInstallerNotice(bool shown) {
    if (m_target != nullptr)
        m_target->ShowInstallerNotice(shown);
}

void DeferredUserInterface::ShowNotice(const std::wstring& text) {
    Target().ShowNotice(text);
}
