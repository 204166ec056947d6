#include "platform/window_messages.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace platform {

WindowMessageQueue::~WindowMessageQueue() {
    Close();
}

bool WindowMessageQueue::Enqueue(WindowMessage message, std::uint64_t* sequence) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return false;
        Entry entry{std::move(message), ++m_nextSequence};
        if (sequence != nullptr)
            *sequence = entry.sequence;
        m_entries.push_back(std::move(entry));
        if (!m_wakePending) {
            m_wakePending = true;
            wake = true;
        }
    }
    m_queuedSignal.notify_all();
    if (wake)
        Wake();
    return true;
}

void WindowMessageQueue::Wake() {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    if (m_wake)
        m_wake();
}

bool WindowMessageQueue::Send(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam,
                              std::wstring text) {
    std::uint64_t sequence = 0;
    if (!Enqueue(WindowMessage{id, wParam, lParam, std::move(text), true}, &sequence))
        return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_handledSignal.wait(lock, [&] { return m_closed || m_handledSends.count(sequence) != 0; });
    return m_handledSends.erase(sequence) != 0;
}

bool WindowMessageQueue::Post(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam,
                              std::wstring text) {
    return Enqueue(WindowMessage{id, wParam, lParam, std::move(text), false}, nullptr);
}

std::size_t WindowMessageQueue::Dispatch(const Handler& handler, std::size_t maxMessages) {
    std::size_t budget = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakePending = false;
        budget = std::min(maxMessages, m_entries.size());
    }
    std::size_t handled = 0;
    while (handled < budget) {
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // A handler may have closed the queue, or a nested Dispatch taken what was left.
            if (m_closed || m_entries.empty())
                break;
            entry = std::move(m_entries.front());
            m_entries.pop_front();
        }
        if (handler)
            handler(entry.message);
        ++handled;
        if (entry.message.sent) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                // After Close the sender has already been released and is not listening.
                if (!m_closed)
                    m_handledSends.insert(entry.sequence);
            }
            m_handledSignal.notify_all();
        }
    }
    return handled;
}

bool WindowMessageQueue::WaitForMessage(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_queuedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return m_closed || !m_entries.empty(); });
    return !m_entries.empty();
}

void WindowMessageQueue::SetWakeCallback(WakeCallback callback) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> wakeLock(m_wakeMutex);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
        m_wake = std::move(callback);
        // Messages queued before the callback existed would otherwise wait for the next one.
        if (m_wake && !m_entries.empty()) {
            m_wakePending = true;
            wake = true;
        }
    }
    if (wake)
        Wake();
}

void WindowMessageQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_entries.clear();
    }
    m_handledSignal.notify_all();
    m_queuedSignal.notify_all();
    // Waits for a wake call in progress on a sender's thread, so the receiver may go away.
    std::lock_guard<std::mutex> wakeLock(m_wakeMutex);
    m_wake = nullptr;
}

bool WindowMessageQueue::IsClosed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

std::size_t WindowMessageQueue::PendingCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

}  // namespace platform
