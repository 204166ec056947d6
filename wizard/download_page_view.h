#pragma once
// What the download page's logic asks of a front end. Qt implements it with widgets, the
// console with lines of text, tests with a recorder. Every call comes on the thread that drives
// the DownloadPageLogic (the user-interface thread).

#include <string>

#include "wizard/wizard_buttons.h"

class DownloadPageView {
  public:
    virtual ~DownloadPageView() = default;

    // The release notes, once per wizard; shown exactly as given (plain text, line feeds).
    virtual void SetChangelogText(const std::wstring& text) = 0;
    // The progress bar, 16-bit bounds as the worker sends them.
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int position) = 0;
    // A text that passed the 100 ms throttle. forced: a phase text ("Downloading Patch",
    // "Verifying download integrity ..", or the empty text that clears the line).
    virtual void SetProgressText(const std::wstring& text, bool forced) = 0;
    // The wizard enters stage; buttons is WizardButtons(stage).
    virtual void SetStage(WizardStage stage, unsigned buttons) = 0;
    // The Finish button's new caption (message 217, "Install", once the download is verified).
    virtual void SetFinishText(const std::wstring& text) = 0;
    // A modal error box (error icon, OK); returns once the user has closed it. While it is
    // open the worker waits for its verdict to be handled.
    virtual void ShowErrorBox(const std::wstring& text, const std::wstring& caption) = 0;
    // The whole patch's progress below the file's own line ("File 2 of 4, about 1:05 left"),
    // the wait for a silent server, or after a failure what failed; empty clears it.
    virtual void SetPatchProgressText(const std::wstring& /*text*/) {}
};
