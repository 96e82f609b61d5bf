// Printer status for USB printers, through the whole filter: the status
// requests travel at the head of the job stream, and the harness plays the
// backend's back channel (descriptor 3), feeding it the printer's answers in
// pieces that the filter reads one by one.
#include <gtest/gtest.h>

#include <random>

#include "tests/statuse2e/statusjob.h"

namespace statuse2e {
namespace {

using harness::FilterRun;
using harness::FilterRunOptions;
using printersim::AlertConfig;

const std::string kUsbUri = "usb://Maker/Model?serial=1";
const std::string kInside = "\nInside GetExtAlerts in hdc\n";

Bytes slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// Positions of `part` in `text`, in order.
std::vector<size_t> positions(const std::string& text, const std::string& part) {
    std::vector<size_t> at;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
        at.push_back(p);
    return at;
}

// Two error answers, each split over two back-channel reads: the first at its
// packet boundary (behind the registration answer), the second in the middle
// of its last packet.  Each gives exactly its two lines; the job stream is the
// status prologue and then exactly what a job without any status would be.
TEST(UsbStatus, SplitAnswersGiveTheirTwoLinesAndTheStreamStartsWithThePrologue) {
    AlertConfig a = answer("Paper jam in tray 2");
    a.packets = 2;
    AlertConfig b = answer("Out of paper");
    b.packets = 2;
    const std::vector<Bytes> ap = printersim::responsePackets(a);
    const std::vector<Bytes> bp = printersim::responsePackets(b);
    ASSERT_EQ(ap.size(), 2u);
    ASSERT_EQ(bp.size(), 2u);
    const size_t cut = bp[1].size() / 2;

    FilterRunOptions o = statusJob(kUsbUri, 4, 220);  // about 5 s
    o.backChannelWrites =
        std::vector<Bytes>{cat({printersim::registrationReplyPacket(true), ap[0]}), ap[1],
                           cat({bp[0], slice(bp[1], 0, cut)}), slice(bp[1], cut, bp[1].size())};
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(r.backChannelPiecesWritten, 4u);

    // Golden: USB_SNIFF_COMMAND, NPA_COMMAND_REGLANGID, USB_SNIFF_COMMAND,
    // NPA_DEVCOMMAND_EXT_ERRORS (72 bytes), then the PJL job header.
    const Bytes prologue = cat({kUsbSniff, kRegLangId, kUsbSniff, kExtErrors});
    ASSERT_EQ(prologue.size(), 72u);
    ASSERT_GT(r.out.size(), 72u + kUel.size());
    EXPECT_EQ(slice(r.out, 0, 72), prologue);

    FilterRun reference = harness::runFilter(statusJob("file:///dev/null", 4));
    ASSERT_TRUE(reference.exitedWith(0)) << reference.describe();
    std::string withPrologue = maskedText(r);
    EXPECT_EQ(withPrologue.substr(72), maskedText(reference));

    const std::vector<size_t> inside = positions(r.err, kInside);
    const std::vector<size_t> first = positions(r.err, "\nWARNING: Paper jam in tray 2\n");
    const std::vector<size_t> second = positions(r.err, "\nWARNING: Out of paper\n");
    ASSERT_EQ(inside.size(), 2u) << r.err;
    ASSERT_EQ(first.size(), 1u) << r.err;
    ASSERT_EQ(second.size(), 1u) << r.err;
    EXPECT_LT(inside[0], first[0]);
    EXPECT_LT(first[0], inside[1]);
    EXPECT_LT(inside[1], second[0]);
    EXPECT_EQ(linesStartingWith(r.err, "WARNING:").size(), 2u) << r.err;
}

// The reader pauses two seconds after an answer; a job that ends meanwhile
// ends the pause (the unit tests pin that without measuring time).  The job
// is short, the answer is there from the start, so the job ends inside the
// pause, and the answer is reported once.
TEST(UsbStatus, EndDuringThePauseAfterAnAnswer) {
    FilterRunOptions o = statusJob(kUsbUri, 1);
    o.backChannelWrites = std::vector<Bytes>{printersim::backChannelBytes(answer("Late alert"))};
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(countOf(r.err, "\nWARNING: Late alert\n"), 1u) << r.err;
}

// No usable back channel: /dev/null (end of file at once, as under
// cupsfilter), a closed descriptor 3, and a pipe that stays open and quiet.
// The job neither waits for the reader at its end (a quiet pipe may cost one
// read time-out of a second) nor spends CPU time spinning on the descriptor.
TEST(UsbStatus, AbsentOrQuietBackChannelNeitherDelaysNorSpins) {
    // About 1.5 s, mostly waiting for the raster: a spinning reader would
    // show up as CPU time of that order.
    FilterRun base = harness::runFilter(statusJob("file:///dev/null", 1, 250));
    ASSERT_TRUE(base.exitedWith(0)) << base.describe();

    struct Case {
        const char* what;
        bool closed;
        bool quietPipe;
    };
    for (const Case& c : {Case{"/dev/null", false, false}, Case{"closed", true, false},
                          Case{"quiet pipe", false, true}}) {
        FilterRunOptions o = statusJob(kUsbUri, 1, 250);
        o.timeout = 20s;  // a reader blocked in read() holds the job's end for ever
        o.closeBackChannel = c.closed;
        if (c.quietPipe) o.backChannelWrites = std::vector<Bytes>{};
        FilterRun r = harness::runFilter(o);
        ASSERT_TRUE(r.exitedWith(0)) << c.what << ": " << r.describe();
        EXPECT_TRUE(endsWithTrailer(r)) << c.what;
        EXPECT_EQ(slice(r.out, 0, 19), kUsbSniff) << c.what;
        EXPECT_LT(r.cpuTime, base.cpuTime + 500ms)
            << c.what << ": " << r.cpuTime.count() << " ms CPU, without a reader "
            << base.cpuTime.count() << " ms";
        EXPECT_EQ(r.err.find("WARNING:"), std::string::npos) << c.what;
    }
}

// Bytes of no packet at all (more than one read holds, with a few empty and
// one-byte packets among them), then an answer whose alert text runs past its
// block: neither gives a line, and the next sound answer is reported.
TEST(UsbStatusRobustness, NoiseAndABrokenAnswerAreIgnored) {
    std::mt19937 random(11);
    Bytes noise(20000);
    for (uint8_t& b : noise) {
        b = static_cast<uint8_t>(random());
        if (b == 0xA5) b = 0x5A;
    }
    for (size_t at = 1000; at + 4 < noise.size(); at += 4000) {
        const Bytes tiny = {0xA5, 0x00, 0x00, 0xA5, 0x00, 0x01, 0x50};
        std::copy(tiny.begin(), tiny.end(), noise.begin() + static_cast<long>(at));
    }

    Bytes broken = printersim::assembledResponse(answer("Runs past the end"));
    {
        const std::string text = "Runs past the end";
        const size_t at = static_cast<size_t>(
            std::search(broken.begin(), broken.end(), text.begin(), text.end()) - broken.begin());
        broken[at - 2] = 0x7F;  // the string's length bytes
        broken[at - 1] = 0xFF;
    }

    FilterRunOptions o = statusJob(kUsbUri, 20, 250);  // 30 s unless cancelled
    o.backChannelWrites =
        std::vector<Bytes>{noise, cat({printersim::registrationReplyPacket(true), broken}),
                           printersim::assembledResponse(answer("Still alive"))};
    o.sigtermWhenStderrContains = "WARNING: Still alive";
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.sigtermSent) << "the sound answer was not reported: " << r.describe();
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(endsWithTrailer(r));
    EXPECT_EQ(countOf(r.err, kInside), 1u) << r.err;
    EXPECT_EQ(linesStartingWith(r.err, "WARNING:"),
              std::vector<std::string>{"WARNING: Still alive"})
        << r.err;
}

// Regression: a stray 0xA5 whose length field claims more than any answer
// can hold used to hold back everything behind it until the held bytes
// overflowed, and then drop them all, the real answer with them.
TEST(UsbStatusRobustness, StrayPacketStartDoesNotSwallowTheAnswerBehindIt) {
    Bytes stray = {0xA5, 0x10, 0x00, 0x50, 0xE0, 0x73, 0x03};  // claims 4099 bytes
    std::mt19937 random(5);
    Bytes filler(1500);
    for (uint8_t& b : filler)
        b = static_cast<uint8_t>(0x20 + random() % 0x5F);  // no 0xA5
    FilterRunOptions o = statusJob(kUsbUri, 20, 250);
    o.backChannelWrites = std::vector<Bytes>{
        cat({stray, filler, printersim::assembledResponse(answer("Found behind a stray"))})};
    o.sigtermWhenStderrContains = "WARNING: Found behind a stray";
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.sigtermSent) << "the answer was not reported: " << r.describe();
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(countOf(r.err, kInside), 1u) << r.err;
}

}  // namespace
}  // namespace statuse2e
