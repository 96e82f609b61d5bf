// Printer status for network printers, through the whole filter: the built
// quenzel runs a job for a socket://, ipp:// or lpd:// device while the printer
// simulator plays the printer's status service on UDP port 9300.
//
// Every case listens on an address of its own (127.0.94.N), so the cases can
// run in parallel.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "tests/statuse2e/statusjob.h"

namespace statuse2e {
namespace {

using harness::FilterRun;
using harness::FilterRunOptions;
using printersim::AlertConfig;
using printersim::AlertItem;
using printersim::Datagram;
using printersim::PrinterSimulator;
using printersim::RequestKind;
using Clock = std::chrono::steady_clock;

// The monitor's whole exchange with a printer that reports one error once and
// then only a warning: registration, a request every two seconds, five WARNING
// lines for the one error, unregistration at the end, and a job stream that is
// the same as without any printer status.
TEST(NetworkStatus, SocketPrinterSeesTheWholeExchangeAndTheJobStreamIsUntouched) {
    const std::string uri = "socket://127.0.94.1:9100";
    // The same job first with nothing listening on the status port.
    FilterRun reference = harness::runFilter(statusJob(uri, 4));
    ASSERT_TRUE(reference.exitedWith(0)) << reference.describe();

    PrinterSimulator sim("127.0.94.1");
    ASSERT_TRUE(sim.listening()) << sim.error();
    FilterRun r;
    Clock::time_point ended;
    {
        AnswerScript script(
            sim, {answer("Paper jam in tray 2"), answer("Toner low", printersim::kClassWarning)});
        r = harness::runFilter(statusJob(uri, 4, 260));  // about 6 s
        ended = Clock::now();
        EXPECT_EQ(script.stepsUsed(), 2u);
    }
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();

    const std::vector<Datagram> all = sim.received();
    ASSERT_GE(all.size(), 5u);
    // Golden: the registration is the first datagram, header + NPA_COMMAND_REGLANGID.
    EXPECT_EQ(all.front().bytes, cat({kTransportHeader, kRegLangId}));
    EXPECT_EQ(sim.count(RequestKind::kRegistration), 1u);
    EXPECT_EQ(sim.count(RequestKind::kOther), 0u);

    // Golden: every alert request is header + NPA_DEVCOMMAND_EXT_ERRORS.  (The
    // two-second pause between them is pinned by the monitor's unit tests,
    // which take the pauses' place instead of measuring time.)
    const std::vector<Datagram> requests = sim.received(RequestKind::kAlertRequest);
    ASSERT_GE(requests.size(), 3u);
    for (const Datagram& d : requests)
        EXPECT_EQ(d.bytes, cat({kTransportHeader, kExtErrors}));

    // Golden: one unregistration, header + NPA_COMMAND_UNREGLANGID, last of
    // all and before the filter had ended.
    EXPECT_EQ(sim.count(RequestKind::kUnregistration), 1u);
    EXPECT_EQ(all.back().bytes, cat({kTransportHeader, kUnregLangId}));
    EXPECT_LE(all.back().when, ended);
    EXPECT_EQ(countOf(r.err, "Sent register command with return status 26"), 1u) << r.err;
    EXPECT_EQ(countOf(r.err, "Sent unregister command with return status 26"), 1u) << r.err;

    // The one error answer gives exactly five lines; the warning answers none.
    EXPECT_EQ(countLines(r.err, "WARNING: Paper jam in tray 2"), 5) << r.err;
    EXPECT_EQ(linesStartingWith(r.err, "WARNING:").size(), 5u) << r.err;

    // Nothing of the status exchange reaches the printer's job stream.
    EXPECT_EQ(maskedText(r), maskedText(reference));
    EXPECT_EQ(outText(r).compare(0, kUel.size(), kUel), 0);
    EXPECT_TRUE(endsWithTrailer(r));
}

// ipp:// keeps the port in the host text ("127.0.94.2:631"); the monitor
// must still talk to port 9300.  lpd:// has no port.
TEST(NetworkStatus, IppAndLpdPrintersAreWatchedOnTheStatusPort) {
    for (const char* uri : {"ipp://127.0.94.2:631/ipp", "lpd://127.0.94.3/queue"}) {
        const std::string address = std::string(uri).substr(6, 10);
        PrinterSimulator sim(address);
        ASSERT_TRUE(sim.listening()) << sim.error();
        FilterRun r;
        {
            AnswerScript script(
                sim, {answer("Cover open"), answer("Toner low", printersim::kClassWarning)});
            r = harness::runFilter(statusJob(uri, 2, 100));
        }
        EXPECT_TRUE(r.exitedWith(0)) << uri << ": " << r.describe();
        const std::vector<Datagram> all = sim.received();
        ASSERT_FALSE(all.empty()) << uri;
        EXPECT_EQ(all.front().bytes, cat({kTransportHeader, kRegLangId})) << uri;
        EXPECT_GE(sim.count(RequestKind::kAlertRequest), 1u) << uri;
        EXPECT_EQ(sim.count(RequestKind::kUnregistration), 1u) << uri;
        EXPECT_EQ(countLines(r.err, "WARNING: Cover open"), 5) << uri << ": " << r.err;
    }
}

// A host given by name starts no monitor.  0x7f.0.94.4 is a name too (it has
// letters), although inet_addr() would read it as 127.0.94.4: a monitor
// started with it would reach the simulator.
TEST(NetworkStatus, SocketPrinterGivenByNameIsNotWatched) {
    PrinterSimulator sim("127.0.94.4");
    ASSERT_TRUE(sim.listening()) << sim.error();
    sim.setConfig(answer("Paper jam"));
    for (const char* uri : {"socket://0x7f.0.94.4:9100", "socket://printer4.example:9100"}) {
        FilterRun r = harness::runFilter(statusJob(uri, 2, 100));
        EXPECT_TRUE(r.exitedWith(0)) << uri << ": " << r.describe();
        EXPECT_EQ(r.err.find("Sent register command"), std::string::npos) << uri;
        EXPECT_TRUE(linesStartingWith(r.err, "WARNING:").empty()) << uri;
        EXPECT_TRUE(endsWithTrailer(r)) << uri;
    }
    EXPECT_TRUE(sim.received().empty());
}

// Alert texts come from the printer: a line feed or carriage return in one
// must not start a line of its own, where the spooler would act on it.
TEST(NetworkStatus, AlertTextCannotForgeSpoolerLines) {
    PrinterSimulator sim("127.0.94.7");
    ASSERT_TRUE(sim.listening()) << sim.error();
    FilterRun r;
    {
        AnswerScript script(sim, {answer("Jam\nERROR: forged\rSTATE: +paused\x7f"), silence()});
        r = harness::runFilter(statusJob("socket://127.0.94.7:9100", 2, 100));
    }
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(countLines(r.err, "WARNING: Jam ERROR: forged STATE: +paused "), 5) << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "ERROR:").empty()) << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "STATE:").empty()) << r.err;
}

// --- Answers a printer should never give -----------------------------------

void setLength(Bytes& packet) {
    const size_t field = packet.size() - 3;
    packet[1] = static_cast<uint8_t>(field >> 8);
    packet[2] = static_cast<uint8_t>(field);
}

// Packets of random shape close to a printer's answer (start byte, a length
// that fits, the continue flag or not, the status command, sub-command 0x73 or
// not, categories 1, 3, 7 or any) with stray bytes between them, and a last
// packet that claims more than is left.
Bytes packetNoise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    auto byte = [&] { return static_cast<uint8_t>(random()); };
    Bytes out;
    while (out.size() + 64 < size) {
        Bytes p(3 + random() % 60);
        for (uint8_t& b : p)
            b = byte();
        p[0] = 0xA5;
        setLength(p);
        if (p.size() > 3) p[3] = random() % 2 ? 0x70 : 0x50;
        if (p.size() > 4) p[4] = 0xE0;
        if (p.size() > 5 && random() % 2) p[5] = 0x73;
        if (p.size() > 6) p[6] = std::array<uint8_t, 4>{1, 3, 7, byte()}[random() % 4];
        out.insert(out.end(), p.begin(), p.end());
        for (unsigned i = random() % 4; i > 0; --i)
            out.push_back(byte());
    }
    out.insert(out.end(), {0xA5, 0x04, 0x00, 0x50, 0xE0, 0x73, 0x03, 0x08});
    return out;
}

// A whole error-class response for `text`.
Bytes goodResponse(const std::string& text) {
    return printersim::assembledResponse(answer(text));
}

// Where `text` lies in `bytes`.
size_t find(const Bytes& bytes, const std::string& text) {
    auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    return static_cast<size_t>(at - bytes.begin());
}

// A long job that the spooler cancels (SIGTERM) as soon as the printer's
// last, sound answer has been reported.
FilterRunOptions jobUntilStillAlive(const std::string& uri) {
    FilterRunOptions o = statusJob(uri, 20, 250);  // 30 s unless cancelled
    o.sigtermWhenStderrContains = "WARNING: Still alive";
    return o;
}

void expectOnlyStillAlive(const FilterRun& r, const AnswerScript& script, size_t steps) {
    ASSERT_TRUE(r.sigtermSent) << "the sound answer after the bad ones was not reported; "
                               << script.stepsUsed() << " of " << steps << " answers given; "
                               << r.describe();
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(endsWithTrailer(r));
    EXPECT_EQ(countLines(r.err, "WARNING: Still alive"), 5) << r.err;
    EXPECT_EQ(linesStartingWith(r.err, "WARNING:").size(), 5u) << r.err;
}

// Packet noise, a packet that claims more bytes than its datagram carries, and a
// response that outgrows the assembly buffer (its alert lies beyond 1024
// bytes, so it would not be reported if cut either): none gives a WARNING,
// none stops the monitor, and the next sound answer is reported.
TEST(NetworkStatusRobustness, NoiseAndOverlongPacketsAreIgnored) {
    PrinterSimulator sim("127.0.94.5");
    ASSERT_TRUE(sim.listening()) << sim.error();

    Bytes claimsTooMuch = goodResponse("Cut short");
    claimsTooMuch.resize(find(claimsTooMuch, "Cut short") + 3);  // length field unchanged

    AlertConfig oversize;
    {
        // Root 1 { 1.1, 1.5 = 1500 bytes of filler, 1.2 { alert 1.2.1 } }, about
        // 1600 bytes, sent as three packets in three datagrams.
        const AlertItem alert = printersim::alertTree({printersim::SimAlert::withText("Far away")})
                                    .children[1]
                                    .children[0];
        const AlertItem root = AlertItem::container(
            1, {AlertItem::integer(1, 0), AlertItem::other(5, Bytes(1500, 0x20)),
                AlertItem::container(2, {alert})});
        oversize.rawResponse =
            printersim::alertResponse(printersim::alertBlock(root), printersim::kClassError);
        oversize.packets = 3;
        oversize.datagrams = 3;
    }

    const std::vector<AlertConfig> steps = {rawAnswer(packetNoise(900, 7)),
                                            rawAnswer(claimsTooMuch), oversize,
                                            answer("Still alive"), silence()};
    FilterRun r;
    {
        AnswerScript script(sim, steps);
        r = harness::runFilter(jobUntilStillAlive("socket://127.0.94.5:9100"));
        expectOnlyStillAlive(r, script, steps.size());
    }
}

// Complete packets whose alert block is broken: the block is shorter than its
// length says (cut inside the text), a text runs past the block, and the
// header text lacks its closing brace.
TEST(NetworkStatusRobustness, BrokenAlertBlocksAreIgnored) {
    PrinterSimulator sim("127.0.94.6");
    ASSERT_TRUE(sim.listening()) << sim.error();

    Bytes shortBlock = goodResponse("Cut inside");
    shortBlock.resize(find(shortBlock, "Cut inside") + 3);
    setLength(shortBlock);  // a sound packet; only the block's own length lies

    Bytes longText = goodResponse("Runs past the end");
    {
        // The string's two length bytes stand right before its text.
        const size_t at = find(longText, "Runs past the end");
        longText[at - 2] = 0x7F;
        longText[at - 1] = 0xFF;
    }

    AlertConfig noBrace = answer("No brace");
    noBrace.layout.headerOverride = "P{ID:1,DT:1,C{NE:2,LD:2,V{LD:2";

    const std::vector<AlertConfig> steps = {rawAnswer(shortBlock), rawAnswer(longText), noBrace,
                                            answer("Still alive"), silence()};
    FilterRun r;
    {
        AnswerScript script(sim, steps);
        r = harness::runFilter(jobUntilStillAlive("socket://127.0.94.6:9100"));
        expectOnlyStillAlive(r, script, steps.size());
    }
}

}  // namespace
}  // namespace statuse2e
