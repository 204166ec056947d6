#pragma once
// The download wizard as text, for machines without a display.
//
// Page 1 shows the version text, message 208 and the proposed folder, and reads a folder (an
// empty line keeps the proposal); a refused folder gives message 209 and the question again.
// Page 2 shows the release notes, runs the worker with a progress line (redrawn in place on a
// terminal, a plain line at most every second otherwise) and asks "Install? (y/n)" (message
// 217), or after a failure offers to try again at once, to go back to page 1, to play without
// the patch (when the request offers it) or to cancel. Ctrl-C or the end of
// input cancels: the worker is stopped and Run returns false. With assume-yes every question
// takes its default, and a refused folder or a failed download cancels instead of asking.
//
// Texts of the launcher (messages, version text, release notes) are printed exactly as they
// are: never wrapped or re-indented, line feeds kept; only control characters that would steer
// the terminal are made harmless (terminal_safe.h).

#include <memory>
#include <string>

#include "ui/console/console_prompt.h"
#include "wizard/download_wizard_request.h"

struct PatchInfo;
class ConsoleUserInterface;
class DownloadPageLogic;
class ConsoleDownloadView;
class TextRefreshThrottle;

class ConsoleDownloadWizard {
  public:
    // ui and info are not owned and must outlive the wizard; the download page gets request.
    // throttle null: the process-wide one.
    ConsoleDownloadWizard(ConsoleUserInterface& ui, PatchInfo& info,
                          TextRefreshThrottle* throttle = nullptr,
                          const DownloadWizardRequest& request = {});
    ~ConsoleDownloadWizard();
    ConsoleDownloadWizard(const ConsoleDownloadWizard&) = delete;
    ConsoleDownloadWizard& operator=(const ConsoleDownloadWizard&) = delete;

    // Runs the wizard once. True exactly when the download was verified and "Install" chosen;
    // info.download_folder then holds the folder.
    bool Run();

    // Whether a worker thread is still alive (after Run: only when a stop was not honoured in
    // time).
    bool WorkerThreadAlive() const;

  private:
    enum class Outcome { kInstall, kBack, kCancel, kTryAgain };

    // Page 1: true once a folder has been accepted into info.download_folder.
    bool RunFolderPage();
    // Page 2: shows it, downloads, and asks what the verdict leaves to ask.
    Outcome RunDownloadPage();
    // The page's heading, the release notes the first time, and a fresh worker.
    void ShowDownloadPage();
    // Runs the worker's messages until it gives its verdict: false when Ctrl-C came first.
    bool AwaitVerdict();
    // After a verified download: "Install? (y/n)".
    Outcome AskInstall();
    // After a failure: try again, back to page 1, play without the patch, or cancel.
    Outcome AskBackOrCancel();

    ConsoleUserInterface& m_ui;
    PatchInfo& m_info;
    ConsolePrompt m_prompt;
    std::unique_ptr<ConsoleDownloadView> m_view;
    std::unique_ptr<DownloadPageLogic> m_logic;
    std::wstring m_folderText;
    bool m_pageInitialised = false;
};
