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
class QPushButton;
class QResizeEvent;
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

    // The page has no layout of its own: its template's size is its least, and whatever room
    // the window gives beyond it goes to the release notes.
    QSize sizeHint() const override { return m_templateSize; }
    QSize minimumSizeHint() const override { return m_templateSize; }

    DownloadPageLogic& Logic() { return m_logic; }
    QPlainTextEdit* ChangelogView() const { return m_changelogView; }
    QProgressBar* ProgressBar() const { return m_progressBar; }
    // The last progress text as the worker gave it (the label may show it shortened).
    const QString& FullProgressText() const { return m_fullProgressText; }
    QLabel* PatchText() const { return m_patchText; }
    // The failed download's ways forward (shown only then).
    QPushButton* TryAgainButton() const { return m_tryAgain; }
    QPushButton* PlayWithoutPatchButton() const { return m_playWithoutPatch; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

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
    // Every control from the template's places, the notes taking the room the page has beyond
    // the template; on the failed stage the notes make room below them for what failed and
    // the two ways forward.
    void PlaceControls();
    void ScheduleDrain();
    void OnPlayWithoutPatch();

    CVelLauncherDownloadWizard& m_sheet;
    bool m_initialised = false;
    QString m_fullProgressText;

    QProgressBar* m_progressBar;  // 1000
    QLabel* m_progressText;       // 1001
    QLabel* m_patchText;          // the whole patch's progress, or what failed
    QPushButton* m_tryAgain;
    QPushButton* m_playWithoutPatch;
    QSize m_templateSize;
    bool m_failedLayout = false;
    QTimer* m_stallTimer;
    QLabel* m_banner;                 // 1002
    QGroupBox* m_frame;               // the frame around the notes
    QPlainTextEdit* m_changelogView;  // 1017

    // Last, so it goes first: stopping the worker finds the widgets still there.
    DownloadPageLogic m_logic;
};
