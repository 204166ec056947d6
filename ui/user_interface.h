#pragma once
// The only way the launcher's logic talks to a person. A console front end, a Qt front end and
// a scripted test double implement it.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "wizard/download_wizard_request.h"

class CheckingRun;

struct PatchInfo;

// Message-box styles and results, with the values the launcher has always used.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbButtonMask = 0x0F;
constexpr unsigned kMbIconMask = 0xF0;

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// How long the check before the offer may take before the person is told about it.
constexpr std::chrono::milliseconds kCheckingWindowDelay{1000};

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // Shows a modal message box and returns the button pressed (kIdOk, kIdYes, kIdNo), or 0
    // when the box could not be shown or answered.
    virtual int MessageBox(const std::wstring& text, const std::wstring& caption,
                           unsigned style) = 0;

    // Runs the modal download wizard over info (not owned), its download page claiming the
    // folder and using the digest cache that request names. False exactly when it was
    // cancelled; true when it ended through its "Install" button.
    virtual bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) = 0;

    // Runs work (the catalogue fetch and the game's digest) before anything else is shown, on
    // a thread of its own (CheckingRun). When it has not ended after kCheckingWindowDelay,
    // ShowChecking tells the person that updates are being checked; a cancel there raises the
    // stop flag work is handed, and work must then end soon. Returns once work has ended: false
    // when it was cancelled.
    virtual bool RunChecking(const std::function<void(const std::atomic<bool>& stop)>& work);

    // Asks where the game is installed, explanation saying why, a folder chooser (or the
    // prompt) starting at initial. True with the folder chosen in folder; false when no answer
    // comes (cancelled, end of input). No default: a wrapper that forgot to pass it on would
    // quietly never ask.
    virtual bool AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                               std::wstring& folder) = 0;

    // Shown while a slow check runs, until run has ended; run.Stop() when the person cancels.
    // False when they cancelled. Here: nothing is shown, and it waits for the end.
    virtual bool ShowChecking(CheckingRun& run);

    // A small notice (message 275) from just before the patch installer is started until it
    // has ended (false): a runner's first start can take seconds before the installer shows
    // anything. Here: nothing.
    virtual void ShowInstallerNotice(bool /*shown*/) {}
    // Tells the person something that needs no answer, just before the launcher goes on (the
    // game starts): a front end that can, shows it without waiting for a press. Here: an OK box
    // with the warning icon.
    virtual void ShowNotice(const std::wstring& text);
};

// An error box with no owner, shown by ui: the text, caption message 202, OK and the error icon.
void ShowErrorMessage(UserInterface& ui, const std::wstring& text);
