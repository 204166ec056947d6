#include "ui/checking_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/scripted_ui.h"

namespace {

using namespace std::chrono_literals;

// A front end that records whether the check was shown, and what it does while it is.
class CheckingUi : public ScriptedUserInterface {
  public:
    enum class Person { kWaits, kCancels };
    explicit CheckingUi(Person person) : m_person(person) {}

    bool ShowChecking(CheckingRun& run) override {
        ++m_shown;
        m_endedWhenShown = run.Ended();
        if (m_person == Person::kWaits)
            return UserInterface::ShowChecking(run);
        run.Stop();
        run.Wait();
        return false;
    }

    Person m_person;
    int m_shown = 0;
    bool m_endedWhenShown = true;
};

// Work that takes until it is stopped, bounded so that a stop that never arrives fails the test
// instead of hanging it.
struct SlowWork {
    void operator()(const std::atomic<bool>& stop) {
        thread = std::this_thread::get_id();
        const auto giveUp = std::chrono::steady_clock::now() + 30s;
        while (!stop.load() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(5ms);
        sawStop = stop.load();
        ended = true;
    }
    std::thread::id thread;
    bool sawStop = false;
    bool ended = false;
};

TEST(CheckingRunTest, AQuickCheckShowsNothingAndRunsOnAThreadOfItsOwn) {
    CheckingUi ui(CheckingUi::Person::kCancels);
    std::thread::id worker;
    bool ran = false;
    EXPECT_TRUE(ui.RunChecking([&](const std::atomic<bool>& stop) {
        worker = std::this_thread::get_id();
        ran = !stop.load();
    }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(ui.m_shown, 0);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(CheckingRunTest, ASlowCheckIsShownAndACancelStopsItBeforeTheAnswer) {
    CheckingUi ui(CheckingUi::Person::kCancels);
    SlowWork work;
    EXPECT_FALSE(ui.RunChecking(std::ref(work)));
    EXPECT_EQ(ui.m_shown, 1);
    EXPECT_FALSE(ui.m_endedWhenShown);
    EXPECT_TRUE(work.sawStop);
    EXPECT_TRUE(work.ended);
    EXPECT_NE(work.thread, std::this_thread::get_id());
}

TEST(CheckingRunTest, ASlowCheckNobodyCancelsGoesOnWithItsResult) {
    CheckingUi ui(CheckingUi::Person::kWaits);
    int result = 0;
    EXPECT_TRUE(ui.RunChecking([&result](const std::atomic<bool>& stop) {
        std::this_thread::sleep_for(kCheckingWindowDelay + 200ms);
        result = stop.load() ? -1 : 42;
    }));
    EXPECT_EQ(ui.m_shown, 1);
    EXPECT_EQ(result, 42);
}

TEST(CheckingRunTest, WhatTheWorkThrowsReachesTheCallerOnce) {
    CheckingRun run([](const std::atomic<bool>&) { throw std::runtime_error("catalogue"); });
    EXPECT_THROW(run.Wait(), std::runtime_error);
    EXPECT_TRUE(run.Ended());
    EXPECT_NO_THROW(run.Wait());
}

TEST(CheckingRunTest, GoingAwayStopsAndWaitsForTheWork) {
    SlowWork work;
    {
        CheckingRun run(std::ref(work));
        EXPECT_FALSE(run.WaitFor(20ms));
    }
    EXPECT_TRUE(work.ended);
    EXPECT_TRUE(work.sawStop);
}

}  // namespace
