#include "ui/qt/qt_user_interface.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "text/messages.h"
#include "text/utf8.h"
#include "ui/checking_run.h"
#include "ui/qt/browse_for_folder.h"
#include "ui/qt/checking_window.h"
#include "ui/qt/download_wizard.h"
#include "ui/qt/qt_application.h"
#include "ui/qt/qt_message_box.h"
#include "ui/terminal_safe.h"

QtUserInterface::QtUserInterface(bool assumeYes) : m_assumeYes(assumeYes) {}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::ShowInstallerNotice(bool shown) {
    if (!shown) {
        m_notice.reset();
        return;
    }
    const std::wstring text = LoadMessage(kMsgStartingInstaller);
    if (m_assumeYes) {
        std::fprintf(stderr, "%s\n", WideToUtf8(text).c_str());
        return;
    }
    EnsureQtApplication();
    // The event loop does not run while the launcher waits for the installer, so the notice
    // is drawn once, now, and asks nothing of the player.
    auto notice = std::make_unique<QWidget>(nullptr, Qt::SplashScreen);
    notice->setWindowTitle(QString::fromStdWString(LoadMessage(kMsgCaption)));
    auto* label = new QLabel(QString::fromStdWString(text), notice.get());
    label->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(notice.get());
    layout->setContentsMargins(24, 16, 24, 16);
    layout->addWidget(label);
    notice->show();
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    m_notice = std::move(notice);
}

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

bool QtUserInterface::RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) {
    EnsureQtApplication();
    CVelLauncherDownloadWizard wizard;
    wizard.m_pPatchInfo = &info;
    if (m_assumeYes) {
        wizard.AnswerForThePlayer(true);
        // The boxes' texts go where the other boxes' go, and no box waits for a press.
        wizard.SetMessageBoxFunction(
            [this](QWidget*, const std::wstring& text, const std::wstring& caption,
                   unsigned style) { return MessageBox(text, caption, style); });
    }
    return wizard.Run(request);
}

bool QtUserInterface::ShowChecking(CheckingRun& run) {
    if (m_assumeYes) {
        std::fprintf(stderr, "%s\n", WideToUtf8(LoadMessage(kMsgChecking)).c_str());
        run.Wait();
        return true;
    }
    EnsureQtApplication();
    CheckingWindow window(run);
    return window.RunUntilEnded();
}

bool QtUserInterface::AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                                    std::wstring& folder) {
    folder.clear();
    if (m_assumeYes)
        return false;
    EnsureQtApplication();
    QMessageBox box(QMessageBox::Question, QString::fromStdWString(LoadMessage(kMsgCaption)),
                    QString::fromStdWString(explanation), QMessageBox::Cancel);
    // Folder names are not markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowIcon(ProductIcon());
    QPushButton* choose = box.addButton(QString::fromStdWString(LoadMessage(kMsgChooseGameFolder)),
                                        QMessageBox::AcceptRole);
    box.setDefaultButton(choose);
    box.exec();
    if (box.clickedButton() != choose)
        return false;
    return BrowseForFolder(initial, folder);
}

void QtUserInterface::ShowNotice(const std::wstring& text) {
    if (m_assumeYes) {
        std::fprintf(stderr, "%s\n", WideToUtf8(TerminalSafe(text)).c_str());
        return;
    }
    // Long enough to read two short sentences; the game is waiting behind it.
    ShowQtNotice(text, LoadMessage(kMsgCaption), std::chrono::seconds(6));
}
