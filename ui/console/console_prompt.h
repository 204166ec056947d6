#pragma once
// The console wizard's questions: a prompt, one line of input per answer, the answer written
// back when it came from a script (a terminal has already echoed it), and no answer at the end
// of input or on Ctrl-C. Under assume-yes every question takes its default without reading.

#include <optional>
#include <string>

#include "ui/console/console_answers.h"

class ConsoleUserInterface;
namespace platform {
class ScopedInterruptCatcher;
}

class ConsolePrompt {
  public:
    // ui is not owned and must outlive the prompt.
    explicit ConsolePrompt(ConsoleUserInterface& ui);

    // Ctrl-C is noticed only through a catcher that the caller keeps alive while it is watched;
    // null: none.
    void WatchInterrupts(const platform::ScopedInterruptCatcher* interrupt);
    bool Interrupted() const;

    // One answer line, decoded, without the CR of a CR LF line end. Nothing at the end of input
    // or on an interrupt. Assume-yes: the empty line, which keeps a proposal.
    std::optional<std::wstring> AskLine(const std::wstring& prompt);
    // Asks until the answer is yes or no: true for yes; false for no, the end of input or an
    // interrupt. Assume-yes: yes.
    bool AskYesNo(const std::wstring& prompt);
    // Asks until the answer is back or cancel; kCancel also at the end of input or on an
    // interrupt. Assume-yes: kCancel, without a question, since nobody is there to retry.
    BackOrCancel AskBackOrCancel(const std::wstring& prompt);

  private:
    ConsoleUserInterface& m_ui;
    const platform::ScopedInterruptCatcher* m_interrupt = nullptr;
};
