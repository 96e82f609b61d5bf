// The network status monitor against the printer simulator.  Every case
// listens on its own loopback address (127.0.93.N) so cases can run in parallel.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/messages.h"
#include "channel/hdc.h"
#include "channel/statusthreads.h"
#include "status/NPACommands.h"
#include "tests/status/testutil.h"
#include "tools/printersim/printersim.h"

namespace {

using namespace std::chrono_literals;
using printersim::PrinterSimulator;
using printersim::RequestKind;
using printersim::SimAlert;

class NetworkMonitor : public ::testing::Test {
  protected:
    void TearDown() override { StopNpaNetworkThread(); }
    void stop() { StopNpaNetworkThread(); }

    FreshProcess fresh_;
    PauseRecorder pauses_;
};

TEST_F(NetworkMonitor, RegistersExactlyAndAsksForAlertsEveryTwoSeconds) {
    PrinterSimulator sim("127.0.93.10");
    ASSERT_TRUE(sim.listening()) << sim.error();
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.10");
    ASSERT_TRUE(sim.waitFor(RequestKind::kAlertRequest, 3, 20s));
    stop();
    std::string err = tap.finish();

    std::vector<printersim::Datagram> all = sim.received();
    ASSERT_FALSE(all.empty());
    // Golden: transport header (identifier 12 34 56 78), then the registration packet.
    Bytes registration = {0x01, 0x00, 0x00, 0x31, 0x12, 0x34, 0x56, 0x78};
    registration.insert(registration.end(), NPA_COMMAND_REGLANGID.begin(),
                        NPA_COMMAND_REGLANGID.end());
    EXPECT_EQ(all[0].bytes, registration);
    EXPECT_EQ(sim.count(RequestKind::kRegistration), 1u);

    Bytes alertRequest = {0x01, 0x00, 0x00, 0x31, 0x12, 0x34, 0x56, 0x78};
    alertRequest.insert(alertRequest.end(), NPA_DEVCOMMAND_EXT_ERRORS.begin(),
                        NPA_DEVCOMMAND_EXT_ERRORS.end());
    std::vector<printersim::Datagram> requests = sim.received(RequestKind::kAlertRequest);
    for (const printersim::Datagram& d : requests)
        EXPECT_EQ(d.bytes, alertRequest);
    // Between two requests the monitor paused two seconds, and only then.
    std::vector<std::chrono::milliseconds> taken = pauses_.pauses();
    ASSERT_GE(taken.size(), requests.size() - 1);
    for (auto pause : taken)
        EXPECT_EQ(pause, 2000ms);
    EXPECT_NE(err.find("Sent register command with return status 26"), std::string::npos);
}

TEST_F(NetworkMonitor, ErrorAlertIsWrittenFiveTimes) {
    PrinterSimulator sim("127.0.93.11");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setAlerts({SimAlert::withText("Paper jam in tray 2")});
    pauses_.hold = true;  // the pause after the report lasts until the stop
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.11");
    EXPECT_TRUE(tap.waitForLine("WARNING: Paper jam in tray 2", 5, 15s));
    ASSERT_TRUE(pauses_.waitForPauses(1));
    stop();  // during the pause: no second report
    EXPECT_EQ(countLines(tap.finish(), "WARNING: Paper jam in tray 2"), 5);
}

TEST_F(NetworkMonitor, AlertListSplitOverPacketsAndDatagramsIsRepeatedInOrder) {
    PrinterSimulator sim("127.0.93.12");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setAlerts({SimAlert::withText("Jam A"), SimAlert::withText("Door B")});
    sim.setSplit(3, 2);
    pauses_.hold = true;
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.12");
    EXPECT_TRUE(tap.waitForLine("WARNING: Door B", 5, 15s));
    ASSERT_TRUE(pauses_.waitForPauses(1));
    stop();
    std::vector<std::string> warnings = linesStartingWith(tap.finish(), "WARNING: ");
    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i) {
        expected.push_back("WARNING: Jam A");
        expected.push_back("WARNING: Door B");
    }
    EXPECT_EQ(warnings, expected);
}

TEST_F(NetworkMonitor, WarningClassResponseWritesNothing) {
    PrinterSimulator sim("127.0.93.13");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setAlerts({SimAlert::withText("Toner low")}, printersim::kClassWarning);
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.13");
    // The second request comes only after the first answer has been handled.
    ASSERT_TRUE(sim.waitFor(RequestKind::kAlertRequest, 2, 15s));
    stop();
    EXPECT_TRUE(linesStartingWith(tap.finish(), "WARNING: ").empty());
}

// The stop ends the pause between passes (held here until the run flag is
// cleared) and withdraws the registration once, before the stop returns.
TEST_F(NetworkMonitor, StopEndsThePauseAndUnregistersOnce) {
    PrinterSimulator sim("127.0.93.14");
    ASSERT_TRUE(sim.listening()) << sim.error();
    pauses_.hold = true;
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.14");
    ASSERT_TRUE(pauses_.waitForPauses(1));  // now in the pause between passes
    stop();
    ASSERT_TRUE(sim.waitFor(RequestKind::kUnregistration, 1, 10s));
    EXPECT_EQ(sim.count(RequestKind::kUnregistration), 1u);
    EXPECT_EQ(pauses_.pauses().size(), 1u);
    Bytes unregistration = {0x01, 0x00, 0x00, 0x31, 0x12, 0x34, 0x56, 0x78};
    unregistration.insert(unregistration.end(), NPA_COMMAND_UNREGLANGID.begin(),
                          NPA_COMMAND_UNREGLANGID.end());
    EXPECT_EQ(sim.received().back().bytes, unregistration);
    EXPECT_NE(tap.finish().find("Sent unregister command with return status 26"),
              std::string::npos);
}

// Regression: the host of ipp://host:port/... carries the port of the print
// service; the monitor still reaches port 9300 of that host.
TEST_F(NetworkMonitor, HostWithPortReachesThePrinter) {
    PrinterSimulator sim("127.0.93.15");
    ASSERT_TRUE(sim.listening()) << sim.error();
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.15:631");
    EXPECT_TRUE(sim.waitFor(RequestKind::kRegistration, 1, 10s));
}

TEST_F(NetworkMonitor, ShortAddressEndsAtOnceSendingNothing) {
    // inet_addr would read "127.0.1" as 127.0.0.1.
    PrinterSimulator sim("127.0.0.1");
    ASSERT_TRUE(sim.listening()) << sim.error();
    StartNpaNetworkThread("127.0.1");
    // The thread ends by itself, its run flag still set, sending nothing.
    ASSERT_TRUE(waitForFlag(npaNetworkThreadParams.ended));
    EXPECT_TRUE(npaNetworkThreadParams.thread.running());
    EXPECT_TRUE(sim.received().empty());
    EXPECT_TRUE(pauses_.pauses().empty());
}

TEST_F(NetworkMonitor, NoPrinterWritesOnlyTheRegistration) {
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.16");  // nobody listens here
    // Two passes without an answer, each ending in the two-second pause.
    ASSERT_TRUE(pauses_.waitForPauses(2));
    stop();
    EXPECT_EQ(pauses_.pauses()[0], 2000ms);
    std::string err = tap.finish();
    // One registration (the socket stays), no warning, the unregistration at
    // the end (its status may carry the refusal of the port).
    EXPECT_EQ(err.rfind("Sent register command with return status 26", 0), 0u) << err;
    EXPECT_EQ(err.find("Sent register command", 1), std::string::npos) << err;
    EXPECT_NE(err.find("Sent unregister command with return status"), std::string::npos) << err;
    EXPECT_EQ(err.find("WARNING"), std::string::npos) << err;
}

TEST_F(NetworkMonitor, ForeignIdentifierIsIgnored) {
    PrinterSimulator sim("127.0.93.17");
    ASSERT_TRUE(sim.listening()) << sim.error();
    printersim::AlertConfig c;
    c.alerts = {SimAlert::withText("not for us")};
    c.foreignIdentifier = true;
    sim.setConfig(c);
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.17");
    ASSERT_TRUE(sim.waitFor(RequestKind::kAlertRequest, 2, 15s));
    stop();
    EXPECT_TRUE(linesStartingWith(tap.finish(), "WARNING: ").empty());
}

// Regression: every failed connection attempt closes its socket.
TEST(NetworkConnection, FailedAttemptsLeaveNoSocket) {
    int before = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        int handle = 12345;
        EXPECT_EQ(InitializeNpaNetworkConnection(i % 2 ? "127.0.93.999" : "printer", &handle), -1);
        EXPECT_EQ(handle, -1);
    }
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
