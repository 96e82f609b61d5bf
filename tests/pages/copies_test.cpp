// Copies and duplex sheets: the filter repeats pages itself for uncollated
// copies, sheet by sheet in duplex, a lone last front page with a white back
// before each further copy; collated and single copies print each page once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tests/pages/pagejob.h"
#include "tools/inspect/rastercmp.h"

namespace {

using harness::Pattern;
using harness::TempDir;
using pagetest::JobResult;

harness::RasterSpec photoPages(int count, bool duplex) {
    harness::PageSpec page = pagetest::smallPage(Pattern::Photo);
    page.duplex = duplex;
    return harness::RasterSpec::uniform(page, count);
}

// Runs a job and returns the printed sides as "P1 W P1 ...".
struct SequenceRun {
    JobResult result;
    std::string sequence;
};
SequenceRun printSequence(const TempDir& dir, int pages, bool duplex, const std::string& copies,
                          const std::string& ticket, harness::FilterRunOptions o = {}) {
    const harness::RasterSpec spec = photoPages(pages, duplex);
    o.args = harness::filterArgs(copies, ticket);
    SequenceRun s{pagetest::runJob(dir, spec, o), {}};
    s.sequence = pagetest::sideSequence(s.result.sides, spec.pages[0]);
    return s;
}

// --- The full matrix against the sheet rule -------------------------------------

class UncollatedCopies : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

// Pages 1 to 4, copies 1 to 4, simplex and duplex: the printed sides follow
// the sheet rule, each side matches its raster page (or is white), and only
// the first print of a page has a PAGE line.
TEST_P(UncollatedCopies, FollowTheSheetRule) {
    const auto [pages, copies, duplex] = GetParam();
    TempDir dir;
    const SequenceRun s = printSequence(dir, pages, duplex, std::to_string(copies), "");
    const JobResult& r = s.result;
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_TRUE(r.job.complete);
    EXPECT_EQ(r.issues(), "");
    EXPECT_EQ(r.job.pjl("DUPLEX"), duplex ? "ON" : "OFF");

    const std::vector<int> expected = inspect::expectedPageSequence(pages, copies, duplex);
    EXPECT_EQ(s.sequence, pagetest::sequenceText(expected));
    EXPECT_EQ(r.errLines("PAGE: ").size(), static_cast<size_t>(pages));

    inspect::RasterComparer comparer(r.rasterPath, copies, duplex, 40.0);
    ASSERT_TRUE(comparer.open());
    for (size_t i = 0; i < r.sides.size(); ++i)
        comparer.compare(i, r.sides[i]);
    const inspect::RasterComparison& cmp = comparer.finish(r.sides.size());
    EXPECT_TRUE(cmp.ok());
    for (const inspect::SideComparison& side : cmp.sides)
        EXPECT_TRUE(side.ok) << "side " << side.index << ": " << side.message;
    for (const std::string& e : cmp.errors)
        ADD_FAILURE() << e;
}

INSTANTIATE_TEST_SUITE_P(PagesCopiesSides, UncollatedCopies,
                         ::testing::Combine(::testing::Range(1, 5), ::testing::Range(1, 5),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return "Pages" + std::to_string(std::get<0>(info.param)) + "Copies" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "Duplex" : "Simplex");
                         });

// --- The sequences spelled out ------------------------------------------------------

struct Spelled {
    int pages;
    int copies;
    bool duplex;
    const char* sequence;
};

class SpelledSequences : public ::testing::TestWithParam<Spelled> {};

TEST_P(SpelledSequences, PrintAsListed) {
    const Spelled& c = GetParam();
    TempDir dir;
    const SequenceRun s = printSequence(dir, c.pages, c.duplex, std::to_string(c.copies), "");
    ASSERT_TRUE(s.result.run.exitedWith(0)) << s.result.run.describe();
    EXPECT_EQ(s.sequence, c.sequence);
}

INSTANTIATE_TEST_SUITE_P(Sheets, SpelledSequences,
                         ::testing::Values(Spelled{2, 2, false, "P1 P1 P2 P2"},  //
                                           Spelled{1, 3, false, "P1 P1 P1"},     //
                                           Spelled{2, 2, true, "P1 P2 P1 P2"},   //
                                           Spelled{3, 2, true, "P1 P2 P1 P2 P3 W P3"},
                                           Spelled{1, 2, true, "P1 W P1"}),
                         [](const auto& info) {
                             return "Pages" + std::to_string(info.param.pages) + "Copies" +
                                    std::to_string(info.param.copies) +
                                    (info.param.duplex ? "Duplex" : "Simplex");
                         });

// Regression: a lone last front page of a duplex job alternated white and
// page for `copies` passes in all, so from three copies on it came out fewer
// times than asked (copies 3: P W P W).  Every copy of the sheet comes out,
// each but the last with its white back.
TEST(Copies, LoneDuplexPageComesOutOncePerCopy) {
    TempDir dir;
    const std::pair<int, const char*> cases[] = {{3, "P1 W P1 W P1"}, {4, "P1 W P1 W P1 W P1"}};
    for (const auto& [copies, sequence] : cases) {
        const SequenceRun s = printSequence(dir, 1, true, std::to_string(copies), "");
        ASSERT_TRUE(s.result.run.exitedWith(0)) << s.result.run.describe();
        EXPECT_EQ(s.sequence, sequence) << "copies " << copies;
    }
    const SequenceRun three = printSequence(dir, 3, true, "3", "");
    EXPECT_EQ(three.sequence, "P1 P2 P1 P2 P1 P2 P3 W P3 W P3");
}

// --- When the filter makes no copies -----------------------------------------------

// A ticket asking for collation (any value but "false", the bare option
// included) leaves the copies to the printer: each page is printed once and
// the PJL header says so.  "Collate=false" is the contrast.
TEST(Copies, CollatedCopiesPrintEachPageOnce) {
    TempDir dir;
    for (const bool duplex : {false, true}) {
        for (const char* ticket : {"Collate=true", "collate", "Collate=True", "collate=yes"}) {
            SCOPED_TRACE(std::string(ticket) + (duplex ? " duplex" : " simplex"));
            const SequenceRun s = printSequence(dir, 3, duplex, "3", ticket);
            ASSERT_TRUE(s.result.run.exitedWith(0)) << s.result.run.describe();
            EXPECT_EQ(s.sequence, "P1 P2 P3");
            EXPECT_EQ(s.result.job.pjl("LCOLLATION"), "ON");
        }
    }
    const SequenceRun uncollated = printSequence(dir, 2, false, "2", "Collate=false");
    EXPECT_EQ(uncollated.sequence, "P1 P1 P2 P2");
    EXPECT_EQ(uncollated.result.job.pjl("LCOLLATION"), "OFF");
}

// One copy is one copy, whatever the header's NumCopies says.
TEST(Copies, SingleCopyPrintsEachPageOnce) {
    TempDir dir;
    harness::RasterSpec spec = photoPages(3, true);
    for (harness::PageSpec& page : spec.pages)
        page.numCopies = 4;
    const JobResult r = pagetest::runJob(dir, spec);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(pagetest::sideSequence(r.sides, spec.pages[0]), "P1 P2 P3");
}

// A banner page is printed once and ends the job: no copies of it, and the
// pages after it are not read.
TEST(Copies, BannerPageMakesNoCopies) {
    TempDir dir;
    for (const bool duplex : {false, true}) {
        SCOPED_TRACE(duplex ? "duplex" : "simplex");
        harness::FilterRunOptions o;
        o.cupsFiletype = "job-sheet";
        const SequenceRun s = printSequence(dir, 2, duplex, "3", "", o);
        ASSERT_TRUE(s.result.run.exitedWith(0)) << s.result.run.describe();
        EXPECT_TRUE(s.result.job.complete);
        EXPECT_EQ(s.sequence, "P1");
        EXPECT_EQ(s.result.errLines("PAGE: ").size(), 1u);
    }
}

// Regression: a page whose raster ends inside it (a cancel, or pdftoraster
// failing) goes out once, completed in white, but no copies are made of it:
// they used to come out as extra, mostly white sheets.
TEST(Copies, PageCutShortIsNotCopied) {
    TempDir dir;
    for (const bool duplex : {false, true}) {
        SCOPED_TRACE(duplex ? "duplex" : "simplex");
        harness::RasterSpec spec = photoPages(3, duplex);
        spec.endMidPage = harness::EndMidPage{3, 120};
        harness::FilterRunOptions o;
        o.args = harness::filterArgs("3", "");
        const JobResult r = pagetest::runJob(dir, spec, o);
        // The cut raster fails the job, after a closed session.
        ASSERT_TRUE(r.run.exitedWith(1)) << r.run.describe();
        EXPECT_TRUE(r.job.complete);
        EXPECT_EQ(r.sides.size(), 7u);
        EXPECT_EQ(pagetest::sideSequence(r.sides, spec.pages[0]),
                  duplex ? "P1 P2 P1 P2 P1 P2 P3" : "P1 P1 P1 P2 P2 P2 P3");
        EXPECT_EQ(r.errLines("DEBUG: No copies are made of page 3").size(), 1u) << r.run.err;
    }
}

// --- Memory ---------------------------------------------------------------------------

// Uncollated duplex copies keep a whole sheet (two Letter pages at 600 dpi)
// in memory.  The peak is reported; the bound only catches a runaway.
TEST(Copies, DuplexCopiesOfLetterPagesPeakMemory) {
    TempDir dir;
    for (const Pattern pattern : {Pattern::Text, Pattern::Photo}) {
        const char* name = pattern == Pattern::Text ? "text" : "photo";
        SCOPED_TRACE(name);
        harness::PageSpec page;  // 2550 x 3300
        page.resX = page.resY = 600;
        page.duplex = true;
        page.pattern = pattern;
        const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 2);
        harness::FilterRunOptions o;
        o.args = harness::filterArgs("3", "PageSize=Letter");
        const JobResult r = pagetest::runJob(dir, spec, o, false);
        ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
        EXPECT_TRUE(r.job.complete);
        EXPECT_EQ(r.issues(), "");
        EXPECT_EQ(r.job.pages.size(), 6u);
        std::printf("[ RSS      ] duplex Letter colour %s, 2 pages, copies 3: peak %ld KiB\n", name,
                    r.run.maxRssKb);
        RecordProperty(std::string(name) + "_peak_rss_kib", std::to_string(r.run.maxRssKb));
        EXPECT_GT(r.run.maxRssKb, 0);
        EXPECT_LT(r.run.maxRssKb, 1024L * 1024L);  // 1 GiB
    }
}

}  // namespace
