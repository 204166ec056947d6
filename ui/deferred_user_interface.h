#pragma once
// A front end that is only made when something must first be shown. Most starts show nothing
// (the game is up to date and simply starts), so the heavy front end, and the libraries it
// maps, are paid only by the runs that need a window.

#include <functional>
#include <memory>

#include "ui/user_interface.h"

class DeferredUserInterface : public UserInterface {
  public:
    using Maker = std::function<std::unique_ptr<UserInterface>()>;

    // preferred is tried on the first call; when it yields nothing, fallback serves instead
    // (and for every later call). Neither is called again once one has answered.
    DeferredUserInterface(Maker preferred, Maker fallback);

    int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) override;
    bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) override;
    bool AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                       std::wstring& folder) override;
    // Only a check slow enough to be shown makes the front end.
    bool ShowChecking(CheckingRun& run) override;
    // Only on a front end already made: an installer only starts after the wizard.
    void ShowInstallerNotice(bool shown) override;
    void ShowNotice(const std::wstring& text) override;

    // Whether a front end has been made yet, and whether it is the fallback.
    bool Made() const { return m_target != nullptr; }
    bool FellBack() const { return m_fellBack; }

  private:
    UserInterface& Target();

    Maker m_preferred;
    Maker m_fallback;
    std::unique_ptr<UserInterface> m_target;
    bool m_fellBack = false;
};
