// The USB back-channel reader with the back channel in every state it takes
// in practice: a pipe with data (whole or in pieces), a pipe that stays quiet,
// a pipe whose writer is gone, /dev/null (cupsfilter) and a closed descriptor.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/messages.h"
#include "channel/hdc.h"
#include "channel/statusthreads.h"
#include "tests/status/testutil.h"
#include "tools/printersim/printersim.h"

namespace {

using namespace std::chrono_literals;
using printersim::SimAlert;

class UsbReader : public ::testing::Test {
  protected:
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
        readEnd_ = p[0];
        return p[1];
    }
    void closeWriter(int fd) {
        close(fd);
        std::erase(fds_, fd);
    }
    // The thread must end by itself, its run flag still set: a reader that
    // looped on the descriptor would never end.
    void expectEndsByItself() {
        ASSERT_TRUE(waitForFlag(usbReadParams.ended));
        EXPECT_TRUE(usbReadParams.thread.running());
    }

    FreshProcess fresh_;
    PauseRecorder pauses_;
    std::vector<int> fds_;
    int readEnd_ = -1;
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
    ASSERT_TRUE(waitUntilDrained(readEnd_));
    writeAll(writer, packets[1]);
    EXPECT_TRUE(tap.waitForLine("WARNING: Paper jam", 1, 10s));
    StopUsbReadThread();
    EXPECT_EQ(tap.finish(), "\nInside GetExtAlerts in hdc\n\nWARNING: Paper jam\n");
    // After the answer the reader pauses two seconds.
    EXPECT_EQ(pauses_.pauses(), std::vector<std::chrono::milliseconds>{2000ms});
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
    ASSERT_TRUE(waitUntilDrained(readEnd_));
    writeAll(writer, Bytes(all.begin() + static_cast<long>(half), all.end()));
    EXPECT_TRUE(tap.waitForLine("WARNING: Cover open", 1, 10s));
    StopUsbReadThread();
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
    // Read only after the pause that follows the warning-class response.
    ASSERT_TRUE(pauses_.waitForPauses(1));
    writeAll(writer, printersim::backChannelBytes(errorResponse("Door open", 1)));
    EXPECT_TRUE(tap.waitForLine("WARNING: Door open", 1, 10s));
    StopUsbReadThread();
    EXPECT_EQ(linesStartingWith(tap.finish(), "WARNING: "),
              std::vector<std::string>{"WARNING: Door open"});
}

// A job that ends while the reader pauses after an answer ends the pause: the
// stop returns although the pause would only end with the run flag.
TEST_F(UsbReader, StopEndsThePauseAfterAResponse) {
    int writer = backChannelPipe();
    pauses_.hold = true;
    StderrTap tap;
    StartUsbReadThread();
    writeAll(writer, printersim::backChannelBytes(errorResponse("Jam", 1)));
    ASSERT_TRUE(tap.waitForLine("WARNING: Jam", 1, 10s));
    ASSERT_TRUE(pauses_.waitForPauses(1));
    StopUsbReadThread();
    EXPECT_FALSE(usbReadParams.thread.joinable());
}

// Regression: a blocking pipe that stays quiet must not hold up the stop.
TEST_F(UsbReader, QuietBlockingPipeStops) {
    backChannelPipe();
    StartUsbReadThread();
    StopUsbReadThread();
    EXPECT_FALSE(usbReadParams.thread.joinable());
    EXPECT_TRUE(pauses_.pauses().empty());
}

// Regression: end of file (the backend is gone), /dev/null (cupsfilter) and a
// closed descriptor (a file: queue has no backend) used to turn into busy
// loops.  There is no back channel then, and the reader ends by itself.
TEST_F(UsbReader, NoBackChannelEndsTheReader) {
    int writer = backChannelPipe();
    closeWriter(writer);
    StartUsbReadThread();
    expectEndsByItself();

    int devNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    fds_.push_back(devNull);
    usbReaderSetFd(devNull);
    StartUsbReadThread();
    expectEndsByItself();

    ASSERT_EQ(fcntl(987, F_GETFD), -1);  // not open
    usbReaderSetFd(987);
    StartUsbReadThread();
    expectEndsByItself();
    EXPECT_TRUE(pauses_.pauses().empty());
}

}  // namespace
