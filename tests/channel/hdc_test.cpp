#include "channel/hdc.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A print thread writing into a pipe the test reads from.
class HdcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(::pipe(ends_), 0);
        // Big enough for the batches these tests send, so the writer never blocks.
        ::fcntl(ends_[1], F_SETPIPE_SZ, 1 << 20);
        hdcSetOutputFd(ends_[1]);
    }
    void TearDown() override {
        hdcStopPrintThread();
        hdcDestroy();
        hdcSetOutputFd(1);
        if (ends_[0] >= 0) ::close(ends_[0]);
        ::close(ends_[1]);
    }

    void start(uint32_t capacity, uint32_t threshold) {
        hdcInitialize(capacity, threshold);
        ASSERT_TRUE(hdcStartPrintThread("TEST"));
    }

    // Everything readable from the pipe right now, without waiting.
    std::vector<uint8_t> drainPipe() {
        int flags = ::fcntl(ends_[0], F_GETFL);
        ::fcntl(ends_[0], F_SETFL, flags | O_NONBLOCK);
        std::vector<uint8_t> all;
        uint8_t buf[65536];
        ssize_t n;
        while ((n = ::read(ends_[0], buf, sizeof buf)) > 0)
            all.insert(all.end(), buf, buf + n);
        ::fcntl(ends_[0], F_SETFL, flags);
        return all;
    }

    int ends_[2] = {-1, -1};
};

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

TEST_F(HdcTest, NothingLeavesAtTheThresholdAndEverythingOneByteLater) {
    start(10000, 1000);
    auto data = pattern(1001, 1);
    ASSERT_EQ(hdcWrite(data.data(), 1000), 1000);
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(drainPipe().empty());

    ASSERT_EQ(hdcWrite(data.data() + 1000, 1), 1);
    std::vector<uint8_t> got;
    for (int i = 0; i < 100 && got.size() < data.size(); ++i) {
        std::this_thread::sleep_for(20ms);
        auto more = drainPipe();
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(got, data);
}

TEST_F(HdcTest, WaitUntilEmptyWritesTheRestBeforeReturning) {
    start(10000, 5000);
    auto data = pattern(300, 2);
    ASSERT_EQ(hdcWrite(data.data(), 300), 300);
    hdcWaitUntilEmpty();
    EXPECT_TRUE(cbufferIsEmpty(&hdcContext.ring));
    EXPECT_EQ(drainPipe(), data);
}

// A reader slower than the producer: the ring fills, the producer waits, and the
// bytes still arrive once each and in order.
TEST_F(HdcTest, SlowReaderGetsEveryByteInOrder) {
    start(64 * 1024, 16 * 1024);
    ::fcntl(ends_[1], F_SETPIPE_SZ, 4096);
    auto data = pattern(600 * 1024, 3);
    std::vector<uint8_t> got;
    std::thread reader([&] {
        uint8_t buf[777];
        ssize_t n;
        while ((n = ::read(ends_[0], buf, sizeof buf)) > 0) {
            got.insert(got.end(), buf, buf + n);
            std::this_thread::sleep_for(50us);
        }
    });
    std::mt19937 rng(4);
    size_t sent = 0;
    while (sent < data.size()) {
        uint32_t n = std::min<uint32_t>(1 + rng() % 5000, data.size() - sent);
        ASSERT_EQ(hdcWrite(data.data() + sent, n), n);
        sent += n;
    }
    hdcWaitUntilEmpty();
    hdcStopPrintThread();
    ::close(ends_[1]);
    ends_[1] = ::open("/dev/null", O_WRONLY);  // TearDown closes it
    reader.join();
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST_F(HdcTest, RequestsThatCanNeverFitFailAtOnce) {
    start(1000, 500);
    auto data = pattern(1001, 5);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(hdcWrite(data.data(), 1001), -1);  // more than the whole ring
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(cbufferIsEmpty(&hdcContext.ring));
}

TEST_F(HdcTest, RingWithoutStorageFailsAtOnceInsteadOfWaitingForEver) {
    // The storage goes before the print thread starts (freeing it under a
    // running thread would be a race of the test's own making).
    hdcInitialize(1000, 500);
    cbufferFree(&hdcContext.ring);
    ASSERT_TRUE(hdcStartPrintThread("TEST"));
    uint8_t byte = 7;
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(hdcWrite(&byte, 1), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST_F(HdcTest, FullRingWithoutPrintThreadFailsInsteadOfWaitingForEver) {
    hdcInitialize(100, 0);  // no print thread to make room
    auto data = pattern(100, 6);
    ASSERT_EQ(hdcWrite(data.data(), 100), 100);
    EXPECT_EQ(hdcWrite(data.data(), 1), -1);
}

// The backend went away: the write error is reported once, the job's writes
// fail instead of blocking, and the drain returns.
TEST_F(HdcTest, BrokenOutputIsReportedAndStopsTheChannel) {
    ::close(ends_[0]);
    ends_[0] = -1;
    testing::internal::CaptureStderr();
    start(10000, 10);
    auto data = pattern(200, 7);
    ASSERT_EQ(hdcWrite(data.data(), 200), 200);
    for (int i = 0; i < 200 && !hdcFailed(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(hdcFailed());
    EXPECT_EQ(hdcWrite(data.data(), 10), -1);
    hdcWaitUntilEmpty();  // must not hang
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: Unable to write print data: Broken pipe\n"), std::string::npos)
        << err;
}

}  // namespace
