// The operator-intervention poller against the printer simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/messages.h"
#include "base/processstate.h"
#include "status/NPAPrinterAlertHandler.h"
#include "status/NPATransport9300.h"
#include "tests/status/testutil.h"
#include "tools/printersim/printersim.h"

namespace {

using namespace std::chrono_literals;
using printersim::PrinterSimulator;
using printersim::RequestKind;

// Regression: every poll asks the transport to connect; it keeps one socket
// instead of making (and leaking) a new one each time.
TEST(OirPoller, ManyPollsKeepOneSocket) {
    PrinterSimulator sim("127.0.93.20");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setOirReply(printersim::oirReplyPacket({{1, 3, {}, -1}}));
    oirThreadParam param;
    std::snprintf(param.address, sizeof param.address, "127.0.93.20");
    NPAPrinterAlertHandler handler(NPA_TRANSPORT_9300);

    ASSERT_EQ(handler.GetPrinterOIRStatus(&param), 1);
    int afterFirst = openDescriptors();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(handler.GetPrinterOIRStatus(&param), 1);
        ASSERT_EQ(handler.recordCount, 1);
    }
    EXPECT_EQ(openDescriptors(), afterFirst);

    std::vector<printersim::Datagram> got = sim.received(RequestKind::kOirRequest);
    ASSERT_EQ(got.size(), 201u);
    EXPECT_EQ(got[0].bytes, (Bytes{0x01, 0x00, 0x00, 0x31, 0x11, 0x11, 0x00, 0x00, 0xA5, 0x00, 0x03,
                                   0x50, 0x04, 0x06}));
    std::vector<std::string> texts(1);
    handler.GetParsedString(&texts);
    EXPECT_EQ(texts[0], "InputMissing");
}

TEST(OirPoller, ThreadReportsTheFirstRecord) {
    PrinterSimulator sim("127.0.93.21");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setOirReply(printersim::oirReplyPacket({{2, 8, {}, -1}, {1, 5, {}, -1}}));
    resetProcessState();
    StderrTap tap;
    oirThreadParam param;
    std::snprintf(param.address, sizeof param.address, "127.0.93.21");
    ASSERT_EQ(startOirThread(&param), 0);
    EXPECT_EQ(param.flag.load(), 1);
    EXPECT_TRUE(tap.waitForLine("WARNING: OutputJam", 1, 10s));
    stopOirThread(&param);  // interrupts the 2-second pause after the report
    EXPECT_TRUE(param.finished.load());
    std::string err = tap.finish();
    EXPECT_EQ(linesStartingWith(err, "WARNING: "), std::vector<std::string>{"WARNING: OutputJam"});
}

TEST(OirPoller, StopWithoutStartReturns) {
    oirThreadParam param;
    stopOirThread(&param);
    EXPECT_TRUE(param.finished.load());
}

}  // namespace
