#include "base/messages.h"
#include "base/processstate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string capture(void (*body)()) {
    resetProcessState();
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}

// Regression: texts without a line feed glued the next line (ours, or another
// process's on the shared status pipe) onto theirs, hiding its prefix.
TEST(Messages, EveryMessageEndsItsLine) {
    EXPECT_EQ(capture([] {
                  msgf("pages is:%d", 0);
                  msgf("ticketArg = %s", "a=b");
                  msgf("PAGE: %d %d\n", 1, 1);
                  msgf("b4 %.2f   ->   ", 4.3333);
                  msgf("\nreturned with error");
                  msgf("\nWARNING: %s\n", "Door open");
                  msgf("\n");
              }),
              "pages is:0\nticketArg = a=b\nPAGE: 1 1\nb4 4.33   ->   \n\nreturned with error\n"
              "\nWARNING: Door open\n\n");
}

// Regression: a job option holding "\nSTATE: +media-empty-error" became a real
// STATE: line.  Control bytes from values are replaced; only the format's own
// leading line feeds stay.
TEST(Messages, ControlBytesFromValuesCannotForgeLines) {
    EXPECT_EQ(capture([] {
                  msgf("ticketArg = %s", "x\nSTATE: +media-empty-error\rATTR: a=b\x1b\x7f");
                  msgf("%s", "\nPPD: DefaultX=Y\n");
                  msgf("\nWARNING: %s\n", "\nSTATE: paused");
                  const char child[] = "DEBUG: a\tb\x01\n";
                  msgWrite(child, sizeof child - 1);
              }),
              "ticketArg = x STATE: +media-empty-error ATTR: a=b  \n"
              " PPD: DefaultX=Y\n"
              "\nWARNING:  STATE: paused\n"
              "DEBUG: a b \n");
}

// An overlong formatted message is cut to one line; an overlong line passed
// on (from pdftoraster) goes out as several whole lines, none longer than the
// spooler reads and none splitting a UTF-8 character.
TEST(Messages, OverlongMessagesStayWithinTheSpoolerLine) {
    std::string cut = capture([] {
        std::string big(5000, 'x');
        msgf("DEBUG: %s\n", big.c_str());
    });
    EXPECT_EQ(cut.size(), kMaxMessage);
    EXPECT_EQ(cut.rfind("DEBUG: xxx", 0), 0u);
    EXPECT_EQ(cut.back(), '\n');

    static std::string text = "DEBUG: ";
    while (text.size() < 5000)
        text += "\xc3\xa9";
    std::string split = capture([] {
        std::string forwarded = text + "\n";
        msgWrite(forwarded.data(), forwarded.size());
    });
    std::string joined;
    size_t lines = 0;
    for (size_t pos = 0; pos < split.size(); ++lines) {
        size_t end = split.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        ASSERT_LE(end + 1 - pos, kMaxMessage);
        std::string line = split.substr(pos, end - pos);
        EXPECT_NE(static_cast<uint8_t>(line.back()), 0xC3u);  // no cut character
        joined += line;
        pos = end + 1;
    }
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(joined, text);
}

TEST(Messages, PerrorAddsTheSystemErrorText) {
    EXPECT_EQ(capture([] {
                  errno = ENOENT;
                  msgPerror("ERROR: Unable to create pipe!");
              }),
              "ERROR: Unable to create pipe!: No such file or directory\n");
}

// Two threads writing at once never split each other's lines.
TEST(Messages, ConcurrentWritersDoNotInterleave) {
    std::string out = capture([] {
        auto writer = [](char c) {
            std::string text(100, c);
            for (int i = 0; i < 200; ++i)
                msgf("WARNING: %s\n", text.c_str());
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        a.join();
        b.join();
    });
    size_t lines = 0, pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = out.substr(pos, end - pos);
        EXPECT_TRUE(line == "WARNING: " + std::string(100, 'a') ||
                    line == "WARNING: " + std::string(100, 'b'))
            << line;
        ++lines;
        pos = end + 1;
    }
    EXPECT_EQ(lines, 400u);
}

}  // namespace
