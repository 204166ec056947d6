#pragma once
// The messages a worker thread sends to a page, without a window system: a queue that the
// receiving thread drains. Send waits until the receiver has handled the message or has gone
// away; Post does not wait. Each message carries its own copy of its text, so a receiver never
// sees a line that a later message overwrote.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_set>

namespace platform {

struct WindowMessage {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    // A text that travels with the message (the message owns it).
    std::wstring text;
    // True when the sender waits for this message to be handled.
    bool sent = false;
};

class WindowMessageQueue {
  public:
    using Handler = std::function<void(const WindowMessage&)>;
    using WakeCallback = std::function<void()>;

    WindowMessageQueue() = default;
    WindowMessageQueue(const WindowMessageQueue&) = delete;
    WindowMessageQueue& operator=(const WindowMessageQueue&) = delete;
    ~WindowMessageQueue();

    // --- Sender side (any thread but the receiver's) ---------------------------------------

    // Queues the message and waits until the receiver has handled it (true) or the queue was
    // closed before that (false). A closed queue refuses at once.
    bool Send(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam,
              std::wstring text = {});
    // Queues the message and returns; false when the queue is closed.
    bool Post(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam,
              std::wstring text = {});

    // --- Receiver side (one thread) ----------------------------------------------------------

    // Hands the messages queued so far to handler, in order, on the calling thread; after each
    // sent message the sender is released. Messages queued meanwhile wait for the next call.
    // Returns how many were handled.
    std::size_t Dispatch(const Handler& handler,
                         std::size_t maxMessages = std::numeric_limits<std::size_t>::max());
    // Waits up to timeoutMs for a message to be queued; true when one is waiting.
    bool WaitForMessage(unsigned timeoutMs);
    // Called on the sender's thread when a message is queued and no wake is outstanding (the
    // next Dispatch clears it), so a GUI can schedule a Dispatch on its own thread. The
    // callback must only schedule: it must not call back into this queue.
    void SetWakeCallback(WakeCallback callback);
    // The receiver goes away: queued messages are dropped, waiting senders are released, and
    // later Send and Post return false at once. The wake callback is never called again once
    // Close has returned.
    void Close();
    bool IsClosed() const;
    std::size_t PendingCount() const;

  private:
    bool Enqueue(WindowMessage message, std::uint64_t* sequence);
    void Wake();

    struct Entry {
        WindowMessage message;
        std::uint64_t sequence = 0;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_handledSignal;  // a sent message was handled, or Close
    std::condition_variable m_queuedSignal;   // a message was queued, or Close
    std::deque<Entry> m_entries;
    std::unordered_set<std::uint64_t> m_handledSends;
    std::uint64_t m_nextSequence = 0;
    bool m_closed = false;
    bool m_wakePending = false;

    // Held while the wake callback runs, so that Close can wait for a call in progress.
    std::mutex m_wakeMutex;
    WakeCallback m_wake;
};

}  // namespace platform
