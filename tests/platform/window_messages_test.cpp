// The queue between the download worker and its page: what waits, what is dropped, and who is
// released when the receiver goes away.

#include "platform/window_messages.h"
#include "transfer/worker_messages.h"

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::WindowMessage;
using platform::WindowMessageQueue;

class WindowMessageQueueTest : public ::testing::Test {
  protected:
    // Handles everything now queued, recording it.
    std::size_t Drain() {
        return m_queue.Dispatch([this](const WindowMessage& m) { m_seen.push_back(m); });
    }
    // Waits until the sender thread's message has been queued.
    void AwaitPending(std::size_t count) {
        while (m_queue.PendingCount() < count)
            std::this_thread::yield();
    }

    WindowMessageQueue m_queue;
    std::vector<WindowMessage> m_seen;
};

TEST_F(WindowMessageQueueTest, PostedMessagesArriveInOrderWithTheirFields) {
    EXPECT_TRUE(m_queue.Post(WM_DL_SETTEXT, 0, 0, L"first line"));
    EXPECT_TRUE(m_queue.Post(WM_DL_SETPOS, 42, 0));
    EXPECT_TRUE(m_queue.Post(WM_DL_SETRANGE, 0, 100));
    EXPECT_EQ(m_queue.PendingCount(), 3u);

    EXPECT_EQ(Drain(), 3u);
    ASSERT_EQ(m_seen.size(), 3u);
    EXPECT_EQ(m_seen[0].id, WM_DL_SETTEXT);
    EXPECT_EQ(m_seen[0].text, L"first line");
    EXPECT_FALSE(m_seen[0].sent);
    EXPECT_EQ(m_seen[1].id, WM_DL_SETPOS);
    EXPECT_EQ(m_seen[1].wParam, 42u);
    EXPECT_EQ(m_seen[2].id, WM_DL_SETRANGE);
    EXPECT_EQ(m_seen[2].lParam, 100);
    EXPECT_EQ(Drain(), 0u);
}

TEST_F(WindowMessageQueueTest, SendReturnsOnlyAfterTheHandlerRan) {
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        EXPECT_TRUE(m_queue.Send(WM_DL_FINISHED, 1, 0));
        returned = true;
    });
    AwaitPending(1);
    EXPECT_FALSE(returned.load());
    bool returnedDuringHandler = true;
    m_queue.Dispatch([&](const WindowMessage& m) {
        EXPECT_TRUE(m.sent);
        EXPECT_EQ(m.id, WM_DL_FINISHED);
        EXPECT_EQ(m.wParam, 1u);
        returnedDuringHandler = returned.load();
    });
    sender.join();
    EXPECT_FALSE(returnedDuringHandler);
    EXPECT_TRUE(returned.load());
}

TEST_F(WindowMessageQueueTest, CloseReleasesABlockedSenderAndDropsWhatWasQueued) {
    m_queue.Post(WM_DL_SETPOS, 5, 0);
    auto sent = std::async(std::launch::async, [&] { return m_queue.Send(WM_DL_STARTED, 0, 0); });
    AwaitPending(2);
    m_queue.Close();
    EXPECT_FALSE(sent.get());
    EXPECT_TRUE(m_queue.IsClosed());
    EXPECT_EQ(m_queue.PendingCount(), 0u);
    EXPECT_EQ(Drain(), 0u);
    // Late messages find no receiver: refused at once, never queued.
    EXPECT_FALSE(m_queue.Send(WM_DL_FINISHED, 1, 0));
    EXPECT_FALSE(m_queue.Post(WM_DL_SETTEXT, 0, 0, L"late"));
    EXPECT_EQ(m_queue.PendingCount(), 0u);
    EXPECT_TRUE(m_seen.empty());
}

TEST_F(WindowMessageQueueTest, ClosingFromInsideAHandlerReleasesItsSender) {
    auto sent = std::async(std::launch::async, [&] { return m_queue.Send(WM_DL_FINISHED, 0, 0); });
    AwaitPending(1);
    m_queue.Post(WM_DL_SETPOS, 1, 0);  // behind the sent one: dropped by the Close
    AwaitPending(2);
    std::size_t handled = m_queue.Dispatch([&](const WindowMessage&) { m_queue.Close(); });
    EXPECT_EQ(handled, 1u);
    sent.get();  // returns; whether it counts as handled is the receiver's affair
    EXPECT_EQ(m_queue.PendingCount(), 0u);
}

TEST_F(WindowMessageQueueTest, DispatchHandlesOnlyWhatWasQueuedWhenItStarted) {
    m_queue.Post(1, 0, 0);
    m_queue.Post(2, 0, 0);
    std::vector<std::uint32_t> order;
    const std::size_t handled = m_queue.Dispatch([&](const WindowMessage& m) {
        order.push_back(m.id);
        if (m.id == 1)
            m_queue.Post(3, 0, 0);
    });
    EXPECT_EQ(handled, 2u);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(m_queue.PendingCount(), 1u);

    m_queue.Post(4, 0, 0);
    EXPECT_EQ(m_queue.Dispatch([&](const WindowMessage& m) { order.push_back(m.id); }, 1), 1u);
    EXPECT_EQ(order.back(), 3u);
    EXPECT_EQ(m_queue.PendingCount(), 1u);
}

TEST_F(WindowMessageQueueTest, ANestedDispatchTakesOverTheRestInOrder) {
    // A modal box opened by a handler runs its own loop, which drains the queue again.
    for (std::uint32_t id = 1; id <= 3; ++id)
        m_queue.Post(id, 0, 0);
    std::vector<std::uint32_t> order;
    WindowMessageQueue::Handler handler = [&](const WindowMessage& m) {
        order.push_back(m.id);
        if (m.id == 1)
            m_queue.Dispatch(handler);
    };
    m_queue.Dispatch(handler);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(WindowMessageQueueTest, WaitForMessageSeesAPostFromAnotherThread) {
    EXPECT_FALSE(m_queue.WaitForMessage(5));
    std::thread poster([&] { m_queue.Post(WM_DL_SETPOS, 7, 0); });
    while (!m_queue.WaitForMessage(1000)) {
    }
    poster.join();
    EXPECT_EQ(Drain(), 1u);
    m_queue.Close();
    EXPECT_FALSE(m_queue.WaitForMessage(1000));
}

TEST_F(WindowMessageQueueTest, WakeIsCalledOncePerBatchOnTheSendersThread) {
    std::atomic<int> wakes{0};
    std::thread::id wakeThread;
    m_queue.SetWakeCallback([&] {
        ++wakes;
        wakeThread = std::this_thread::get_id();
    });
    std::thread poster([&] {
        m_queue.Post(1, 0, 0);
        m_queue.Post(2, 0, 0);
    });
    const std::thread::id posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(wakeThread, posterId);

    Drain();
    m_queue.Post(3, 0, 0);
    EXPECT_EQ(wakes.load(), 2);
}

TEST_F(WindowMessageQueueTest, AWakeCallbackSetLateStillLearnsOfWaitingMessages) {
    m_queue.Post(1, 0, 0);
    int wakes = 0;
    m_queue.SetWakeCallback([&] { ++wakes; });
    EXPECT_EQ(wakes, 1);
}

TEST_F(WindowMessageQueueTest, NoWakeAfterClose) {
    std::atomic<int> wakes{0};
    m_queue.SetWakeCallback([&] { ++wakes; });
    m_queue.Close();
    EXPECT_FALSE(m_queue.Post(1, 0, 0));
    m_queue.SetWakeCallback([&] { wakes += 100; });
    EXPECT_FALSE(m_queue.Post(2, 0, 0));
    EXPECT_EQ(wakes.load(), 0);
}

TEST_F(WindowMessageQueueTest, ARaceOfLinesAndSendsKeepsEveryLineWholeAndInOrder) {
    constexpr int kLines = 5000;
    std::thread sender([&] {
        std::wstring line;
        for (int i = 0; i < kLines; ++i) {
            line = L"line " + std::to_wstring(i);
            m_queue.Post(WM_DL_SETTEXT, 0, 0, line);
            line.assign(40, L'x');  // the sender reuses its buffer at once
            if (i % 500 == 0) {
                EXPECT_TRUE(m_queue.Send(WM_DL_SETPOS, i, 0));
            }
        }
        m_queue.Send(WM_DL_FINISHED, 1, 0);
    });
    int expected = 0;
    bool finished = false;
    while (!finished) {
        m_queue.WaitForMessage(100);
        m_queue.Dispatch([&](const WindowMessage& m) {
            if (m.id == WM_DL_FINISHED)
                finished = true;
            if (m.id != WM_DL_SETTEXT)
                return;
            EXPECT_EQ(m.text, L"line " + std::to_wstring(expected));
            ++expected;
        });
    }
    sender.join();
    EXPECT_EQ(expected, kLines);
}

TEST_F(WindowMessageQueueTest, SendersOnSeveralThreadsAreEachReleasedOnce) {
    constexpr int kSenders = 4;
    constexpr int kEach = 200;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < kEach; ++i) {
                if (m_queue.Send(WM_DL_SETPOS, s, i))
                    ++succeeded;
            }
        });
    int handled = 0;
    while (handled < kSenders * kEach) {
        m_queue.WaitForMessage(100);
        handled += static_cast<int>(m_queue.Dispatch(nullptr));
    }
    for (auto& t : senders)
        t.join();
    EXPECT_EQ(succeeded.load(), kSenders * kEach);
}

}  // namespace
