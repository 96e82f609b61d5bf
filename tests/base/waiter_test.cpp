// The one way threads of a job wait: on the event, with a bounded pause, and
// stoppable at any time.
#include "base/waiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;

// A thread in an hour-long pause, or waiting for something that never comes,
// ends as soon as it is stopped (a lost wake-up would hang the join).
TEST(StoppableThread, StopEndsPausesAndWaitsAndJoins) {
    std::atomic<int> ended{0};
    StoppableThread pausing, waiting;
    ASSERT_TRUE(pausing.start([&] {
        EXPECT_FALSE(pausing.pauseFor(1h));
        ended.fetch_add(1);
    }));
    ASSERT_TRUE(waiting.start([&] {
        EXPECT_FALSE(waiting.waitUntil([] { return false; }));
        ended.fetch_add(1);
    }));
    EXPECT_TRUE(pausing.running());
    pausing.stop();
    waiting.stop();
    EXPECT_EQ(ended.load(), 2);
    EXPECT_FALSE(pausing.running());
    pausing.stop();  // a second stop is harmless
}

// A waiter sees a change made by another thread and announced with notify();
// a time-out ends a wait whose condition never holds.
TEST(Waiter, WakesOnTheEventOrGivesUpAfterItsTimeOut) {
    Waiter waiter;
    std::atomic<bool> flag{false};
    StoppableThread setter;
    ASSERT_TRUE(setter.start([&] {
        flag.store(true);
        waiter.notify();
    }));
    EXPECT_TRUE(waiter.waitUntil([&] { return flag.load(); }));
    setter.stop();
    EXPECT_FALSE(waiter.waitUntil([] { return false; }, nullptr, 30ms));
}

}  // namespace
