#include "ui/qt/checking_window.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "text/messages.h"
#include "ui/checking_run.h"
#include "ui/qt/qt_application.h"

namespace {

// Often enough that the window goes the moment the check ends, rarely enough to cost nothing.
constexpr int kPollIntervalMs = 50;

QString ToQString(const std::wstring& text) {
    return QString::fromStdWString(text);
}

}  // namespace

CheckingWindow::CheckingWindow(CheckingRun& run, QWidget* parent) : QDialog(parent), m_run(run) {
    setWindowTitle(ToQString(LoadMessage(kMsgCaption)));
    setWindowIcon(ProductIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* label = new QLabel(ToQString(LoadMessage(kMsgChecking)), this);
    label->setTextFormat(Qt::PlainText);
    // Busy, not measured: neither the fetch nor the digest knows how long it has left.
    auto* busy = new QProgressBar(this);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    // Wide enough for the caption to show whole in the window's title.
    busy->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    // Stopping the check starts the game, as when no catalogue could be read; the button says
    // so instead of a bare Cancel.
    auto* buttons = new QDialogButtonBox(this);
    m_cancel =
        buttons->addButton(ToQString(LoadMessage(kMsgStartGame)), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &CheckingWindow::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(busy);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_poll = new QTimer(this);
    m_poll->setInterval(kPollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &CheckingWindow::PollRun);
}

bool CheckingWindow::RunUntilEnded() {
    m_cancelled = false;
    if (m_run.Ended())
        return true;
    m_poll->start();
    exec();
    m_poll->stop();
    return !m_cancelled;
}

void CheckingWindow::reject() {
    // The window stays until the check has really ended, so the flow never goes on beside it.
    if (!m_cancelled) {
        m_cancelled = true;
        m_run.Stop();
        m_cancel->setEnabled(false);
    }
    PollRun();
}

void CheckingWindow::PollRun() {
    if (m_run.Ended())
        done(m_cancelled ? QDialog::Rejected : QDialog::Accepted);
}
