#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace platform {

namespace {

using SignalAction = struct sigaction;

// Lock-free, so the signal handler may store into it.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
    g_interrupted.store(true, std::memory_order_relaxed);
}

}  // namespace

ScopedInterruptCatcher::ScopedInterruptCatcher() {
    g_interrupted.store(false, std::memory_order_relaxed);
    SignalAction action{};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for the user's answer must return, so the front end sees
    // the interrupt at once instead of after the next line.
    action.sa_flags = 0;
    auto* previous = new SignalAction{};
    if (sigaction(SIGINT, &action, previous) == 0) {
        m_installed = true;
        m_previous = previous;
    } else {
        delete previous;
    }
}

ScopedInterruptCatcher::~ScopedInterruptCatcher() {
    if (!m_installed)
        return;
    auto* previous = static_cast<SignalAction*>(m_previous);
    sigaction(SIGINT, previous, nullptr);
    delete previous;
}

bool ScopedInterruptCatcher::Interrupted() const {
    return g_interrupted.load(std::memory_order_relaxed);
}

void RaiseInterrupt() {
    kill(getpid(), SIGINT);
}

}  // namespace platform
