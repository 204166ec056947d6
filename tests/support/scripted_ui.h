#pragma once
// A UserInterface whose answers are scripted by the test and which records every box shown.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/user_interface.h"

struct ShownBox {
    std::wstring text;
    std::wstring caption;
    unsigned style;
};

class ScriptedUserInterface : public UserInterface {
  public:
    // Answers given to message boxes in order; when they run out, every box answers
    // m_defaultAnswer.
    std::deque<int> m_answers;
    int m_defaultAnswer = kIdOk;
    std::vector<ShownBox> m_boxes;

    // What the wizard does when it is run; by default it is cancelled.
    std::function<bool(PatchInfo&, const DownloadWizardRequest&)> m_wizard;
    int m_wizardRuns = 0;

    // The answers to the game-folder question, in order (none left: no answer), and the
    // questions asked.
    std::deque<std::wstring> m_gameFolders;
    std::vector<std::wstring> m_folderQuestions;
    bool AskGameFolder(const std::wstring& text, const std::wstring&, std::wstring& out) override;
    int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) override;
    bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) override;
    std::vector<bool> m_installerNotices;  // the installer notice's changes, in order
    void ShowInstallerNotice(bool shown) override { m_installerNotices.push_back(shown); }
};
