#include "ui/qt/page_download.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

#include "ui/qt/download_wizard.h"
#include "ui/qt/page_layout.h"
#include "ui/user_interface.h"

CVelLauncherPageDownload::CVelLauncherPageDownload(CVelLauncherDownloadWizard& sheet,
                                                   PatchInfo& info,
                                                   const DownloadWizardRequest& request)
    : m_sheet(sheet), m_logic(info, *this, nullptr, request) {
    // Created in the template's order, which is also the order Tab follows.
    m_progressBar = new QProgressBar(this);
    m_progressText = new QLabel(QStringLiteral("Progress Text"), this);
    m_patchText = new QLabel(this);
    m_banner = new QLabel(this);
    m_frame = new QGroupBox(this);
    m_changelogView = new QPlainTextEdit(this);

    m_progressBar->setTextVisible(false);
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressText->setTextFormat(Qt::PlainText);
    m_progressText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_patchText->setTextFormat(Qt::PlainText);
    m_patchText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_patchText->setWordWrap(true);
    m_patchText->setObjectName(QStringLiteral("patchText"));
    m_banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_changelogView->setReadOnly(true);
    m_changelogView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_changelogView->setObjectName(QStringLiteral("changelogView"));
    // The style draws the notes' focus too faintly to see; the page's only control that takes
    // the focus must show it.
    m_changelogView->setStyleSheet(QStringLiteral(
        "QPlainTextEdit#changelogView { border: 1px solid palette(mid); }"
        "QPlainTextEdit#changelogView:focus { border: 2px solid palette(highlight); }"));
    // The notes' own border is their frame; the group box's would draw a second line above
    // them.
    m_frame->hide();

    const DialogUnits& units = m_sheet.Units();
    setFixedSize(units.ToPixels(kPageWidthUnits, kPageHeightUnits));
    m_progressBar->setGeometry(units.ToPixels(6, 207, 307, 14));
    m_progressText->setGeometry(units.ToPixels(10, 224, 303, 8));
    PlacePatchText(false);
    PlaceSideBanner(m_banner, units);
    m_frame->setGeometry(units.ToPixels(124, 3, 189, 198));
    m_changelogView->setGeometry(units.ToPixels(125, 7, 188, 194));

    // The worker's thread only schedules; the messages are handled here, on the GUI thread.
    // A queued call by name keeps the worker's side inside Qt's own event posting.
    m_logic.SetWakeCallback([this] { ScheduleDrain(); });

    // A silent server sends no message at all; the page asks the logic itself.
    m_stallTimer = new QTimer(this);
    m_stallTimer->setInterval(1000);
    connect(m_stallTimer, &QTimer::timeout, this, [this] { m_logic.OnTimer(); });
    m_stallTimer->start();
}

CVelLauncherPageDownload::~CVelLauncherPageDownload() {
    // No wake may reach this object once it starts going; clearing the callback waits for a
    // wake already under way on the worker's thread.
    m_logic.SetWakeCallback({});
}

void CVelLauncherPageDownload::ScheduleDrain() {
    QMetaObject::invokeMethod(this, "DrainMessages", Qt::QueuedConnection);
}

void CVelLauncherPageDownload::DrainMessages() {
    // A wake that came while an earlier batch was being handled (from inside an error box's
    // event loop, say) found the logic busy and handled nothing; one more turn picks up what
    // it was for.
    if (m_logic.DispatchMessages() > 0)
        ScheduleDrain();
}

void CVelLauncherPageDownload::Activate() {
    if (!m_initialised) {
        m_initialised = true;
        // A style sheet of its own keeps the notes from following the sheet's font, which may
        // have been made smaller to fit the screen.
        m_changelogView->setFont(m_sheet.font());
        m_logic.OnInitDialog();
    }
    // The page has always pressed the Up-arrow key on showing, to undo the selection the
    // dialog makes in the control it gives the focus. Its effect is queued behind that focus:
    // the notes, the page's only control that takes the focus, have it, shown from their first
    // line with nothing selected.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_changelogView->setFocus(Qt::OtherFocusReason);
            m_changelogView->moveCursor(QTextCursor::Start);
            m_changelogView->verticalScrollBar()->setValue(0);
        },
        Qt::QueuedConnection);
    m_logic.OnSetActive();
}

void CVelLauncherPageDownload::SetChangelogText(const std::wstring& text) {
    m_changelogView->setPlainText(QString::fromStdWString(text));
}

void CVelLauncherPageDownload::SetProgressRange(int low, int high) {
    m_progressBar->setRange(low, std::max(low, high));
}

void CVelLauncherPageDownload::SetProgressPos(int position) {
    // Like the native bar, a position outside the range stops at its end instead of being
    // ignored.
    m_progressBar->setValue(
        std::clamp(position, m_progressBar->minimum(), m_progressBar->maximum()));
}

void CVelLauncherPageDownload::SetProgressText(const std::wstring& text, bool /*forced*/) {
    m_fullProgressText = QString::fromStdWString(text);
    ShowProgressText();
}

void CVelLauncherPageDownload::ShowProgressText() {
    // One line only: a line too long for it (a long file name) loses its middle, and the whole
    // line stays readable as the tooltip.
    const QFontMetrics metrics(m_progressText->font());
    const int width = m_progressText->width();
    const QString shown = metrics.elidedText(m_fullProgressText, Qt::ElideMiddle, width);
    m_progressText->setText(shown);
    m_progressText->setToolTip(shown == m_fullProgressText ? QString() : m_fullProgressText);
}

void CVelLauncherPageDownload::PlacePatchText(bool failed) {
    const DialogUnits& units = m_sheet.Units();
    // While downloading: two lines below the file's own line. After a failure the file's line
    // is empty and what failed may need three lines (message 207 and the file, say).
    m_patchText->setGeometry(failed ? units.ToPixels(10, 223, 303, 28)
                                    : units.ToPixels(10, 234, 303, 16));
}

void CVelLauncherPageDownload::SetPatchProgressText(const std::wstring& text) {
    m_patchText->setText(QString::fromStdWString(text));
}

void CVelLauncherPageDownload::SetStage(WizardStage stage, unsigned buttons) {
    PlacePatchText(stage == WizardStage::kFailed);
    m_sheet.SetWizardButtons(buttons);
}

void CVelLauncherPageDownload::SetFinishText(const std::wstring& text) {
    m_sheet.SetFinishText(text);
}

void CVelLauncherPageDownload::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    m_sheet.ShowBox(text, caption, kMbOk | kMbIconError);
}
