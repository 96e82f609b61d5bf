// runFilter and the fake pdftoraster, exercised with small stand-in filters
// (shell scripts, cat, sleep), so that nothing here depends on the real filter.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>

#include "tests/harness/filter_run.h"

namespace {

using namespace std::chrono_literals;

// A stand-in filter in the shape of the real one: copies standard input to a
// temporary file, runs $CUPS_SERVERBIN/filter/pdftoraster on it with its own
// arguments 1-5 (a shell cannot choose the child's argv[0]: it is the path),
// passes the raster on, reports the child's status on standard error, and
// removes its file unless KEEP_INPUT is set.
constexpr const char* kShellFilter = R"sh(
in="$TMPDIR/input-$$.pdf"
cat > "$in"
"$CUPS_SERVERBIN/filter/pdftoraster" "$1" "$2" "$3" "$4" "$5" "$in"
echo "child status $?" >&2
[ -n "$KEEP_INPUT" ] || rm -f "$in"
)sh";

harness::FilterRunOptions shellFilter(const std::vector<std::string>& filterArgs) {
    harness::FilterRunOptions o;
    o.binary = "/bin/sh";
    o.args = {"/bin/sh", "-c", kShellFilter};
    o.args.insert(o.args.end(), filterArgs.begin(), filterArgs.end());
    o.timeout = 20s;
    return o;
}

harness::RasterSpec smallRaster(int pages) {
    harness::PageSpec page;
    page.width = 96;
    page.height = 64;
    page.resX = page.resY = 72;
    page.pattern = harness::Pattern::Gradient;
    return harness::RasterSpec::uniform(page, pages);
}

TEST(FakePdftoraster, RecordsArgumentsAndServesTheRaster) {
    harness::FilterRunOptions o = shellFilter(harness::filterArgs("2", "Duplex=DuplexTumble"));
    o.args[6] = "title with\nnewline \\ and backslash";  // sh -c script $0 $1 ...: $3
    o.stdinBytes = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 0, 0xFF};
    o.raster = smallRaster(2);
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(r.out == harness::rasterBytes(*o.raster));
    ASSERT_EQ(r.fakeCalls.size(), 1u);
    const std::vector<std::string>& argv = r.fakeCalls[0];
    ASSERT_EQ(argv.size(), 7u);
    EXPECT_EQ(argv[0], r.tempDir + "/serverbin/filter/pdftoraster");
    EXPECT_EQ(argv[1], "42");
    EXPECT_EQ(argv[3], "title with\nnewline \\ and backslash");
    EXPECT_EQ(argv[4], "2");
    EXPECT_EQ(argv[5], "Duplex=DuplexTumble");
    EXPECT_EQ(r.inputPath, argv[6]);
    EXPECT_TRUE(r.fakeInput == o.stdinBytes);
    EXPECT_FALSE(r.inputExistsAfter);
    EXPECT_TRUE(r.tmpLeftovers.empty());
    EXPECT_NE(r.err.find("child status 0"), std::string::npos);
}

TEST(FakePdftoraster, ReportsAFileLeftBehind) {
    harness::FilterRunOptions o = shellFilter(harness::filterArgs());
    o.extraEnv = {{"KEEP_INPUT", "1"}};
    o.stdinBytes = {'x'};
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(r.out.empty());  // no raster given: serves nothing
    // The file is looked at before the temporary folder goes.
    EXPECT_TRUE(r.inputExistsAfter);
    ASSERT_EQ(r.tmpLeftovers.size(), 1u);
    EXPECT_EQ(r.tmpLeftovers[0].rfind("input-", 0), 0u);
}

TEST(FakePdftoraster, ExitsAndDiesAsAsked) {
    harness::FilterRunOptions o = shellFilter(harness::filterArgs());
    o.raster = smallRaster(1);
    o.fakeExit = 3;
    harness::FilterRun r = harness::runFilter(o);
    EXPECT_NE(r.err.find("child status 3"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out == harness::rasterBytes(*o.raster));  // written before the exit

    o.fakeExit.reset();
    o.fakeSignal = SIGUSR1;
    r = harness::runFilter(o);
    EXPECT_NE(r.err.find("child status " + std::to_string(128 + SIGUSR1)), std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out == harness::rasterBytes(*o.raster));
}

TEST(FakePdftoraster, ServesARasterFileAsIs) {
    const std::string path = harness::sourceDir() + "/tests/data/sample.pdf";
    harness::FilterRunOptions o = shellFilter(harness::filterArgs());
    o.rasterFile = path;  // any bytes will do
    o.fakeChunk = 4096;
    o.fakeDelayMs = 1;
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(r.out == harness::readFile(path));
}

TEST(FilterRunner, SetsOrUnsetsTheSpoolerEnvironment) {
    constexpr const char* kScript =
        "echo \"PPD=${PPD-unset} URI=${DEVICE_URI-unset} FT=${CUPS_FILETYPE-unset} "
        "SB=${CUPS_SERVERBIN-unset} X=${EXTRA-unset}\" >&2; "
        "echo \"fd3=$(readlink /proc/$$/fd/3) fd4=$(readlink /proc/$$/fd/4)\" >&2; "
        "ls /proc/$$/fd >&2";
    harness::FilterRunOptions o;
    o.binary = "/bin/sh";
    o.args = {"sh", "-c", kScript};
    o.serverBin = "";
    harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_NE(r.err.find("PPD=unset URI=unset FT=unset SB=unset X=unset"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("fd3=/dev/null fd4=/dev/null"), std::string::npos) << r.err;

    o.ppd = "/x/y.ppd";
    o.deviceUri = "usb://Quenzel/Test";
    o.cupsFiletype = "job-sheet";
    o.serverBin = "/opt/sb";
    o.extraEnv = {{"EXTRA", "1"}};
    r = harness::runFilter(o);
    EXPECT_NE(r.err.find("PPD=/x/y.ppd URI=usb://Quenzel/Test FT=job-sheet SB=/opt/sb X=1"),
              std::string::npos)
        << r.err;
}

TEST(FilterRunner, NoDescriptorOfTheTestLeaksIntoTheFilter) {
    harness::FilterRunOptions o;
    o.binary = "/bin/ls";
    o.args = {"ls", "/proc/self/fd"};
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    // 0-4, plus the one ls opens to list the folder.
    const std::string out(r.out.begin(), r.out.end());
    EXPECT_EQ(out.rfind("0\n1\n2\n3\n4\n", 0), 0u) << out;
    EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 6);
}

TEST(FilterRunner, LargeInputAndOutputFlowTogether) {
    // cat writes while it still reads: a runner that fed all input first would deadlock.
    harness::FilterRunOptions o;
    o.binary = "/bin/cat";
    o.args = {"cat"};
    o.stdinBytes.resize(3 << 20);
    for (size_t i = 0; i < o.stdinBytes.size(); ++i)
        o.stdinBytes[i] = static_cast<uint8_t>(i * 7 + i / 4099);
    o.timeout = 30s;
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(r.out == o.stdinBytes);
}

TEST(FilterRunner, TimeOutKillsAHangingFilter) {
    harness::FilterRunOptions o;
    o.binary = "/bin/sleep";
    o.args = {"sleep", "60"};
    o.timeout = 300ms;
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.termSignal, SIGKILL);
    EXPECT_LT(r.elapsed, 30s);  // far below the sleep: it was killed, not waited for
    EXPECT_NE(r.describe().find("timed out"), std::string::npos);
}

TEST(FilterRunner, TimeOutAlsoKillsWhatTheFilterStarted) {
    // The shell exits at once; its background child keeps standard error open.
    harness::FilterRunOptions o;
    o.binary = "/bin/sh";
    o.args = {"sh", "-c", "sleep 60 & echo started >&2"};
    o.timeout = 20s;
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_TRUE(r.groupOutlived);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(r.elapsed, 15s);
}

TEST(FilterRunner, SigtermWhenStandardErrorShowsAText) {
    harness::FilterRunOptions o;
    o.binary = "/bin/sh";
    o.args = {"sh", "-c",
              "trap 'echo got TERM >&2; exit 0' TERM; echo 'PAGE: 1 1' >&2; "
              "echo 'PAGE: 3 1' >&2; while :; do sleep 0.05; done"};
    o.sigtermWhenStderrContains = "PAGE: 3";
    o.timeout = 20s;
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.sigtermSent);
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
    EXPECT_NE(r.err.find("got TERM"), std::string::npos);
}

TEST(FilterRunner, SigtermAfterADelayReachesTheWholeGroup) {
    // The shell ignores nothing; its sleeping child must die of the group signal too,
    // or the run would wait for it.
    harness::FilterRunOptions o;
    o.binary = "/bin/sh";
    o.args = {"sh", "-c", "sleep 60; echo not reached >&2"};
    o.sigtermAfter = 200ms;
    o.timeout = 20s;
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.sigtermSent);
    EXPECT_EQ(r.termSignal, SIGTERM) << r.describe();
    EXPECT_FALSE(r.groupOutlived);
    EXPECT_EQ(r.err.find("not reached"), std::string::npos);
}

TEST(FilterRunner, ClosingStandardOutputEarlyBreaksThePipe) {
    harness::FilterRunOptions o;
    o.binary = "/usr/bin/yes";
    o.args = {"yes"};
    o.closeStdoutAfter = 10000;
    o.timeout = 20s;
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_EQ(r.out.size(), 10000u);
    EXPECT_EQ(r.termSignal, SIGPIPE) << r.describe();
}

TEST(FilterRunner, FilterThatNeverReadsItsInputDoesNotHurtTheTest) {
    harness::FilterRunOptions o;
    o.binary = "/bin/true";
    o.args = {"true"};
    o.stdinBytes.assign(1 << 20, 'x');  // more than a pipe holds
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << r.describe();
}

TEST(FilterRunner, MissingBinaryExitsWith127) {
    harness::FilterRunOptions o;
    o.binary = "/nonexistent/quenzel";
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(127)) << r.describe();
    EXPECT_NE(r.err.find("execve"), std::string::npos);
}

TEST(FilterRunner, DefaultsPointAtTheBuiltFilter) {
    const harness::FilterRunOptions o;
    EXPECT_EQ(o.binary, harness::quenzelPath());
    EXPECT_EQ(o.binary.substr(o.binary.size() - 8), "/quenzel");
    EXPECT_EQ(o.args.size(), 6u);
    EXPECT_EQ(harness::filterArgs("3", "a=b", std::string("/f.pdf")).size(), 7u);
}

}  // namespace
