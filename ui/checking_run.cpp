#include "ui/checking_run.h"

#include <system_error>
#include <utility>

CheckingRun::CheckingRun(Work work) : m_work(std::move(work)) {
    try {
        m_thread = std::thread([this] { Body(); });
    } catch (const std::system_error&) {
        // Without a second thread nothing can be shown meanwhile; the check itself still runs.
        Body();
    }
}

CheckingRun::~CheckingRun() {
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

void CheckingRun::Body() {
    std::exception_ptr thrown;
    try {
        if (m_work)
            m_work(m_stop);
    } catch (...) {
        thrown = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_thrown = std::move(thrown);
        m_ended = true;
    }
    m_endSignal.notify_all();
}

bool CheckingRun::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_endSignal.wait_for(lock, timeout, [this] { return m_ended; });
}

bool CheckingRun::Ended() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ended;
}

void CheckingRun::Wait() {
    std::exception_ptr thrown;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_endSignal.wait(lock, [this] { return m_ended; });
        thrown = std::exchange(m_thrown, nullptr);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (thrown)
        std::rethrow_exception(thrown);
}
