#pragma once
// The small window shown while the check before the offer (the catalogue fetch and the game's
// digest) takes long: what is going on, a busy bar and Cancel.

#include <QDialog>

class CheckingRun;
class QPushButton;
class QTimer;

class CheckingWindow : public QDialog {
    Q_OBJECT

  public:
    explicit CheckingWindow(CheckingRun& run, QWidget* parent = nullptr);

    // Shows the window until the check has ended. False when the person cancelled it (Cancel,
    // Escape or the window's close button); the check has then been asked to stop and has
    // ended too.
    bool RunUntilEnded();

    // "Start the game": stops the check, and the game starts.
    QPushButton* CancelButton() const { return m_cancel; }

  protected:
    void reject() override;

  private:
    void PollRun();

    CheckingRun& m_run;
    QPushButton* m_cancel = nullptr;
    QTimer* m_poll = nullptr;
    bool m_cancelled = false;
};
