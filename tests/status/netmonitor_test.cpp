// The network status monitor against the printer simulator.  Every case
// listens on its own loopback address (127.0.93.N) so cases can run in parallel.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "channel/hdc.h"
#include "channel/messages.h"
#include "channel/statusthreads.h"
#include "status/NPACommands.h"
#include "tests/status/testutil.h"
#include "tools/printersim/printersim.h"

namespace {

using namespace std::chrono_literals;
using printersim::PrinterSimulator;
using printersim::RequestKind;
using printersim::SimAlert;
using Clock = std::chrono::steady_clock;

class NetworkMonitor : public ::testing::Test {
  protected:
    void SetUp() override { msgResetLineState(); }
    void TearDown() override { StopNpaNetworkThread(); }

    // Stops the monitor; returns how long the stop took.
    Clock::duration stop() {
        auto start = Clock::now();
        StopNpaNetworkThread();
        return Clock::now() - start;
    }
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
    for (size_t i = 1; i < requests.size(); ++i) {
        auto gap = requests[i].when - requests[i - 1].when;
        EXPECT_GE(gap, 1900ms) << "request " << i;
        EXPECT_LE(gap, 6s) << "request " << i;
    }
    EXPECT_NE(err.find("Sent register command with return status 26"), std::string::npos);
}

TEST_F(NetworkMonitor, ErrorAlertIsWrittenFiveTimes) {
    PrinterSimulator sim("127.0.93.11");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setAlerts({SimAlert::withText("Paper jam in tray 2")});
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.11");
    EXPECT_TRUE(tap.waitForLine("WARNING: Paper jam in tray 2", 5, 15s));
    stop();  // during the 2-second pause: no second report
    EXPECT_EQ(countLines(tap.finish(), "WARNING: Paper jam in tray 2"), 5);
}

TEST_F(NetworkMonitor, AlertListSplitOverPacketsAndDatagramsIsRepeatedInOrder) {
    PrinterSimulator sim("127.0.93.12");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setAlerts({SimAlert::withText("Jam A"), SimAlert::withText("Door B")});
    sim.setSplit(3, 2);
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.12");
    EXPECT_TRUE(tap.waitForLine("WARNING: Door B", 5, 15s));
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

TEST_F(NetworkMonitor, UnregistersOnceAtStopAndStopsQuickly) {
    PrinterSimulator sim("127.0.93.14");
    ASSERT_TRUE(sim.listening()) << sim.error();
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.14");
    ASSERT_TRUE(sim.waitFor(RequestKind::kAlertRequest, 1, 15s));
    std::this_thread::sleep_for(300ms);  // now in the pause between passes
    EXPECT_LT(stop(), 1500ms);
    ASSERT_TRUE(sim.waitFor(RequestKind::kUnregistration, 1, 2s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sim.count(RequestKind::kUnregistration), 1u);
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
    std::this_thread::sleep_for(1s);
    EXPECT_LT(stop(), 200ms);
    EXPECT_TRUE(sim.received().empty());
}

TEST_F(NetworkMonitor, NoPrinterWritesOnlyTheRegistrationAndStopsQuickly) {
    StderrTap tap;
    StartNpaNetworkThread("127.0.93.16");  // nobody listens here
    std::this_thread::sleep_for(2500ms);
    EXPECT_LT(stop(), 1500ms);
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
