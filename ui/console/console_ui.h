#pragma once
// The launcher as text, for machines without a display: message boxes go to standard error,
// answers come from standard input.

#include <cstdio>
#include <string>

#include "ui/user_interface.h"

class ConsoleUserInterface : public UserInterface {
  public:
    // assumeYes: every box is answered Yes (or OK) without reading anything.
    ConsoleUserInterface(std::FILE* in, std::FILE* out, bool assumeYes);

    int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) override;
    bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) override;
    // One line (message 248) on the output, then waits. Nothing cancels it: Ctrl-C keeps its
    // usual meaning here and ends the launcher.
    bool ShowChecking(CheckingRun& run) override;
    // The notice as a line of its own when the installer is started.
    void ShowInstallerNotice(bool shown) override;
    // The explanation, then one line read as the folder (a "~" is the caller's to expand). No
    // answer at the end of input, for an empty line, and under assume-yes.
    bool AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                       std::wstring& folder) override;
    // One line on the output.
    void ShowNotice(const std::wstring& text) override;

    bool AssumeYes() const { return m_assumeYes; }
    std::FILE* Input() const { return m_in; }
    std::FILE* Output() const { return m_out; }

    // Reads one line of input without its line end; false at end of input or on an error.
    bool ReadLine(std::string& line);
    // Writes wide text as UTF-8, made terminal-safe (terminal_safe.h): line feeds and tabs
    // kept, nothing wrapped or re-indented.
    void Write(const std::wstring& text);
    // Goes back to the start of the current line and writes text over it, made terminal-safe.
    void WriteOverLine(const std::wstring& text);

  private:
    std::FILE* m_in;
    std::FILE* m_out;
    bool m_assumeYes;
};
