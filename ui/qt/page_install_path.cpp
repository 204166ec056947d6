#include "ui/qt/page_install_path.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QString>
#include <algorithm>

#include "catalogue/patch_info.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "ui/qt/browse_for_folder.h"
#include "ui/qt/download_wizard.h"
#include "ui/qt/page_layout.h"
#include "wizard/install_path_page_logic.h"
#include "wizard/wizard_buttons.h"

CVelLauncherPageInstallPath::CVelLauncherPageInstallPath(CVelLauncherDownloadWizard& sheet,
                                                         PatchInfo& info)
    : m_sheet(sheet), m_info(info), m_chooser(BrowseForFolder) {
    // Created in the template's order, which is also the order Tab follows.
    m_pathDescription = new QLabel(this);
    m_banner = new QLabel(this);
    m_pathEdit = new QLineEdit(this);
    m_browseButton = new QPushButton(QString::fromStdWString(LoadMessage(kMsgBrowse)), this);
    m_versionText = new QLabel(this);
    m_patchSizeText = new QLabel(this);
    m_patchSizeText->setObjectName(QStringLiteral("patchSizeText"));

    m_pathDescription->setText(QStringLiteral("DownLoadPathDescription"));
    m_versionText->setText(QStringLiteral("Version Text"));
    for (QLabel* label : {m_pathDescription, m_versionText, m_patchSizeText}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    m_banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    // A screen reader names the folder by the label above it.
    m_pathDescription->setBuddy(m_pathEdit);
    // Enter on the focused Browse opens the chooser; on the folder it still presses Next.
    m_browseButton->setAutoDefault(true);
    connect(m_browseButton, &QPushButton::clicked, this, &CVelLauncherPageInstallPath::OnBrowse);
    // The size already there depends on the folder the text names.
    connect(m_pathEdit, &QLineEdit::textChanged, this, [this] {
        if (m_initialised)
            ShowPatchSize();
    });

    m_templateSize = m_sheet.Units().ToPixels(kPageWidthUnits, kPageHeightUnits);
    setMinimumSize(m_templateSize);
    resize(m_templateSize);
    PlaceControls();
}

void CVelLauncherPageInstallPath::resizeEvent(QResizeEvent* event) {
    QWizardPage::resizeEvent(event);
    PlaceControls();
}

void CVelLauncherPageInstallPath::ShowPatchSize() {
    const std::wstring folder =
        ExpandHomeFolder(FolderFromPageText(m_pathEdit->text().toStdWString(), m_proposedFolder));
    m_patchSizeText->setText(QString::fromStdWString(::PatchSizeText(m_info, folder)));
}

void CVelLauncherPageInstallPath::PlaceControls() {
    const DialogUnits& units = m_sheet.Units();
    // A wider window gives the texts and the folder more room; the layout stays where it is.
    const int wider = std::max(0, width() - m_templateSize.width());
    auto across = [wider](QRect box) {
        box.setWidth(box.width() + wider);
        return box;
    };
    const QRect versionBox = across(units.ToPixels(123, 14, 190, 28));
    // The label, the folder and Browse share one left edge, the folder's.
    GrowLabelUpwards(m_pathDescription, across(units.ToPixels(123, 105, 190, 8)),
                     versionBox.bottom() + 1);
    PlaceSideBanner(m_banner, units);
    m_pathEdit->setGeometry(across(units.ToPixels(123, 116, 180, 15)));
    m_browseButton->setGeometry(units.ToPixels(123, 133, 50, 14));
    // A translated caption may be wider than the template's button.
    if (m_browseButton->sizeHint().width() > m_browseButton->width())
        m_browseButton->resize(m_browseButton->sizeHint().width(), m_browseButton->height());
    m_versionText->setGeometry(versionBox);
    m_patchSizeText->setGeometry(across(units.ToPixels(123, 153, 190, 24)));
}

void CVelLauncherPageInstallPath::Activate() {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    OnSetActive();
}

void CVelLauncherPageInstallPath::OnInitDialog() {
    m_pathDescription->setText(QString::fromStdWString(LoadMessage(kMsgDownloadFolderLabel)));
    // Shown readably; an unchanged text still means the proposal's own bytes.
    m_proposedFolder = ProposeDownloadFolder(m_info);
    if (!m_proposedFolder.empty())
        m_pathEdit->setText(QString::fromStdWString(ForDisplay(m_proposedFolder)));
    m_versionText->setText(QString::fromStdWString(BuildVersionText(m_info)));
    m_pathEdit->setAccessibleName(QString::fromStdWString(LoadMessage(kMsgDownloadFolderLabel)));
    ShowPatchSize();
    // The texts are known now; a long translation may need another line.
    PlaceControls();
}

void CVelLauncherPageInstallPath::OnSetActive() {
    m_sheet.SetWizardButtons(WizardButtons(WizardStage::kInstallPathShown));
    // The page has always pressed the Right-arrow key on showing, because the dialog selects
    // the whole folder text when it gives it the focus (Qt does the same), and a key typed next
    // would replace it. Its effect, not the key, is queued behind that focus: the folder has
    // the focus, the caret after its text and nothing selected.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pathEdit->setFocus(Qt::OtherFocusReason);
            m_pathEdit->end(false);
        },
        Qt::QueuedConnection);
}

bool CVelLauncherPageInstallPath::validatePage() {
    const std::wstring folder =
        FolderFromPageText(m_pathEdit->text().toStdWString(), m_proposedFolder);
    std::wstring refusal;
    if (AcceptDownloadFolder(folder, m_info, &refusal))
        return true;
    m_sheet.ShowErrorBox(refusal);
    return false;
}

void CVelLauncherPageInstallPath::SetFolderChooser(FolderChooser chooser) {
    m_chooser = std::move(chooser);
}

void CVelLauncherPageInstallPath::OnBrowse() {
    std::wstring chosen;
    const std::wstring current =
        FolderFromPageText(m_pathEdit->text().toStdWString(), m_proposedFolder);
    if (m_chooser && m_chooser(current, chosen, window()) && !chosen.empty()) {
        // The folder picked becomes the proposal: its bytes survive the readable display.
        m_proposedFolder = chosen;
        m_pathEdit->setText(QString::fromStdWString(ForDisplay(chosen)));
    }
}
