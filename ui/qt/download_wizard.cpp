#include "ui/qt/download_wizard.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QList>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QString>

#include "text/messages.h"
#include "ui/qt/page_download.h"
#include "ui/qt/page_install_path.h"
#include "ui/qt/page_layout.h"
#include "ui/qt/qt_application.h"
#include "ui/user_interface.h"
#include "wizard/wizard_buttons.h"

namespace {

// What a window manager's frame and a panel may take from the screen, and the classic wizard
// style's margins around its button row, in pixels.
constexpr int kFrameAllowance = 48;
constexpr int kRowMargins = 56;
// Below this a text is no longer comfortable to read; the wizard stops shrinking there.
constexpr qreal kSmallestPointSize = 6.5;

// The row is made of buttons of our own, so that QWizard's rules (no Back on the first page,
// Finish only on the last) never override the stages the pages set.
constexpr QWizard::WizardButton kBack = QWizard::CustomButton1;
constexpr QWizard::WizardButton kNext = QWizard::CustomButton2;
constexpr QWizard::WizardButton kFinish = QWizard::CustomButton3;

void Apply(QAbstractButton* button, const WizardButtonState& state) {
    if (button == nullptr)
        return;
    button->setVisible(state.visible);
    button->setEnabled(state.enabled);
}

}  // namespace

CVelLauncherDownloadWizard::CVelLauncherDownloadWizard(QWidget* parent)
    : QWizard(parent), m_units(font()), m_messageBox(ShowQtMessageBox) {
    setObjectName(QStringLiteral("CVelLauncherDownloadWizard"));
    setWizardStyle(QWizard::ClassicStyle);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    // Qt's own captions, in the language installed for it (Back, Next, Finish, Cancel).
    setButtonText(kBack, buttonText(QWizard::BackButton));
    setButtonText(kNext, buttonText(QWizard::NextButton));
    setButtonText(kFinish, buttonText(QWizard::FinishButton));
    // Message 207 tells the player to press a button by its name; Back must carry that name.
    const std::wstring back = BackButtonCaption(LanguageIndex);
    if (!back.empty())
        setButtonText(kBack, QString::fromStdWString(back));
    // Cancel gets a key of its own too, one that no other button of any page uses.
    std::wstring taken;
    for (QWizard::WizardButton other : {kBack, kNext, kFinish})
        taken += buttonText(other).toStdWString();
    for (int message : {kMsgBrowse, kMsgTryAgain, kMsgPlayWithoutPatch})
        taken += LoadMessage(message);
    setButtonText(QWizard::CancelButton,
                  QString::fromStdWString(
                      WithAccelerator(buttonText(QWizard::CancelButton).toStdWString(), taken)));
    setButtonLayout({QWizard::Stretch, kBack, kNext, kFinish, QWizard::CancelButton});
    // QWizard's own Back, Next, Commit and Finish stay hidden; they must not take the focus or
    // become the button Enter presses either.
    for (QWizard::WizardButton which :
         {QWizard::BackButton, QWizard::NextButton, QWizard::CommitButton, QWizard::FinishButton}) {
        if (auto* hidden = qobject_cast<QPushButton*>(button(which))) {
            hidden->setAutoDefault(false);
            hidden->setDefault(false);
            hidden->setFocusPolicy(Qt::NoFocus);
        }
    }

    connect(this, &QWizard::currentIdChanged, this,
            &CVelLauncherDownloadWizard::OnCurrentIdChanged);
    connect(this, &QWizard::customButtonClicked, this,
            &CVelLauncherDownloadWizard::OnCustomButtonClicked);
    SetWizardButtons(0);
}

CVelLauncherDownloadWizard::~CVelLauncherDownloadWizard() {
    DestroyPages();
}

bool CVelLauncherDownloadWizard::Run(const DownloadWizardRequest& request) {
    if (m_pPatchInfo == nullptr)
        return false;
    CreatePages(request);
    const int result = exec();
    DestroyPages();
    return result != QDialog::Rejected;
}

void CVelLauncherDownloadWizard::CreatePages(const DownloadWizardRequest& request) {
    if (m_pPatchInfo == nullptr || m_installPathPage != nullptr)
        return;
    setWindowTitle(QString::fromStdWString(LoadMessage(kMsgCaption)));
    setWindowIcon(ProductIcon());
    FitFontToScreen();
    m_installPathPage = new CVelLauncherPageInstallPath(*this, *m_pPatchInfo);
    m_downloadPage = new CVelLauncherPageDownload(*this, *m_pPatchInfo, request);
    setPage(kInstallPathPageId, m_installPathPage);
    setPage(kDownloadPageId, m_downloadPage);
}

void CVelLauncherDownloadWizard::FitFontToScreen() {
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (shown == nullptr)
        return;
    // The pages are drawn in dialog units, so a smaller font shrinks the whole layout in
    // proportion and every text still fits its box. Room is left for the window manager's
    // title bar and the wizard's own button row and margins.
    const QSize room = shown->availableGeometry().size() - QSize(kFrameAllowance, kFrameAllowance);
    const int buttonRow = QPushButton(QStringLiteral("Cancel")).sizeHint().height() + kRowMargins;
    QFont smaller = font();
    for (;;) {
        const QSize page = m_units.ToPixels(kPageWidthUnits, kPageHeightUnits);
        if (page.height() + buttonRow <= room.height() &&
            page.width() + kRowMargins <= room.width())
            return;
        if (smaller.pointSizeF() - 0.5 < kSmallestPointSize)
            return;
        smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
        setFont(smaller);
        m_units = DialogUnits(smaller);
    }
}

void CVelLauncherDownloadWizard::DestroyPages() {
    // The download page goes first: its destruction stops a worker that still runs. Removing a
    // page may make QWizard show another one, which must not count as an activation.
    m_destroyingPages = true;
    if (m_downloadPage != nullptr) {
        m_workerStoppedAtClose = m_downloadPage->Logic().Cancel();
        removePage(kDownloadPageId);
        delete m_downloadPage;
        m_downloadPage = nullptr;
    }
    if (m_installPathPage != nullptr) {
        removePage(kInstallPathPageId);
        delete m_installPathPage;
        m_installPathPage = nullptr;
    }
    m_destroyingPages = false;
}

void CVelLauncherDownloadWizard::OnCurrentIdChanged(int id) {
    if (m_destroyingPages || id < 0)
        return;
    if (id == kInstallPathPageId && m_installPathPage != nullptr)
        m_installPathPage->Activate();
    if (id == kDownloadPageId && m_downloadPage != nullptr)
        m_downloadPage->Activate();
}

void CVelLauncherDownloadWizard::showEvent(QShowEvent* event) {
    QWizard::showEvent(event);
    if (!m_sizeFixed && currentPage() != nullptr) {
        // Both pages have the same least size; QWizard learns it only from layout requests
        // still waiting in the queue. The window may grow beyond it (the release notes take
        // the room), never shrink below.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        m_sizeFixed = true;
        adjustSize();
        setMinimumSize(size());
    }
}

void CVelLauncherDownloadWizard::OnCustomButtonClicked(int which) {
    if (which == kBack)
        back();
    if (which == kNext)
        next();
    if (which == kFinish)
        accept();
}

void CVelLauncherDownloadWizard::SetWizardButtons(unsigned flags) {
    m_flags = flags;
    UpdateButtonRow();
}

void CVelLauncherDownloadWizard::SetFinishText(const std::wstring& text) {
    // The caption gets a keyboard accelerator like its neighbours; the text itself stays.
    std::wstring row;
    for (QAbstractButton* other : {BackButton(), NextButton(), CancelButton()})
        if (other != nullptr)
            row += other->text().toStdWString();
    setButtonText(kFinish, QString::fromStdWString(WithAccelerator(text, row)));
    m_finishTextSet = true;
    UpdateButtonRow();
}

void CVelLauncherDownloadWizard::UpdateButtonRow() {
    const WizardButtonRow row = ButtonRowFor(m_flags, m_finishTextSet);
    Apply(BackButton(), row.back);
    Apply(NextButton(), row.next);
    Apply(FinishButton(), row.finish);
    if (QAbstractButton* cancel = CancelButton())
        cancel->setEnabled(row.cancel.enabled);
    // Enter presses whichever of Next and Finish can be pressed.
    if (auto* next = qobject_cast<QPushButton*>(NextButton()))
        next->setDefault(row.next.visible && row.next.enabled);
    if (auto* finish = qobject_cast<QPushButton*>(FinishButton()))
        finish->setDefault(row.finish.visible && row.finish.enabled);
    // After the page that changed the row has finished its own work.
    if (m_answerForPlayer)
        QMetaObject::invokeMethod(
            this, [this] { PressForThePlayer(); }, Qt::QueuedConnection);
}

void CVelLauncherDownloadWizard::PressForThePlayer() {
    if (m_destroyingPages || !isVisible())
        return;
    const WizardButtonRow row = ButtonRowFor(m_flags, m_finishTextSet);
    if (currentId() == kInstallPathPageId && row.next.visible && row.next.enabled) {
        next();
    } else if (currentId() == kDownloadPageId && m_downloadPage != nullptr &&
               m_downloadPage->Logic().Stage() == WizardStage::kVerified && row.finish.visible &&
               row.finish.enabled) {
        accept();
    }
}

void CVelLauncherDownloadWizard::ShowErrorBox(const std::wstring& text) {
    ShowBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
}

int CVelLauncherDownloadWizard::ShowBox(const std::wstring& text, const std::wstring& caption,
                                        unsigned style) {
    const int answer = m_messageBox ? m_messageBox(this, text, caption, style) : 0;
    // What made the box stays in the log; only a player could have gone on from here.
    if (m_answerForPlayer && (style & kMbIconMask) == kMbIconError)
        QMetaObject::invokeMethod(
            this, [this] { reject(); }, Qt::QueuedConnection);
    return answer;
}

void CVelLauncherDownloadWizard::SetMessageBoxFunction(QtMessageBoxFunction function) {
    m_messageBox = std::move(function);
}

QAbstractButton* CVelLauncherDownloadWizard::BackButton() const {
    return button(kBack);
}

QAbstractButton* CVelLauncherDownloadWizard::NextButton() const {
    return button(kNext);
}

QAbstractButton* CVelLauncherDownloadWizard::FinishButton() const {
    return button(kFinish);
}

QAbstractButton* CVelLauncherDownloadWizard::CancelButton() const {
    return button(QWizard::CancelButton);
}
