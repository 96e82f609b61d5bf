// The page loop seen from outside: PAGE lines for the spooler, cancelling a
// job mid-way, and later pages whose geometry differs from the first one's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pages/pagejob.h"

namespace {

using harness::Pattern;
using harness::TempDir;
using pagetest::countLines;
using pagetest::expectClosedSession;
using pagetest::JobResult;

// Each raster page is announced once, with its own header's NumCopies.
TEST(PageLoop, PageLinesCarryTheCountAndTheHeadersCopies) {
    TempDir dir;
    harness::RasterSpec spec = harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Text), 3);
    spec.pages[1].numCopies = 3;
    const JobResult r = pagetest::runJob(dir, spec, {}, false);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.errLines("PAGE: "),
              (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 3", "PAGE: 3 1"}));
}

// A slow raster of ten pages, cancelled once page 3 has begun.  The filter
// alone is signalled, so page 3 still arrives whole and is printed; the
// copies owed for the pages before it are out, but a cancel stops the copies
// still to come, so page 3 gets none.  The job closes normally.
TEST(PageLoop, SigtermDuringPageThreeFinishesItWithoutFurtherCopies) {
    TempDir dir;
    const harness::RasterSpec spec =
        harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Photo), 10);
    harness::FilterRunOptions o;
    o.args = harness::filterArgs("2", "");
    o.fakeDelayMs = 20;
    o.fakeChunk = 64 * 1024;  // a page (360 KB) takes six chunks
    o.sigtermWhenStderrContains = "PAGE: 3";
    o.sigtermToGroup = false;
    const JobResult r = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(r.run.sigtermSent);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_NE(r.run.err.find("IS terminated 1"), std::string::npos);
    expectClosedSession(r);
    EXPECT_EQ(countLines(r, "PAGE: "), 3u);
    EXPECT_EQ(pagetest::sideSequence(r.sides, spec.pages[0]), "P1 P1 P2 P2 P3");
    const int pageOfSide[] = {1, 1, 2, 2, 3};
    for (size_t i = 0; i < r.sides.size() && i < 5; ++i) {
        EXPECT_GT(pagetest::psnrOverRaster(
                      r.sides[i], harness::expectedPagePixels(spec, pageOfSide[i]), 400, 300, 3),
                  40.0)
            << "side " << i;
    }
}

// The spooler's way: SIGTERM to the whole group, so the raster source dies
// too.  The page in hand is closed (completed in white), nothing after it is
// printed, and the printer still gets a complete session.  The spooler stops
// the backend too: output that breaks after the cancel is expected, so it is
// a debug line and the job still ends with 0.
TEST(PageLoop, SigtermToTheGroupStillClosesTheSession) {
    TempDir dir;
    const harness::RasterSpec spec =
        harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Photo), 10);
    harness::FilterRunOptions o;
    o.fakeDelayMs = 20;
    o.fakeChunk = 64 * 1024;
    o.sigtermWhenStderrContains = "PAGE: 3";
    const JobResult r = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(r.run.sigtermSent);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_NE(r.run.err.find("IS terminated 1"), std::string::npos);
    expectClosedSession(r);
    ASSERT_EQ(r.job.pages.size(), 3u);
    for (const inspect::PageInfo& page : r.job.pages)
        EXPECT_EQ(page.height, 304u);

    // The same job with the backend gone before the first byte.  Ten small
    // pages never reach the 5 MiB at which the output is flushed, so nothing
    // is written before the cancel and the broken output is met only after it.
    o.closeStdoutAfter = 0;
    const JobResult broken = pagetest::runJob(dir, spec, o, false);
    ASSERT_TRUE(broken.run.sigtermSent);
    ASSERT_TRUE(broken.run.exitedWith(0)) << broken.run.describe();
    EXPECT_EQ(countLines(broken, "ERROR: "), 0u) << broken.run.err;
    EXPECT_EQ(countLines(broken, "DEBUG: The output closed after the job was cancelled"), 1u)
        << broken.run.err;
}

// Regression: a later page wider than the first overran the job's line and
// block buffers.  It is clipped to the job's width (and reported); the pages
// after it print normally.
TEST(PageLoop, LaterWiderPageIsClippedToTheJobWidth) {
    TempDir dir;
    harness::RasterSpec spec =
        harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Gradient), 3);
    spec.pages[1].width = 480;
    const JobResult r = pagetest::runJob(dir, spec);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.issues(), "");
    const std::vector<std::string> notes = r.errLines("DEBUG: Page ");
    ASSERT_EQ(notes.size(), 1u) << r.run.err;
    EXPECT_EQ(notes[0].rfind("DEBUG: Page 2 is wider", 0), 0u) << notes[0];
    ASSERT_EQ(r.sides.size(), 3u);
    EXPECT_EQ(pagetest::sideSequence(r.sides, spec.pages[0]), "P1 P2 P3");
    for (const inspect::PageImage& side : r.sides)
        EXPECT_EQ(side.width, 400u);

    // Page 2 shows its raster's left 400 columns.
    const std::vector<uint8_t> wide = harness::expectedPagePixels(spec, 2);
    std::vector<uint8_t> left;
    for (unsigned y = 0; y < 300; ++y) {
        const auto row = wide.begin() + static_cast<ptrdiff_t>(y) * 480 * 3;
        left.insert(left.end(), row, row + 400 * 3);
    }
    EXPECT_GT(pagetest::psnrOverRaster(r.sides[1], left, 400, 300, 3), 40.0);
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[2], harness::expectedPagePixels(spec, 3), 400, 300, 3),
        40.0);
}

// Later pages taller or shorter than the first keep the job's height: a
// taller page prints its top and the rest of its lines are read past, so the
// raster stays in step; a shorter page ends in white.
TEST(PageLoop, LaterTallerOrShorterPageKeepsTheRasterInStep) {
    TempDir dir;
    harness::RasterSpec spec =
        harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Gradient), 4);
    spec.pages[1].height = 360;
    spec.pages[2].height = 200;
    const JobResult r = pagetest::runJob(dir, spec);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.issues(), "");
    ASSERT_EQ(r.sides.size(), 4u);
    for (const inspect::PageImage& side : r.sides)
        EXPECT_EQ(side.height, 304u);
    // The gradient runs over each page's own height, so the pages differ.
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[0], harness::expectedPagePixels(spec, 1), 400, 300, 3),
        40.0);
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[1], harness::expectedPagePixels(spec, 2), 400, 304, 3),
        40.0);
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[2], harness::expectedPagePixels(spec, 3), 400, 200, 3),
        40.0);
    inspect::PageImage bottom;
    bottom.width = 400;
    bottom.height = 104;
    bottom.channels = 3;
    bottom.pixels.assign(r.sides[2].pixels.begin() + 200 * 400 * 3, r.sides[2].pixels.end());
    EXPECT_TRUE(pagetest::allAtLeast(bottom, 250));
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[3], harness::expectedPagePixels(spec, 4), 400, 300, 3),
        40.0);
}

// Regression: a gray page after colour ones (or the reverse) was read with
// the first page's pixel size, so its lines were cut apart and the raster
// lost its place.  The page is refused with an error, the session is closed,
// and the job fails; but the pages before it stay printed, with the
// uncollated copies owed for the page or sheet before it.
TEST(PageLoop, PageOfAnotherPixelFormatIsRefusedAfterTheCopiesOwedBeforeIt) {
    TempDir dir;
    struct Case {
        const char* copies;
        bool duplex;
        bool firstColor;
        const char* sides;
    };
    for (const Case& c : {Case{"1", false, true, "P1"}, Case{"1", true, false, "P1"},
                          Case{"2", false, false, "P1 P1"}, Case{"2", true, true, "P1 W P1"}}) {
        SCOPED_TRACE(std::string(c.copies) + (c.duplex ? " copies duplex, " : " copies simplex, ") +
                     (c.firstColor ? "gray after colour" : "colour after gray"));
        harness::RasterSpec spec =
            harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Text, c.firstColor), 3);
        spec.pages[1] = pagetest::smallPage(Pattern::Text, !c.firstColor);
        for (harness::PageSpec& page : spec.pages)
            page.duplex = c.duplex;
        harness::FilterRunOptions o;
        o.args = harness::filterArgs(c.copies, "");
        const JobResult r = pagetest::runJob(dir, spec, o);
        ASSERT_TRUE(r.run.exitedWith(1)) << r.run.describe();
        const std::vector<std::string> errors = r.errLines("ERROR: ");
        ASSERT_EQ(errors.size(), 1u) << r.run.err;
        EXPECT_EQ(errors[0].rfind("ERROR: Unable to print page 2: ", 0), 0u) << errors[0];
        expectClosedSession(r);
        EXPECT_EQ(pagetest::sideSequence(r.sides, spec.pages[0]), c.sides);
        EXPECT_NE(r.run.err.find("END MAIN"), std::string::npos);
    }
}

}  // namespace
