#pragma once
// Ctrl-C for a front end that wants to end its own work cleanly instead of dying: while a
// ScopedInterruptCatcher lives, an interrupt (SIGINT here) only raises a flag. A blocking read
// of the console is interrupted too, so it returns as at the end of input.

namespace platform {

class ScopedInterruptCatcher {
  public:
    // Installs the catcher and lowers the flag.
    ScopedInterruptCatcher();
    // Puts back whatever handled interrupts before.
    ~ScopedInterruptCatcher();
    ScopedInterruptCatcher(const ScopedInterruptCatcher&) = delete;
    ScopedInterruptCatcher& operator=(const ScopedInterruptCatcher&) = delete;

    // Whether an interrupt arrived since the catcher was installed.
    bool Interrupted() const;

  private:
    bool m_installed = false;
    void* m_previous = nullptr;
};

// Delivers an interrupt to this process, as Ctrl-C on its terminal would (for tests).
void RaiseInterrupt();

}  // namespace platform
