#include "tests/support/scripted_ui.h"

int ScriptedUserInterface::MessageBox(const std::wstring& text, const std::wstring& caption,
                                      unsigned style) {
    m_boxes.push_back({text, caption, style});
    if (m_answers.empty())
        return m_defaultAnswer;
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

bool ScriptedUserInterface::RunDownloadWizard(PatchInfo& info,
                                              const DownloadWizardRequest& request) {
    ++m_wizardRuns;
    return m_wizard ? m_wizard(info, request) : false;
}

bool ScriptedUserInterface::AskGameFolder(const std::wstring& text, const std::wstring&,
                                          std::wstring& out) {
    m_folderQuestions.push_back(text);
    if (m_gameFolders.empty())
        return false;
    out = m_gameFolders.front();
    m_gameFolders.pop_front();
    return true;
}
