#include "ui/qt/page_download.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

#include "text/messages.h"
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
    m_tryAgain = new QPushButton(QString::fromStdWString(LoadMessage(kMsgTryAgain)), this);
    m_playWithoutPatch =
        new QPushButton(QString::fromStdWString(LoadMessage(kMsgPlayWithoutPatch)), this);
    // Enter on a focused button presses that button, not the row's default.
    for (QPushButton* way : {m_tryAgain, m_playWithoutPatch}) {
        way->setAutoDefault(true);
        way->hide();
    }
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { m_logic.TryAgain(); });
    connect(m_playWithoutPatch, &QPushButton::clicked, this,
            &CVelLauncherPageDownload::OnPlayWithoutPatch);
    // What a screen reader says for the controls whose own text says nothing.
    m_changelogView->setAccessibleName(QString::fromStdWString(LoadMessage(kMsgReleaseNotes)));
    m_progressBar->setAccessibleName(QString::fromStdWString(LoadMessage(kMsgDownloadProgress)));

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

    m_templateSize = m_sheet.Units().ToPixels(kPageWidthUnits, kPageHeightUnits);
    setMinimumSize(m_templateSize);
    resize(m_templateSize);
    PlaceSideBanner(m_banner, m_sheet.Units());
    PlaceControls();

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

void CVelLauncherPageDownload::resizeEvent(QResizeEvent* event) {
    QWizardPage::resizeEvent(event);
    PlaceControls();
}

void CVelLauncherPageDownload::PlaceControls() {
    const DialogUnits& units = m_sheet.Units();
    // The room beyond the template goes to the right and to the bottom.
    const int wider = std::max(0, width() - m_templateSize.width());
    const int taller = std::max(0, height() - m_templateSize.height());
    auto stretched = [&](int x, int y, int w, int h, bool down, bool across) {
        QRect box = units.ToPixels(x, y, w, h);
        if (down)
            box.translate(0, taller);
        if (across)
            box.setWidth(box.width() + wider);
        return box;
    };
    m_progressBar->setGeometry(stretched(6, 207, 307, 14, true, true));
    m_progressText->setGeometry(stretched(10, 224, 303, 8, true, true));
    m_frame->setGeometry(stretched(124, 3, 189, 198, false, true));
    QRect notes = stretched(125, 7, 188, 194, false, true);
    notes.setHeight(notes.height() + taller);
    if (!m_failedLayout) {
        // Two lines below the file's own line.
        m_patchText->setGeometry(stretched(10, 234, 303, 16, true, true));
        m_changelogView->setGeometry(notes);
        ShowProgressText();
        return;
    }
    // What failed and what can be done fill the notes' lower part, the two ways forward
    // under it, so that the player reads the way out where the buttons are.
    const int gap = units.ToPixels(4, 4).height();
    int buttonHeight = units.ToPixels(0, 14).height();
    int left = notes.left();
    const int bottom = notes.bottom();
    for (QPushButton* way : {m_tryAgain, m_playWithoutPatch}) {
        const int w = std::max(way->sizeHint().width(), units.ToPixels(50, 0).width());
        buttonHeight = std::max(buttonHeight, way->sizeHint().height());
        way->setGeometry(left, bottom + 1 - buttonHeight, w, buttonHeight);
        left += w + gap;
    }
    const int textHeight = m_patchText->heightForWidth(notes.width());
    const int textTop =
        std::max(notes.top() + notes.height() / 4, bottom + 1 - buttonHeight - gap - textHeight);
    m_patchText->setGeometry(notes.left(), textTop, notes.width(),
                             bottom + 1 - buttonHeight - gap - textTop);
    notes.setBottom(textTop - gap);
    m_changelogView->setGeometry(notes);
    ShowProgressText();
}

void CVelLauncherPageDownload::OnPlayWithoutPatch() {
    // Whoever runs the wizard has been told; it ends as a cancel, and the game starts then.
    if (m_logic.PlayWithoutPatch())
        m_sheet.reject();
}

void CVelLauncherPageDownload::SetPatchProgressText(const std::wstring& text) {
    m_patchText->setText(QString::fromStdWString(text));
}

void CVelLauncherPageDownload::SetStage(WizardStage /*stage*/, unsigned buttons) {
    const FailedStageChoices choices = m_logic.Choices();
    m_tryAgain->setVisible(choices.tryAgain);
    m_playWithoutPatch->setVisible(choices.playWithoutPatch);
    m_failedLayout = choices.tryAgain || choices.playWithoutPatch;
    PlaceControls();
    m_sheet.SetWizardButtons(buttons);
    // The keyboard lands on the way forward the player most likely wants.
    if (choices.tryAgain)
        m_tryAgain->setFocus(Qt::OtherFocusReason);
}

void CVelLauncherPageDownload::SetFinishText(const std::wstring& text) {
    m_sheet.SetFinishText(text);
}

void CVelLauncherPageDownload::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    m_sheet.ShowBox(text, caption, kMbOk | kMbIconError);
}
