#pragma once
// The wizard's second page: the release notes, and the download's progress bar and text. Laid
// out like the launcher's dialog template 105: the side banner on the left, the notes in a
// framed box on the right, the progress bar and its text across the bottom. The page logic
// (wizard/download_page_logic.h) decides everything; this class shows what it is told and
// hands it the worker's messages on the GUI thread.

#include <QString>
#include <QWizardPage>
#include <string>

#include "wizard/download_page_logic.h"
#include "wizard/download_page_view.h"

struct PatchInfo;
class CVelLauncherDownloadWizard;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

class CVelLauncherPageDownload : public QWizardPage, private DownloadPageView {
    Q_OBJECT

  public:
    CVelLauncherPageDownload(CVelLauncherDownloadWizard& sheet, PatchInfo& info,
                             const DownloadWizardRequest& request);
    // Stops a worker that still runs, waiting for it at most 2000 ms.
    ~CVelLauncherPageDownload() override;

    // Each time the wizard shows the page: the first time it also fills the page; every time it
    // starts a fresh download worker.
    void Activate();

    // The page has no layout of its own: its size is its template's.
    QSize sizeHint() const override { return size(); }
    QSize minimumSizeHint() const override { return size(); }

    DownloadPageLogic& Logic() { return m_logic; }
    QPlainTextEdit* ChangelogView() const { return m_changelogView; }
    QProgressBar* ProgressBar() const { return m_progressBar; }
    // The last progress text as the worker gave it (the label may show it shortened).
    const QString& FullProgressText() const { return m_fullProgressText; }
    QLabel* PatchText() const { return m_patchText; }

  private slots:
    // Hands the worker's waiting messages to the page logic; scheduled by the queue's wake.
    void DrainMessages();

  private:
    // DownloadPageView
    void SetChangelogText(const std::wstring& text) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int position) override;
    void SetProgressText(const std::wstring& text, bool forced) override;
    void SetStage(WizardStage stage, unsigned buttons) override;
    void SetFinishText(const std::wstring& text) override;
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;
    void SetPatchProgressText(const std::wstring& text) override;

    void ShowProgressText();
    void PlacePatchText(bool failed);
    void ScheduleDrain();

    CVelLauncherDownloadWizard& m_sheet;
    bool m_initialised = false;
    QString m_fullProgressText;

    QProgressBar* m_progressBar;  // 1000
    QLabel* m_progressText;       // 1001
    QLabel* m_patchText;          // the whole patch's progress, or what failed
    QTimer* m_stallTimer;
    QLabel* m_banner;                 // 1002
    QGroupBox* m_frame;               // the frame around the notes
    QPlainTextEdit* m_changelogView;  // 1017

    // Last, so it goes first: stopping the worker finds the widgets still there.
    DownloadPageLogic m_logic;
};
