#include "ui/qt/qt_user_interface.h"

#include <cstdio>

#include "text/utf8.h"
#include "ui/qt/download_wizard.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_message_box.h"
#include "ui/terminal_safe.h"

QtUserInterface::QtUserInterface(bool assumeYes) : m_assumeYes(assumeYes) {}

int QtUserInterface::MessageBox(const std::wstring& text, const std::wstring& caption,
                                unsigned style) {
    const bool yesNo = (style & kMbButtonMask) == kMbYesNo;
    if (m_assumeYes) {
        const std::string line = WideToUtf8(TerminalSafe(L"[" + caption + L"]\n" + text));
        std::fprintf(stderr, "%s\n", line.c_str());
        return yesNo ? kIdYes : kIdOk;
    }
    return ShowQtMessageBox(nullptr, text, caption, style);
}

bool QtUserInterface::RunDownloadWizard(PatchInfo& info) {
    EnsureQtApplication();
    CVelLauncherDownloadWizard wizard;
    wizard.m_pPatchInfo = &info;
    wizard.m_folderClaim = FolderClaim();
    return wizard.Run();
}
