// The job run as the spooler sees it: arguments, the PDF copy, the raster
// child, exit statuses, cancel, and a printer that goes away.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/harness/filter_run.h"
#include "tests/harness/jobtext.h"
#include "tests/harness/tempdir.h"

namespace {

using harness::FilterRun;
using harness::FilterRunOptions;

using harness::contains;
using harness::countOf;
using harness::endsWithTrailer;
using harness::kUel;
using harness::outText;
using harness::smallJob;
using harness::smallPage;

TEST(JobFrameArguments, WrongArgumentCountsAreUsageErrorsBeforeAnythingStarts) {
    for (size_t count : {5u, 8u}) {
        FilterRunOptions o = smallJob(1);
        o.args = harness::filterArgs("1", "", std::string("/nonexistent.pdf"));
        o.args.resize(count, "extra");
        FilterRun r = harness::runFilter(o);
        EXPECT_TRUE(r.exitedWith(1)) << r.describe();
        EXPECT_TRUE(
            contains(r.err, "Usage: quenzel-test job user title copies options [filename]\n"))
            << r.err;
        EXPECT_TRUE(r.fakeCalls.empty());
        EXPECT_TRUE(r.tmpLeftovers.empty());
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(JobFrameInput, PdfOnStandardInputIsCopiedPassedLastAndRemoved) {
    FilterRunOptions o = smallJob(2);
    o.args = harness::filterArgs("1", "media=A4");
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    ASSERT_EQ(r.fakeCalls.size(), 1u);
    const auto& argv = r.fakeCalls[0];
    ASSERT_EQ(argv.size(), 7u);
    EXPECT_EQ(argv[0], "quenzel-test");
    EXPECT_EQ(argv[1], "42");
    EXPECT_EQ(argv[5], "media=A4");
    EXPECT_EQ(argv[6], r.inputPath);
    EXPECT_EQ(r.fakeInput, o.stdinBytes);
    EXPECT_FALSE(r.inputExistsAfter);
    EXPECT_TRUE(r.tmpLeftovers.empty());
    EXPECT_TRUE(contains(r.err, "DEBUG: quenzel - copying to temp print file \""));
    EXPECT_TRUE(contains(r.err, "END MAIN\n"));
    EXPECT_TRUE(contains(r.err, "IS terminated 0\n"));
}

TEST(JobFrameInput, NamedPdfIsPassedAsIsAndKept) {
    const harness::TempDir dir;
    const std::string pdf = dir.write("in.pdf", std::string("%PDF-1.4\n"));
    FilterRunOptions o = smallJob(1);
    o.args = harness::filterArgs("1", "", pdf);
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    ASSERT_EQ(r.fakeCalls.size(), 1u);
    EXPECT_EQ(r.fakeCalls[0].back(), pdf);
    EXPECT_TRUE(std::filesystem::exists(pdf));
    EXPECT_FALSE(contains(r.err, "copying to temp print file"));
}

// A full disk while the PDF is copied is an error, not a silently truncated
// PDF: the file size limit makes the copy's write fail as a full disk would.
TEST(JobFrameInput, FailedCopyOfThePdfIsReportedAndCleanedUp) {
    FilterRunOptions o = smallJob(1);
    o.stdinBytes.assign(64 * 1024, 'x');
    std::vector<std::string> args = harness::filterArgs("1", "");
    o.binary = "/bin/sh";
    o.args = {"sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"", harness::quenzelPath()};
    o.args.insert(o.args.end(), args.begin() + 1, args.end());
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(1)) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: Unable to copy PDF file!: File too large\n")) << r.err;
    EXPECT_TRUE(r.fakeCalls.empty());
    EXPECT_TRUE(r.tmpLeftovers.empty());
    EXPECT_TRUE(r.out.empty());
}

TEST(JobFrameChild, MissingPdftorasterFailsTheJob) {
    FilterRunOptions o = smallJob(1);
    const harness::TempDir empty;
    o.serverBin = empty.path();
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exited && r.exitCode != 0) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: Unable to exec pdftoraster!: No such file or directory"))
        << r.err;
    EXPECT_FALSE(r.inputExistsAfter);
}

TEST(JobFrameChild, FailingPdftorasterFailsTheJobEvenAfterPages) {
    FilterRunOptions o = smallJob(2);
    o.fakeExit = 3;
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(1)) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: pdftoraster failed with exit status 3\n")) << r.err;
    // What was printed is still a complete job.
    EXPECT_TRUE(endsWithTrailer(r));
}

TEST(JobFrameChild, PdftorasterKilledBySignalFailsTheJob) {
    FilterRunOptions o = smallJob(1);
    o.fakeSignal = SIGSEGV;
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(1)) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: pdftoraster was killed by signal 11\n")) << r.err;
}

// Regression: a raster libcups refused, or one cut inside a header or a page,
// ended the page loop like the end of the stream: an empty or short job with
// exit 0.  Now the job fails with a line that says what was wrong, whatever
// the timing; and a job that yields no page at all sends the printer nothing.
TEST(JobFrameRaster, RejectedMissingOrCutRasterFailsTheJobWithItsReason) {
    harness::RasterSpec two = harness::RasterSpec::uniform(smallPage(), 2);
    const std::vector<uint8_t> good = harness::rasterBytes(two);
    ASSERT_FALSE(good.empty());
    const size_t headerBytes = 4 + sizeof(cups_page_header2_t);
    const size_t pageBytes = (good.size() - 4) / 2;
    auto withZeroHeight = [&](size_t page) {
        std::vector<uint8_t> b = good;
        size_t at = 4 + page * pageBytes + offsetof(cups_page_header2_t, cupsHeight);
        std::memset(b.data() + at, 0, 4);
        return b;
    };
    std::vector<uint8_t> junk = good;
    junk.insert(junk.end(), 10, 'x');
    std::vector<uint8_t> badSync = good;
    badSync[0] = 'Z';
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
        bool printed;  // the first page went out before the fault
    };
    const Case cases[] = {
        {"empty stream", {}, "pdftoraster gave no page", false},
        {"bad sync word", badSync, "does not start with a CUPS raster sync word", false},
        {"zero height on page 1", withZeroHeight(0), "raster header of page 1 is invalid", false},
        {"zero height on page 2", withZeroHeight(1), "raster header of page 2 is invalid", true},
        {"junk after the last page", junk, "ended inside the header of page 3", true},
        {"cut inside page 2", std::vector<uint8_t>(good.begin(), good.end() - 5000),
         "ended inside page 2", true},
        {"cut inside the first header",
         std::vector<uint8_t>(good.begin(), good.begin() + headerBytes - 100),
         "ended inside the header of page 1", false},
    };
    const harness::TempDir dir;
    for (const Case& c : cases) {
        FilterRunOptions o = smallJob(1);
        o.raster.reset();
        if (!c.bytes.empty()) o.rasterFile = dir.write("case.ras", c.bytes);
        FilterRun r = harness::runFilter(o);
        EXPECT_TRUE(r.exitedWith(1)) << c.what << ": " << r.describe();
        EXPECT_TRUE(contains(r.err, std::string("ERROR: Unable to print this job: ")))
            << c.what << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.reason)) << c.what << ": " << r.err;
        // Nothing at all for a job without a page; a closed session otherwise.
        EXPECT_EQ(r.out.empty(), !c.printed) << c.what;
        if (c.printed) {
            EXPECT_TRUE(endsWithTrailer(r)) << c.what;
        }
    }
    // A PDF pdftoraster could not read: its own failure is reported too.
    FilterRunOptions o = smallJob(1);
    o.raster.reset();
    o.fakeExit = 1;
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(1)) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: pdftoraster failed with exit status 1\n")) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(JobFrameRaster, RasterTheFilterCannotCarryIsRefusedWithoutOutput) {
    struct Case {
        const char* what;
        unsigned colorSpace, bitsPerColor, bitsPerPixel;
    };
    for (Case c :
         {Case{"16 bits per colour", CUPS_CSPACE_RGB, 16, 48},
          Case{"CMYK", CUPS_CSPACE_CMYK, 8, 32}, Case{"1-bit black", CUPS_CSPACE_K, 1, 1}}) {
        FilterRunOptions o = smallJob(1);
        o.raster->pages[0].colorSpace = c.colorSpace;
        o.raster->pages[0].bitsPerColor = c.bitsPerColor;
        o.raster->pages[0].bitsPerPixel = c.bitsPerPixel;
        FilterRun r = harness::runFilter(o);
        EXPECT_TRUE(r.exitedWith(1)) << c.what << ": " << r.describe();
        EXPECT_TRUE(contains(r.err, "ERROR: Unable to print this job: ")) << c.what << r.err;
        EXPECT_TRUE(r.out.empty()) << c.what;
        EXPECT_FALSE(r.groupOutlived) << c.what;
    }
}

TEST(JobFrameEnvironment, NoDeviceUriAndNoFileTypeStillPrint) {
    FilterRunOptions o = smallJob(1);
    o.deviceUri.reset();
    o.cupsFiletype.reset();
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(endsWithTrailer(r));
}

TEST(JobFrameEnvironment, BannerPageJobPrintsOnePageWithoutBinding) {
    FilterRunOptions o = smallJob(3);
    o.cupsFiletype = "job-sheet";
    for (auto& page : o.raster->pages)
        page.duplex = true;
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(countOf(r.err, "PAGE: "), 1u) << r.err;
    EXPECT_TRUE(contains(outText(r), "@PJL SET DUPLEX=ON\n"));
    EXPECT_FALSE(contains(outText(r), "BINDING"));
    EXPECT_TRUE(endsWithTrailer(r));
}

TEST(JobFrameEnvironment, UsbJobStartsWithTheStatusPrologue) {
    FilterRunOptions o = smallJob(1);
    o.deviceUri = "usb://Maker/Model?serial=1";
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    ASSERT_GT(r.out.size(), 72u);
    EXPECT_EQ(r.out[0], 0xA5);
    EXPECT_EQ(std::string(r.out.begin() + 72, r.out.begin() + 81), kUel);
}

// pdftoraster's allocator is asked for huge pages (it renders several times
// faster); tunables of the admin's stay, and so does their own choice.
TEST(JobFrameEnvironment, PdftorasterGetsHugePagesUnlessTheAdminChose) {
    std::ifstream size("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
    unsigned long long bytes = 0;
    if (!(size >> bytes) || bytes == 0 || bytes > 2 * 1024 * 1024)
        GTEST_SKIP() << "no transparent huge pages of 2 MiB or less here";
    const std::pair<const char*, const char*> cases[] = {
        {"glibc.malloc.arena_max=2", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"},
        {"glibc.malloc.hugetlb=0", "glibc.malloc.hugetlb=0"},
    };
    for (const auto& [ours, childs] : cases) {
        FilterRunOptions o = smallJob(1);
        o.extraEnv = {{"GLIBC_TUNABLES", ours}, {"QZ_FAKE_SHOW_ENV", "GLIBC_TUNABLES"}};
        FilterRun r = harness::runFilter(o);
        EXPECT_TRUE(r.exitedWith(0)) << r.describe();
        EXPECT_TRUE(contains(r.err, std::string("DEBUG: GLIBC_TUNABLES=") + childs + "\n"))
            << ours << "\n"
            << r.err;
    }
}

// The spooler cancels with SIGTERM to the whole process group: the page in
// hand is finished, the session is closed, and the job ends as a success.
TEST(JobFrameCancel, SigtermMidJobFinishesThePageAndClosesTheSession) {
    FilterRunOptions o = smallJob(10);
    o.fakeDelayMs = 30;
    o.fakeChunk = 100 * 1024;
    o.sigtermWhenStderrContains = "PAGE: 3 ";
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.sigtermSent) << r.describe();
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(contains(r.err, "IS terminated 1\n")) << r.err;
    EXPECT_LT(countOf(r.err, "PAGE: "), 10u);
    EXPECT_TRUE(endsWithTrailer(r));
    EXPECT_FALSE(r.groupOutlived);
}

// Regression: the SIGTERM handler only set a flag that was looked at between
// pages, so a child that stalled (mid-page, or before it opened the raster)
// held the job until the spooler's SIGKILL.  Every wait for raster data now
// looks at the flag, and the child is stopped: the job ends at once with a
// closed session and exit 0.  SIGTERM goes to the filter alone here, so the
// stalled child lives on unless the filter ends it.
TEST(JobFrameCancel, CancelEndsTheJobWhateverTheChildDoes) {
    {
        FilterRunOptions o = smallJob(3);
        o.fakeDelayMs = 4000;  // each 20 kB: a page takes a minute to come
        o.fakeChunk = 20000;
        o.sigtermWhenStderrContains = "PAGE: 1 ";
        o.sigtermToGroup = false;
        o.timeout = std::chrono::seconds(30);
        FilterRun r = harness::runFilter(o);
        ASSERT_TRUE(r.sigtermSent) << r.describe();
        EXPECT_TRUE(r.exitedWith(0)) << "stalled mid-page: " << r.describe();
        EXPECT_TRUE(contains(r.err, "IS terminated 1\n")) << r.err;
        EXPECT_TRUE(endsWithTrailer(r));
        EXPECT_FALSE(r.groupOutlived);
    }
    {
        FilterRunOptions o = smallJob(1);
        o.fakeDelayMs = 60000;  // the raster never comes
        o.sigtermWhenStderrContains = "ticketArg = ";
        o.sigtermToGroup = false;
        o.timeout = std::chrono::seconds(30);
        FilterRun r = harness::runFilter(o);
        ASSERT_TRUE(r.sigtermSent) << r.describe();
        EXPECT_TRUE(r.exitedWith(0)) << "raster never opened: " << r.describe();
        EXPECT_FALSE(contains(r.err, "PAGE: ")) << r.err;
        EXPECT_TRUE(endsWithTrailer(r));
        EXPECT_FALSE(r.groupOutlived);
    }
    {
        // The backend stops reading but stays: the output blocks after the
        // cancel, and the rest of the job is dropped instead of waiting for
        // the spooler's SIGKILL.
        FilterRunOptions o = smallJob(3);
        harness::PageSpec noisy = smallPage();
        noisy.width = 1600;
        noisy.height = 1200;
        noisy.pattern = harness::Pattern::Noise;
        o.raster = harness::RasterSpec::uniform(noisy, 3);
        o.stallStdoutAfter = 1;
        o.sigtermWhenStderrContains = "PAGE: 3 ";
        o.timeout = std::chrono::seconds(30);
        FilterRun r = harness::runFilter(o);
        ASSERT_TRUE(r.sigtermSent) << r.describe();
        EXPECT_TRUE(r.exitedWith(0)) << "output stalled: " << r.describe();
        EXPECT_TRUE(contains(r.err, "DEBUG: The output took no data")) << r.err;
        EXPECT_FALSE(contains(r.err, "ERROR:")) << r.err;
    }
}

// Copies come as argument 4; the spooler sends 1 to 9999.  Anything else is
// refused before any work starts (the values refused are the parser's unit
// test's; one is enough to show the refusal is wired in).
TEST(JobFrameArguments, CopiesOutsideOneTo9999AreRefused) {
    FilterRunOptions o = smallJob(1);
    o.args = harness::filterArgs("10000");
    FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(1)) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: Invalid copies count \"10000\" (1 to 9999)\n")) << r.err;
    EXPECT_TRUE(r.fakeCalls.empty());
    EXPECT_TRUE(r.out.empty());
}

TEST(JobFrameOutput, PrinterThatGoesAwayEndsTheJobWithAnError) {
    FilterRunOptions o = smallJob(3);
    o.raster->pages[0].width = 2000;
    o.raster->pages[0].height = 3000;
    o.raster->pages[0].pattern =
        harness::Pattern::Noise;  // big enough to pass the batching threshold
    o.closeStdoutAfter = 1000;
    FilterRun r = harness::runFilter(o);
    EXPECT_FALSE(r.timedOut) << r.describe();
    EXPECT_TRUE(r.exited && r.exitCode != 0) << r.describe();
    EXPECT_TRUE(contains(r.err, "ERROR: Unable to write print data: Broken pipe\n")) << r.err;
}

// pdftoraster writes to the same log while our debug texts may end without a
// line feed: its lines come through our writer and keep their prefixes.
TEST(JobFrameMessages, PdftorasterMessagesKeepTheirOwnLines) {
    FilterRunOptions o = smallJob(2);
    o.extraEnv = {{"QZ_FAKE_STDERR", "DEBUG: from the child\nERROR: child trouble\n"}};
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_EQ(countOf(r.err, "\nDEBUG: from the child\n"), 2u) << r.err;
    EXPECT_EQ(countOf(r.err, "\nERROR: child trouble\n"), 2u) << r.err;
}

// Regression: an option value with a line feed became a spooler line of its
// own ("ticketArg = %s" printed it raw).  Every line of ours is whole (which
// control bytes are replaced, and how, is the message writer's unit test).
TEST(JobFrameMessages, SpoolerLinesStartOnTheirOwnLineAndCannotBeForged) {
    FilterRunOptions o = smallJob(2);
    o.args = harness::filterArgs("2", "Collate=false x=\"a\nSTATE: +media-empty-error\"");
    FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(contains(r.err, "\nPAGE: 1 1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nPAGE: 2 1\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nticketArg = Collate=false x=\"a STATE: +media-empty-error\"\n"))
        << r.err;
    EXPECT_FALSE(contains(r.err, "\nSTATE:")) << r.err;
    EXPECT_TRUE(contains(r.err, "\ncollatedFlag =0,2\n")) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
}

}  // namespace
