// The USB back-channel reader with the back channel in every state it takes
// in practice: a pipe with data (whole or in pieces), a pipe that stays quiet,
// a pipe whose writer is gone, /dev/null (cupsfilter) and a closed descriptor.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "channel/hdc.h"
#include "channel/messages.h"
#include "channel/statusthreads.h"
#include "tests/status/testutil.h"
#include "tools/printersim/printersim.h"

namespace {

using namespace std::chrono_literals;
using printersim::SimAlert;
using Clock = std::chrono::steady_clock;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class UsbReader : public ::testing::Test {
  protected:
    void SetUp() override { msgResetLineState(); }
    void TearDown() override {
        StopUsbReadThread();
        usbReaderSetFd(kBackChannelFd);
        for (int fd : fds_)
            close(fd);
    }

    // A pipe whose read end the reader uses; returns the write end.
    int backChannelPipe() {
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        fds_.push_back(p[0]);
        fds_.push_back(p[1]);
        usbReaderSetFd(p[0]);
        return p[1];
    }
    void closeWriter(int fd) {
        close(fd);
        std::erase(fds_, fd);
    }
    Clock::duration stop() {
        auto start = Clock::now();
        StopUsbReadThread();
        return Clock::now() - start;
    }
    // CPU time the process spends in `span` with the reader running.
    double cpuDuring(std::chrono::milliseconds span) {
        double before = processCpuSeconds();
        std::this_thread::sleep_for(span);
        return processCpuSeconds() - before;
    }

    std::vector<int> fds_;
};

printersim::AlertConfig errorResponse(const std::string& text, int packets) {
    printersim::AlertConfig c;
    c.alerts = {SimAlert::withText(text), SimAlert::withText("second alert, not reported")};
    c.packets = packets;
    return c;
}

void writeAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

TEST_F(UsbReader, ResponseSplitAtPacketBoundaryGivesExactlyTheTwoLines) {
    int writer = backChannelPipe();
    printersim::AlertConfig c = errorResponse("Paper jam", 2);
    std::vector<Bytes> packets = printersim::responsePackets(c);
    ASSERT_EQ(packets.size(), 2u);
    StderrTap tap;
    StartUsbReadThread();
    writeAll(writer, cat({printersim::registrationReplyPacket(true), packets[0]}));
    std::this_thread::sleep_for(300ms);
    writeAll(writer, packets[1]);
    EXPECT_TRUE(tap.waitForLine("WARNING: Paper jam", 1, 10s));
    stop();
    EXPECT_EQ(tap.finish(), "\nInside GetExtAlerts in hdc\n\nWARNING: Paper jam\n");
}

// Regression: the back channel is a byte stream; a packet cut by a read is kept
// and completed by the next one.
TEST_F(UsbReader, PacketCutInTheMiddleIsCompletedByTheNextWrite) {
    int writer = backChannelPipe();
    Bytes all = printersim::backChannelBytes(errorResponse("Cover open", 1));
    size_t half = all.size() / 2;
    StderrTap tap;
    StartUsbReadThread();
    writeAll(writer, Bytes(all.begin(), all.begin() + static_cast<long>(half)));
    std::this_thread::sleep_for(300ms);
    writeAll(writer, Bytes(all.begin() + static_cast<long>(half), all.end()));
    EXPECT_TRUE(tap.waitForLine("WARNING: Cover open", 1, 10s));
    stop();
    EXPECT_EQ(tap.finish(), "\nInside GetExtAlerts in hdc\n\nWARNING: Cover open\n");
}

TEST_F(UsbReader, WarningClassResponseWritesNothing) {
    int writer = backChannelPipe();
    printersim::AlertConfig warning;
    warning.alerts = {SimAlert::withText("Toner low")};
    warning.classBits = printersim::kClassWarning;
    StderrTap tap;
    StartUsbReadThread();
    writeAll(writer, printersim::backChannelBytes(warning));
    std::this_thread::sleep_for(300ms);
    // Read only after the pause that follows the warning-class response.
    writeAll(writer, printersim::backChannelBytes(errorResponse("Door open", 1)));
    EXPECT_TRUE(tap.waitForLine("WARNING: Door open", 1, 10s));
    stop();
    EXPECT_EQ(linesStartingWith(tap.finish(), "WARNING: "),
              std::vector<std::string>{"WARNING: Door open"});
}

TEST_F(UsbReader, StopDuringThePauseAfterAResponseIsQuick) {
    int writer = backChannelPipe();
    StderrTap tap;
    StartUsbReadThread();
    writeAll(writer, printersim::backChannelBytes(errorResponse("Jam", 1)));
    ASSERT_TRUE(tap.waitForLine("WARNING: Jam", 1, 10s));
    EXPECT_LT(stop(), 1500ms);
}

// Regression: a blocking pipe that stays quiet must not hold up the stop.
TEST_F(UsbReader, QuietBlockingPipeStopsWithinAboutASecond) {
    backChannelPipe();
    StartUsbReadThread();
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(stop(), 2s);
}

// Regression: end of file (the backend is gone) must not turn into a busy loop.
TEST_F(UsbReader, PipeWhoseWriterClosedDoesNotSpin) {
    int writer = backChannelPipe();
    closeWriter(writer);
    StartUsbReadThread();
    EXPECT_LT(cpuDuring(1000ms), 0.3);
    EXPECT_LT(stop(), 200ms);  // the thread has already ended
}

// Regression: under cupsfilter the back channel is /dev/null, at end of file for ever.
TEST_F(UsbReader, DevNullDoesNotSpin) {
    int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    fds_.push_back(fd);
    usbReaderSetFd(fd);
    StartUsbReadThread();
    EXPECT_LT(cpuDuring(1000ms), 0.3);
    EXPECT_LT(stop(), 200ms);
}

// Regression: a closed back channel (a file: queue has no backend) must not spin either.
TEST_F(UsbReader, ClosedDescriptorDoesNotSpin) {
    int fd = 987;
    ASSERT_EQ(fcntl(fd, F_GETFD), -1);  // not open
    usbReaderSetFd(fd);
    StartUsbReadThread();
    EXPECT_LT(cpuDuring(1000ms), 0.3);
    EXPECT_LT(stop(), 200ms);
}

}  // namespace
