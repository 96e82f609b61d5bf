#include "channel/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string capture(void (*body)()) {
    msgResetLineState();
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}

TEST(Messages, SpoolerPrefixAfterAnUnfinishedLineStartsOnAFreshLine) {
    EXPECT_EQ(capture([] {
                  msgf("pages is:%d", 0);
                  msgf("ticketArg = %s", "a=b");
                  msgf("PAGE: %d %d\n", 1, 1);
                  msgf("collatedFlag =%d,%d", 0, 2);
                  msgf("WARNING: %s\n", "Paper jam");
                  msgf("ERROR: x\n");
              }),
              "pages is:0ticketArg = a=b\nPAGE: 1 1\ncollatedFlag =0,2\nWARNING: Paper jam\n"
              "ERROR: x\n");
}

TEST(Messages, TextsWithoutPrefixAreLeftAsTheyAre) {
    EXPECT_EQ(capture([] {
                  msgf("b4 %.2f   ->   ", 4.3333);
                  msgf("after %.2f\n", 4.33);
                  msgf("\nWARNING: %s\n", "Door open");
              }),
              "b4 4.33   ->   after 4.33\n\nWARNING: Door open\n");
}

TEST(Messages, OverlongMessageIsCutToWhatTheSpoolerReads) {
    std::string out = capture([] {
        std::string big(5000, 'x');
        msgf("DEBUG: %s\n", big.c_str());
    });
    EXPECT_EQ(out.size(), kMaxMessage);
    EXPECT_EQ(out.rfind("DEBUG: xxx", 0), 0u);
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
