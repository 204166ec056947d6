#pragma once
// The check that comes before any window (the catalogue fetch and the game's digest), run on a
// thread of its own, so that a front end can tell the person that it takes long and let them
// cancel it. The thread has ended before the object is gone, so nothing the work touches can be
// used by two threads once the check is over.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class CheckingRun {
  public:
    using Work = std::function<void(const std::atomic<bool>& stop)>;

    // Starts work on its own thread; when no thread can be had, work runs here and has ended
    // when the constructor returns.
    explicit CheckingRun(Work work);
    // Raises stop and waits for the work to end.
    ~CheckingRun();
    CheckingRun(const CheckingRun&) = delete;
    CheckingRun& operator=(const CheckingRun&) = delete;

    // True once the work has ended; waits at most timeout for it.
    bool WaitFor(std::chrono::milliseconds timeout);
    bool Ended() const;
    // Waits for the work to end. Whatever the work threw is thrown again here, on the caller's
    // thread, once.
    void Wait();

    // Asks the work to end soon (the person cancelled); it is told through its stop flag.
    void Stop() { m_stop.store(true, std::memory_order_release); }
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

  private:
    void Body();

    Work m_work;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::condition_variable m_endSignal;
    bool m_ended = false;
    std::exception_ptr m_thrown;
    std::thread m_thread;
};
