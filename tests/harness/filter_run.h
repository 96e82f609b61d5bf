// Runs the built filter as the spooler would, for whole-filter tests.
//
// runFilter() makes a temporary folder, installs qz-fake-pdftoraster as
// <tmp>/serverbin/filter/pdftoraster (CUPS_SERVERBIN points there), hands it
// the raster to serve, starts the filter with the given arguments, environment
// and standard input (a pipe), and collects standard output and standard error
// concurrently until the filter and everything it started have finished, or a
// hard time-out kills them.  The filter runs in a process group of its own,
// with /dev/null on descriptors 3 and 4 (the back and side channel, as under
// cupsfilter; descriptor 3 may instead be a pipe the run feeds, or closed)
// and TMPDIR pointing into the temporary folder, which is removed afterwards.
//
// A test executable that runs the filter links qz_harness, carries the label
// "filter" and depends on the filter's build:
//
//     qz_test(myfilter_test SOURCES myfilter_test.cpp LIBS qz_harness LABELS filter)
//     add_dependencies(myfilter_test quenzel)
//
// Example:
//
//     #include "tests/harness/filter_run.h"
//
//     TEST(Filter, PrintsThreePages) {
//         harness::FilterRunOptions o;
//         o.args = harness::filterArgs("1", "");            // 6 arguments: PDF on stdin
//         o.stdinBytes = harness::readFile(QZ_TEST_DATA_DIR "/sample.pdf");
//         harness::PageSpec page;
//         page.pattern = harness::Pattern::Text;
//         o.raster = harness::RasterSpec::uniform(page, 3);
//         o.ppd = harness::minimalPpdPath();                 // or leave unset
//         harness::FilterRun r = harness::runFilter(o);
//         ASSERT_FALSE(r.timedOut) << r.err;
//         EXPECT_TRUE(r.exitedWith(0)) << r.describe();
//         ASSERT_EQ(r.fakeCalls.size(), 1u);
//         EXPECT_EQ(r.fakeCalls[0].size(), 7u);               // argv0..options + input
//         EXPECT_EQ(r.fakeInput, o.stdinBytes);               // the PDF reached pdftoraster
//         EXPECT_FALSE(r.inputExistsAfter);                   // temp copy unlinked
//         EXPECT_NE(r.err.find("PAGE: 3 1"), std::string::npos);
//     }
//
// Cancel mid-job the way the spooler does (SIGTERM to the whole group):
//
//     o.fakeDelayMs = 20;  o.fakeChunk = 256 * 1024;   // slow raster
//     o.sigtermWhenStderrContains = "PAGE: 3";
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness/raster.h"

namespace harness {

// The built filter, `${QZ_BINARY_DIR}/quenzel`.
std::string quenzelPath();
// The fake pdftoraster executable.
std::string fakePdftorasterPath();
// The source tree, and the demo printer description in it.
std::string sourceDir();
std::string minimalPpdPath();

// argv for the filter: {"quenzel-test", "42", "tester", "test title", copies,
// options} plus `file` when given (7 entries).
std::vector<std::string> filterArgs(const std::string& copies = "1",
                                    const std::string& options = "",
                                    const std::optional<std::string>& file = std::nullopt);

std::vector<uint8_t> readFile(const std::string& path);

struct FilterRunOptions {
    // Program and complete argument vector, argv[0] included.  Any count.
    std::string binary = quenzelPath();
    std::vector<std::string> args = filterArgs();
    std::vector<uint8_t> stdinBytes;  // written to the filter's standard input, then closed

    // Environment the spooler sets; std::nullopt leaves the variable unset.
    // Everything else is inherited from the test process.
    std::optional<std::string> ppd;
    std::optional<std::string> deviceUri;
    std::optional<std::string> cupsFiletype;
    std::vector<std::pair<std::string, std::string>> extraEnv;

    // CUPS_SERVERBIN: std::nullopt installs the fake pdftoraster in the
    // temporary folder; "" leaves CUPS_SERVERBIN unset (the filter's default
    // /usr/lib/cups, the real pdftoraster); any other text is used as is.
    std::optional<std::string> serverBin;

    // What the fake pdftoraster serves: `raster` is written to a file first;
    // otherwise `rasterFile` is served as is; with neither it writes nothing.
    std::optional<RasterSpec> raster;
    std::string rasterFile;
    std::optional<int> fakeExit;    // exit status after writing (default 0)
    std::optional<int> fakeSignal;  // kill itself with this signal after writing
    int fakeDelayMs = 0;            // pause before each chunk of output
    int fakeChunk = 65536;          // bytes per chunk

    // Hard limit for the whole run; then the group is killed with SIGKILL.
    std::chrono::milliseconds timeout{60000};
    // Send SIGTERM once standard error contains this text (empty: never) ...
    std::string sigtermWhenStderrContains;
    // ... or this long after the start.
    std::optional<std::chrono::milliseconds> sigtermAfter;
    // SIGTERM to the whole process group (the spooler's way, so the raster
    // source dies too) or to the filter alone.
    bool sigtermToGroup = true;
    // Close our end of standard output after this many bytes (the printer
    // went away); later writes by the filter fail with EPIPE.
    std::optional<size_t> closeStdoutAfter;
    // Stop reading standard output after this many bytes but keep it open
    // (a backend that hangs): the filter's writes then block.
    std::optional<size_t> stallStdoutAfter;
    // Keep the temporary folder (its path is in FilterRun::tempDir).
    bool keepTempDir = false;

    // The back channel, descriptor 3; /dev/null unless one of these is set.
    // backChannelWrites: a pipe, blocking at the filter's end (a reader must
    // not count on O_NONBLOCK).  The first piece goes in at once; each further
    // piece only after the filter has read everything written before (the
    // pipe is empty) and backChannelPause has passed since, so every piece
    // reaches the filter in reads of its own.  Our write end stays open until
    // the filter has exited, as a backend's would: after the last piece the
    // pipe is quiet, never at end of file.  No pieces at all: a quiet pipe.
    std::optional<std::vector<std::vector<uint8_t>>> backChannelWrites;
    std::chrono::milliseconds backChannelPause{200};
    // Descriptor 3 closed in the filter (wins over backChannelWrites).
    bool closeBackChannel = false;
};

struct FilterRun {
    std::vector<uint8_t> out;  // standard output (up to closeStdoutAfter)
    std::string err;           // standard error
    bool started = false;      // false: fork or setup failed (see err)
    bool exited = false;       // normal exit, status in exitCode
    int exitCode = -1;
    int termSignal = 0;     // signal that ended the filter, 0 if none
    bool timedOut = false;  // killed at the time-out
    bool sigtermSent = false;
    // Something the filter started (its pdftoraster) still held standard
    // output or error 2 s after the filter exited; it was killed.
    bool groupOutlived = false;
    std::chrono::milliseconds elapsed{0};
    // Peak resident set of the filter in KiB (ru_maxrss from wait4); it
    // covers the children the filter collected itself, such as its
    // pdftoraster.  0 when the filter was not reaped.
    long maxRssKb = 0;
    // User plus system CPU time of the filter and the children it collected.
    std::chrono::milliseconds cpuTime{0};
    // Back-channel pieces written completely.
    size_t backChannelPiecesWritten = 0;

    // One entry per start of the fake pdftoraster: its argument vector.
    std::vector<std::vector<std::string>> fakeCalls;
    // The input file the fake was given (its last argument), its contents as
    // the fake saw them, and whether the file still exists after the run.
    std::string inputPath;
    std::vector<uint8_t> fakeInput;
    bool inputExistsAfter = false;
    // Files the filter left in its TMPDIR.
    std::vector<std::string> tmpLeftovers;
    std::string tempDir;  // removed unless keepTempDir

    bool exitedWith(int code) const { return exited && exitCode == code; }
    // "exit 0", "signal 15", "timed out" and the tail of standard error.
    std::string describe() const;
};

FilterRun runFilter(const FilterRunOptions& options);

}  // namespace harness
