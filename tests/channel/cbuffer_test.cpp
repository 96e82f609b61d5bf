#include "channel/cbuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> sequence(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

class CbufferTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(cbufferCreate(&ring, 10)); }
    void TearDown() override { cbufferFree(&ring); }
    cbuffer ring;
};

TEST_F(CbufferTest, NewRingIsEmptyWithFullCapacityFree) {
    EXPECT_TRUE(cbufferIsEmpty(&ring));
    EXPECT_FALSE(cbufferIsFull(&ring));
    EXPECT_EQ(cbufferGetAvailableSpace(&ring), 10u);
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 0u);
}

TEST_F(CbufferTest, FillingToCapacityLeavesNoRoomAndReportsFull) {
    auto data = sequence(10);
    ASSERT_TRUE(cbufferWriteBytes(&ring, data.data(), 10));
    EXPECT_EQ(cbufferGetAvailableSpace(&ring), 0u);
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 10u);
    EXPECT_TRUE(cbufferIsFull(&ring));
    uint8_t one = 0xAA;
    EXPECT_FALSE(cbufferWriteBytes(&ring, &one, 1));
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 10u);
}

TEST_F(CbufferTest, WritesAndReadsAreAllOrNothing) {
    auto data = sequence(11);
    EXPECT_FALSE(cbufferWriteBytes(&ring, data.data(), 11));  // one more than the capacity
    EXPECT_TRUE(cbufferIsEmpty(&ring));

    ASSERT_TRUE(cbufferWriteBytes(&ring, data.data(), 4));
    std::vector<uint8_t> out(5, 0xEE);
    EXPECT_FALSE(cbufferReadBytes(&ring, out.data(), 5));  // more than held
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 4u);
    EXPECT_EQ(out, std::vector<uint8_t>(5, 0xEE));
}

TEST_F(CbufferTest, WrapAroundKeepsOrderAndPositionsMeet) {
    auto first = sequence(7);
    std::vector<uint8_t> out(8);
    ASSERT_TRUE(cbufferWriteBytes(&ring, first.data(), 7));
    ASSERT_TRUE(cbufferReadBytes(&ring, out.data(), 7));

    auto second = sequence(8, 100);  // 4 slots to the end of the storage, 4 from the start
    ASSERT_TRUE(cbufferWriteBytes(&ring, second.data(), 8));
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 8u);
    EXPECT_EQ(cbufferGetAvailableSpace(&ring), 2u);
    ASSERT_TRUE(cbufferReadBytes(&ring, out.data(), 8));
    EXPECT_EQ(out, second);
    EXPECT_EQ(ring.readPos.load(), ring.writePos.load());
    EXPECT_EQ(ring.writePos.load(), (7u + 8u) % 11u);
}

TEST_F(CbufferTest, WriteEndingAtTheLastSlotLeavesWritePosAtZero) {
    uint8_t one = 1;
    ASSERT_TRUE(cbufferWriteBytes(&ring, &one, 1));
    ASSERT_TRUE(cbufferReadBytes(&ring, &one, 1));
    auto data = sequence(10);  // slots 1..10 are exactly the rest of the storage
    ASSERT_TRUE(cbufferWriteBytes(&ring, data.data(), 10));
    EXPECT_EQ(ring.writePos.load(), 0u);
    std::vector<uint8_t> out(10);
    ASSERT_TRUE(cbufferReadBytes(&ring, out.data(), 10));
    EXPECT_EQ(out, data);
}

TEST(CbufferStorage, RingWithoutStorageTakesAndGivesNothing) {
    cbuffer ring;
    ring.capacity = 100;
    uint8_t byte = 0;
    EXPECT_EQ(cbufferGetAvailableSpace(&ring), 0u);
    EXPECT_EQ(cbufferGetAvailableBytes(&ring), 0u);
    EXPECT_FALSE(cbufferWriteBytes(&ring, &byte, 1));
    EXPECT_FALSE(cbufferReadBytes(&ring, &byte, 1));
}

TEST(CbufferStorage, FailedAllocationIsReportedAndLeavesNoStorage) {
    cbuffer ring;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(cbufferCreate(&ring, UINT32_MAX));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: Unable to allocate memory: ", 0), 0u) << err;
    EXPECT_FALSE(ring.storage);
    EXPECT_EQ(ring.capacity, UINT32_MAX);
}

// One producer and one consumer with uneven request sizes: every byte comes
// out once and in order (run under TSan to check the position publishing).
TEST(CbufferConcurrency, ProducerAndConsumerKeepTheByteOrder) {
    cbuffer ring;
    ASSERT_TRUE(cbufferCreate(&ring, 4093));
    constexpr size_t kTotal = 2'000'000;
    std::thread producer([&] {
        std::mt19937 rng(1);
        std::vector<uint8_t> chunk;
        size_t sent = 0;
        while (sent < kTotal) {
            size_t n = std::min<size_t>(1 + rng() % 700, kTotal - sent);
            chunk.resize(n);
            for (size_t i = 0; i < n; ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) * 7);
            while (!cbufferWriteBytes(&ring, chunk.data(), static_cast<uint32_t>(n))) {
                std::this_thread::yield();
            }
            sent += n;
        }
    });
    std::mt19937 rng(2);
    std::vector<uint8_t> chunk;
    size_t received = 0;
    bool inOrder = true;
    while (received < kTotal) {
        size_t n = std::min<size_t>(1 + rng() % 900, kTotal - received);
        chunk.resize(n);
        if (!cbufferReadBytes(&ring, chunk.data(), static_cast<uint32_t>(n))) {
            std::this_thread::yield();
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            inOrder &= chunk[i] == static_cast<uint8_t>((received + i) * 7);
        }
        received += n;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(cbufferIsEmpty(&ring));
    cbufferFree(&ring);
}

// The print thread writes straight from the ring: a span that runs to the
// end of the storage, then the wrapped rest.
TEST_F(CbufferTest, PeekGivesTheHeldBytesInOneOrTwoPiecesAndSkipRemovesThem) {
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
}

}  // namespace
