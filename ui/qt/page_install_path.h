#pragma once
// The wizard's first page: the game version the launcher detected and the folder the patch
// files go to. Laid out like the launcher's dialog template 104: the side banner on the left;
// on the right the version text, the label, the folder and its Browse button.

#include <QWizardPage>
#include <functional>
#include <string>

struct PatchInfo;
class CVelLauncherDownloadWizard;
class QLabel;
class QLineEdit;
class QPushButton;
class QResizeEvent;

class CVelLauncherPageInstallPath : public QWizardPage {
    Q_OBJECT

  public:
    using FolderChooser =
        std::function<bool(const std::wstring& initial, std::wstring& out, QWidget* owner)>;

    CVelLauncherPageInstallPath(CVelLauncherDownloadWizard& sheet, PatchInfo& info);

    // Each time the wizard shows the page; the first time it also fills the page.
    void Activate();

    // The page has no layout of its own: its template's size is its least; more width goes
    // to the folder.
    QSize sizeHint() const override { return m_templateSize; }
    QSize minimumSizeHint() const override { return m_templateSize; }
    // Next: the folder must pass the check and have room for the patch, else the error box
    // says why (message 209 and the reason, or the disk space) and the page stays.
    bool validatePage() override;

    // The Browse button's chooser; tests put in one that answers by itself.
    void SetFolderChooser(FolderChooser chooser);

    QLabel* PathDescription() const { return m_pathDescription; }
    QLabel* VersionText() const { return m_versionText; }
    QLineEdit* PathEdit() const { return m_pathEdit; }
    QPushButton* BrowseButton() const { return m_browseButton; }
    // The whole patch's size, and how much of it the folder already holds.
    QLabel* PatchSizeText() const { return m_patchSizeText; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnInitDialog();
    void OnSetActive();
    void OnBrowse();
    void PlaceControls();
    void ShowPatchSize();

    CVelLauncherDownloadWizard& m_sheet;
    PatchInfo& m_info;
    FolderChooser m_chooser;
    // The folder the text stands for while it reads as shown: the working directory, or the
    // last folder Browse picked.
    std::wstring m_proposedFolder;
    bool m_initialised = false;

    QLabel* m_pathDescription;    // 1014
    QLabel* m_banner;             // 1002
    QLineEdit* m_pathEdit;        // 1015
    QPushButton* m_browseButton;  // 1016
    QLabel* m_versionText;        // 1020
    QLabel* m_patchSizeText;
    QSize m_templateSize;
};
