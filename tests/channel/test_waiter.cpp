// The one way threads of a job wait: on the event, with a bounded pause, and
// stoppable at any time.
#include "channel/waiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "channel/cbuffer.h"

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

// The print thread writes straight from the ring: a span that runs to the
// end of the storage, then the wrapped rest.
TEST(Cbuffer, PeekGivesTheHeldBytesInOneOrTwoPiecesAndSkipRemovesThem) {
    cbuffer ring;
    ASSERT_TRUE(cbufferCreate(&ring, 10));
    const uint8_t first[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(cbufferWriteBytes(&ring, first, 8));
    ASSERT_TRUE(cbufferSkipBytes(&ring, 8));
    const uint8_t wrap[6] = {10, 11, 12, 13, 14, 15};
    ASSERT_TRUE(cbufferWriteBytes(&ring, wrap, 6));  // slots 8, 9, 10, then 0, 1, 2
    const uint8_t* data = nullptr;
    ASSERT_EQ(cbufferPeekContiguous(&ring, &data), 3u);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 6u);  // peeking removes nothing
    EXPECT_FALSE(cbufferSkipBytes(&ring, 7));
    ASSERT_TRUE(cbufferSkipBytes(&ring, 3));
    ASSERT_EQ(cbufferPeekContiguous(&ring, &data), 3u);
    EXPECT_EQ(data[2], 15);
    ASSERT_TRUE(cbufferSkipBytes(&ring, 3));
    EXPECT_EQ(cbufferPeekContiguous(&ring, &data), 0u);
    EXPECT_TRUE(cbufferIsEmpty(&ring));
    cbufferFree(&ring);
}

}  // namespace
