// The band pipeline seen from outside: the same bytes for any number of coder
// threads, copies that stop at once on a cancel or a dead output, and memory
// failures that close the page before the session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness/jobtext.h"
#include "tests/pages/pagejob.h"

namespace {

using harness::Pattern;
using harness::TempDir;
using pagetest::countLines;
using pagetest::expectClosedSession;
using pagetest::JobResult;
using pagetest::withEnv;

// Bands are coded out of order by any number of threads and joined in order:
// colour and gray pages of every kind, copies and a white back side give the
// same bytes with one coder thread as with five.
TEST(BandPipeline, OneAndManyCoderThreadsGiveTheSameBytes) {
    TempDir dir;
    for (const bool color : {true, false}) {
        SCOPED_TRACE(color ? "colour" : "gray");
        harness::RasterSpec spec;
        for (const Pattern pattern :
             {Pattern::Photo, Pattern::Text, Pattern::White, Pattern::Noise}) {
            harness::PageSpec page = pagetest::smallPage(pattern, color);
            page.height = 1100;  // several images per page, the last one short
            page.duplex = true;
            spec.pages.push_back(page);
        }
        spec.pages.push_back(spec.pages[0]);  // 5 pages: a lone last front page
        const JobResult one =
            pagetest::runJob(dir, spec, withEnv({{"QZ_CODER_THREADS", "1"}}, "2"), false);
        const JobResult many =
            pagetest::runJob(dir, spec, withEnv({{"QZ_CODER_THREADS", "5"}}, "2"), false);
        ASSERT_TRUE(one.run.exitedWith(0)) << one.run.describe();
        ASSERT_TRUE(many.run.exitedWith(0)) << many.run.describe();
        EXPECT_EQ(one.job.pages.size(), 11u);  // 1/2 1/2 3/4 3/4 5/W 5
        EXPECT_EQ(one.issues(), "");
        EXPECT_TRUE(harness::maskDate(one.run.out) == harness::maskDate(many.run.out));
    }
}

// Ten uncollated copies, each image of a copy held back by the test pause.
// A cancel during copy 2 stops it at the next image, closes its page and
// ends the job; a printer that goes away stops the copies the same way.
TEST(BandPipeline, CopiesStopAtOnceOnCancelOrDeadOutput) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Photo);
    page.height = 1100;  // 5 images: sending one copy takes 5 pauses
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 1);

    // The cancel must land while copy 2 is sent, within its 5 pauses: 2 s each
    // leaves 10 s for a loaded machine.  The pause does not end on the cancel,
    // so the job still runs out the pause in hand (about 2 s).
    harness::FilterRunOptions o = withEnv({{"QZ_TEST_COPY_PAUSE_MS", "2000"}}, "10");
    o.sigtermWhenStderrContains = "DEBUG: Copy 2 ";
    const JobResult cancelled = pagetest::runJob(dir, spec, o, false);
    ASSERT_TRUE(cancelled.run.sigtermSent) << cancelled.run.describe();
    ASSERT_TRUE(cancelled.run.exitedWith(0)) << cancelled.run.describe();
    expectClosedSession(cancelled, true);
    // One copy begun and cut: the cancel stopped copy 2 before copy 3 began.
    EXPECT_EQ(countLines(cancelled, "DEBUG: Copy "), 1u) << cancelled.run.err;
    ASSERT_EQ(cancelled.job.pages.size(), 2u);  // the page and the cut copy 2

    // The printer goes away after a few bytes: without the pause the job
    // would send nine copies into a dead pipe; the copies stop instead.
    harness::PageSpec letter;  // a colour Letter page at 600 dpi: several MiB coded
    letter.resX = letter.resY = 600;
    letter.pattern = Pattern::Noise;
    harness::FilterRunOptions dead = withEnv({}, "10", "PageSize=Letter");
    dead.closeStdoutAfter = 4096;
    const JobResult gone =
        pagetest::runJob(dir, harness::RasterSpec::uniform(letter, 1), dead, false);
    ASSERT_TRUE(gone.run.exitedWith(1)) << gone.run.describe();
    EXPECT_EQ(countLines(gone, "ERROR: Unable to write print data"), 1u) << gone.run.err;
    EXPECT_LT(countLines(gone, "DEBUG: Copy "), 9u) << gone.run.err;
}

// Memory that runs out while a page is read ahead, coded, written or kept
// for its copies: "ERROR: Unable to allocate memory!", the page in hand is
// closed before the session ends (no operator out of sequence), exit 1.
TEST(BandPipeline, AllocationFailuresCloseThePageAndTheSession) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Photo);
    page.height = 1100;
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 3);
    for (const char* site : {"readahead:20", "coder:20", "writer:3", "record:2"}) {
        SCOPED_TRACE(site);
        const JobResult r =
            pagetest::runJob(dir, spec, withEnv({{"QZ_FAIL_ALLOC", site}}, "2"), false);
        ASSERT_TRUE(r.run.exitedWith(1)) << r.run.describe();
        EXPECT_GE(countLines(r, "ERROR: Unable to allocate memory!"), 1u) << r.run.err;
        EXPECT_EQ(r.run.termSignal, 0);
        expectClosedSession(r, true);
        EXPECT_FALSE(r.job.pages.empty());
    }
}

}  // namespace
