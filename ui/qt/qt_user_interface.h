#pragma once
// The launcher's face when a display is present: Qt message boxes and the download wizard. The
// QApplication is only created when something is first shown.

#include <memory>
#include <string>

#include "ui/user_interface.h"

class QWidget;

class QtUserInterface : public UserInterface {
  public:
    // assumeYes: questions are answered Yes and notices OK without a box; the text still goes
    // to standard error, so an unattended run keeps a trace of what it was told.
    explicit QtUserInterface(bool assumeYes);
    ~QtUserInterface() override;

    int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) override;
    bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) override;
    // The checking window (CheckingWindow); unattended, its text goes to standard error instead
    // and nothing can cancel.
    bool ShowChecking(CheckingRun& run) override;
    // The explanation in a box with "Choose folder..." and Cancel, then the folder chooser.
    // Unattended, nothing is asked.
    bool AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                       std::wstring& folder) override;
    // A warning box that closes by itself after a few seconds (OK closes it sooner); unattended,
    // the text goes to standard error instead.
    void ShowNotice(const std::wstring& text) override;

    // A small window with message 275; unattended, the line goes to standard error.
    void ShowInstallerNotice(bool shown) override;

  private:
    bool m_assumeYes;
    std::unique_ptr<QWidget> m_notice;
};
