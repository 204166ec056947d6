#pragma once
// The modal two-page download wizard on Qt: the version and path page, then the download page.
// The sheet carries the window icon and title, the catalogue model both pages share, the row of
// buttons the pages set, and the error box both pages use.

#include <QWizard>
#include <memory>
#include <string>

#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_message_box.h"
#include "wizard/download_wizard_request.h"

struct PatchInfo;
class QAbstractButton;
class CVelLauncherPageInstallPath;
class CVelLauncherPageDownload;

class CVelLauncherDownloadWizard : public QWizard {
    Q_OBJECT

  public:
    enum PageId { kInstallPathPageId = 0, kDownloadPageId = 1 };

    explicit CVelLauncherDownloadWizard(QWidget* parent = nullptr);
    ~CVelLauncherDownloadWizard() override;

    // Not owned; set before Run and valid until it returns.
    PatchInfo* m_pPatchInfo = nullptr;
    // Builds both pages (the download page's logic gets request), runs the wizard modally and
    // destroys the pages again, the download page first (which stops a worker that still
    // runs). True only when the wizard ended through its "Install" button; Cancel, Escape or
    // closing the window give false.
    bool Run(const DownloadWizardRequest& request = {});

    // The pages while Run runs (null otherwise).
    CVelLauncherPageInstallPath* InstallPathPage() const { return m_installPathPage; }
    CVelLauncherPageDownload* DownloadPage() const { return m_downloadPage; }

    // --- What the pages ask of the sheet ---------------------------------------------------

    // The button flags of wizard/wizard_buttons.h (kWizardBack ...).
    void SetWizardButtons(unsigned flags);
    // Gives the Finish button a text of its own; from then on it stands alone beside Cancel.
    void SetFinishText(const std::wstring& text);
    // The error box of both pages: text, caption message 202, error icon, OK, over the sheet.
    void ShowErrorBox(const std::wstring& text);
    // Any box over the sheet, through the box function.
    int ShowBox(const std::wstring& text, const std::wstring& caption, unsigned style);
    // Replaces how boxes are shown (tests answer them themselves).
    void SetMessageBoxFunction(QtMessageBoxFunction function);
    // --yes: nobody is there to press a button. Next is pressed on the first page and Install
    // once the patch is verified; an error box (a refused folder, a failed download) is
    // answered by Cancel, as the console does. Set before Run.
    void AnswerForThePlayer(bool on) { m_answerForPlayer = on; }
    // The page layouts' units, measured on the sheet's font.
    const DialogUnits& Units() const { return m_units; }

    // Whether, when the pages last went, no download worker was left running: a worker still
    // at work was told to stop and ended within its 2000 ms.
    bool WorkerStoppedAtClose() const { return m_workerStoppedAtClose; }

    QAbstractButton* BackButton() const;
    QAbstractButton* NextButton() const;
    QAbstractButton* FinishButton() const;
    QAbstractButton* CancelButton() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void CreatePages(const DownloadWizardRequest& request);
    // On a screen too small for the pages (1024x600 at 125 %, say), a smaller font for the
    // whole sheet, until the window fits.
    void FitFontToScreen();
    void DestroyPages();
    void OnCurrentIdChanged(int id);
    void OnCustomButtonClicked(int which);
    void UpdateButtonRow();
    void PressForThePlayer();

    DialogUnits m_units;
    QtMessageBoxFunction m_messageBox;
    unsigned m_flags = 0;
    bool m_finishTextSet = false;
    bool m_destroyingPages = false;
    bool m_sizeFixed = false;
    bool m_workerStoppedAtClose = true;
    bool m_answerForPlayer = false;
    CVelLauncherPageInstallPath* m_installPathPage = nullptr;
    CVelLauncherPageDownload* m_downloadPage = nullptr;
};
