// Job framing: status prologue, PJL header, PCL XL stream header, session start
// and the job end.
#include "printstream/jobstream.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/processstate.h"
#include "tests/harness/jobtext.h"
#include "tests/printstream/xlbytes.h"

namespace {

using harness::countOf;
using harness::kUel;

// A job whose every optional setting was offered by no option.
JobSetting plainJob() {
    JobSetting js;
    js.binding = "LONGEDGE";
    js.duplex = "OFF";
    js.printQuality = "NORMAL";
    js.collation = "OFF";
    js.duplexDryTime = "INVALIDOPTION";
    js.colorModel = "CMYK";
    js.tonersave = "INVALIDOPTION";
    js.halftone = "DITHER";
    js.mediaType = "Automatic";
    js.pageMode = "NORMAL";
    js.sharpen = "INVALIDOPTION";
    js.colorPreference = "OBJECT";
    js.inkToUse = "INVALIDOPTION";
    js.colorOutput = "Color";
    js.improvementSettings = "INVALIDOPTION";
    js.fDateTime = 45000.5f;
    js.ghosting = "INVALIDOPTION";
    js.printDensity = "INVALIDOPTION";
    js.resolution = 600;
    js.copies = 1;
    return js;
}

// The header of plainJob() titled "Report" by "alice".
const char* const kPlainHeader =
    "\x1b%-12345X@PJL JOB\n"
    "@PJL SET STRINGCODESET=UTF8\n"
    "@PJL SET FDATETIME=45000.500000\n"
    "@PJL COMMENT ORLIN Contone Raster Driver\n"
    "@PJL SET JOBNAME=\"Report\"\n"
    "@PJL LJOBINFO HOSTID=\"alice\"\n"
    "@PJL SET LCOLORMODEL=CMYK\n"
    "@PJL SET LCTPREFERENCE=OBJECT\n"
    "@PJL SET LIMAGEBRIGHTNESS=0\n"
    "@PJL SET PRINTQUALITY=NORMAL\n"
    "@PJL SET DUPLEX=OFF\n"
    "@PJL SET LCOLLATION=OFF\n"
    "@PJL SET RESOLUTION=600\n"
    "@PJL SET LPAGEMODE=NORMAL\n"
    "@PJL SET LIMAGECONTRAST=0\n"
    "@PJL SET LMULTIPAGEPRINT=OFF\n"
    "@PJL ENTER LANGUAGE=PCLXL\n";

const char* const kSkippedDebugLines =
    "jobsetting->tonersave in start_doc is not NULL\n"
    "jobsetting->improvementSettings in start_doc is not NULL\n"
    "jobsetting->ghosting in start_doc is not NULL\n"
    "jobsetting->printDensity in start_doc is not NULL\n";

std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < s.size()) {
        size_t end = s.find('\n', start);
        if (end == std::string::npos) end = s.size();
        lines.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class PjlHeader : public CaptureTest {
  protected:
    void SetUp() override {
        CaptureTest::SetUp();
        resetProcessState();
    }
    // Writes the header and returns what went to standard error.
    std::string write(const JobSetting& js, const char* title = "Report",
                      const char* user = "alice", bool banner = false) {
        testing::internal::CaptureStderr();
        writePjlHeader(capture, js, title, user, banner);
        return testing::internal::GetCapturedStderr();
    }
    std::string out() const { return asText(capture.bytes); }
};

TEST_F(PjlHeader, EveryOptionalSettingInvalidGivesSeventeenLinesAndFourDebugLines) {
    std::string err = write(plainJob());
    EXPECT_EQ(out(), kPlainHeader);
    EXPECT_EQ(splitLines(out()).size(), 17u);
    EXPECT_EQ(err, kSkippedDebugLines);
    // One sink call per line, each exactly the line.
    EXPECT_EQ(capture.sizes.size(), 17u);
}

TEST_F(PjlHeader, EveryOptionalSettingOfferedGivesAllLinesInOrder) {
    JobSetting js = plainJob();
    js.sharpen = "ON";
    js.tonersave = "OFF";
    js.improvementSettings = "PAPERCURL";
    js.ghosting = "ON";
    js.printDensity = "OFF";
    js.inkToUse = "COMPOSITEBLACK";
    js.duplex = "ON";
    js.binding = "SHORTEDGE";
    js.duplexDryTime = "30";
    std::string err = write(js);
    EXPECT_EQ(out(),
              "\x1b%-12345X@PJL JOB\n"
              "@PJL SET STRINGCODESET=UTF8\n"
              "@PJL SET FDATETIME=45000.500000\n"
              "@PJL COMMENT ORLIN Contone Raster Driver\n"
              "@PJL SET JOBNAME=\"Report\"\n"
              "@PJL LJOBINFO HOSTID=\"alice\"\n"
              "@PJL SET LSHARPEN=ON\n"
              "@PJL SET LCOLORMODEL=CMYK\n"
              "@PJL SET ECONOMODE=OFF\n"
              "@PJL SET FIMPROVE=PAPERCURL\n"
              "@PJL SET FGHOST=ON\n"
              "@PJL SET FDENSITY=OFF\n"
              "@PJL SET LCTPREFERENCE=OBJECT\n"
              "@PJL SET LINKSET=COMPOSITEBLACK\n"
              "@PJL SET LIMAGEBRIGHTNESS=0\n"
              "@PJL SET PRINTQUALITY=NORMAL\n"
              "@PJL SET DUPLEX=ON\n"
              "@PJL SET BINDING=SHORTEDGE\n"
              "@PJL SET LCOLLATION=OFF\n"
              "@PJL SET LDRYTIMEDELAY=30\n"
              "@PJL SET RESOLUTION=600\n"
              "@PJL SET LPAGEMODE=NORMAL\n"
              "@PJL SET LIMAGECONTRAST=0\n"
              "@PJL SET LMULTIPAGEPRINT=OFF\n"
              "@PJL ENTER LANGUAGE=PCLXL\n");
    // Only the note before the FIMPROVE line; no skipped-line notes.
    EXPECT_EQ(err, "inside improvementSettings \n");
}

TEST_F(PjlHeader, DuplexJobCarriesBindingAfterDuplexLine) {
    for (const char* binding : {"LONGEDGE", "SHORTEDGE"}) {
        capture.clear();
        JobSetting js = plainJob();
        js.duplex = "ON";
        js.binding = binding;
        write(js);
        std::vector<std::string> lines = splitLines(out());
        ASSERT_EQ(lines.size(), 18u) << binding;
        EXPECT_EQ(lines[10], "@PJL SET DUPLEX=ON");
        EXPECT_EQ(lines[11], std::string("@PJL SET BINDING=") + binding);
        EXPECT_EQ(lines[12], "@PJL SET LCOLLATION=OFF");
    }
}

TEST_F(PjlHeader, BannerJobAndSimplexJobHaveNoBindingLine) {
    JobSetting js = plainJob();
    js.duplex = "ON";
    write(js, "Report", "alice", /*banner=*/true);
    EXPECT_EQ(countOf(out(), "BINDING"), 0u);
    EXPECT_EQ(splitLines(out()).size(), 17u);
    capture.clear();
    js.duplex = "OFF";
    write(js);
    EXPECT_EQ(countOf(out(), "BINDING"), 0u);
}

TEST_F(PjlHeader, EmptySettingsLeaveTheirLinesOut) {
    JobSetting js = plainJob();
    js.improvementSettings = "";
    js.printQuality = "";
    js.sharpen = "";
    std::string err = write(js);
    EXPECT_EQ(countOf(out(), "FIMPROVE"), 0u);
    EXPECT_EQ(countOf(out(), "PRINTQUALITY"), 0u);
    EXPECT_EQ(countOf(out(), "LSHARPEN"), 0u);
    EXPECT_EQ(splitLines(out()).size(), 16u);
    // An empty optional setting counts as skipped.
    EXPECT_EQ(err, kSkippedDebugLines);
}

TEST_F(PjlHeader, QuotesInTheTitleBecomeApostrophesAndNullTextsGiveEmptyValues) {
    write(plainJob(), "Say \"hi\"", nullptr);
    EXPECT_EQ(countOf(out(), "@PJL SET JOBNAME=\"Say 'hi'\"\n"), 1u);
    EXPECT_EQ(countOf(out(), "@PJL LJOBINFO HOSTID=\"\"\n"), 1u);
    capture.clear();
    write(plainJob(), nullptr, "alice");
    EXPECT_EQ(countOf(out(), "@PJL SET JOBNAME=\"\"\n"), 1u);
}

// Regression: text from the person printing could end a PJL line and start
// commands of its own, or leave PJL altogether with the Universal Exit Language.
TEST_F(PjlHeader, RegressionControlBytesInJobTextCannotInjectPjl) {
    JobSetting js = plainJob();
    js.duplexDryTime = "30\r\n@PJL SET DUPLEX=ON";
    js.printQuality = "DRAFT\x1b%-12345X";
    js.mediaType = "ignored by the header";
    write(js, "a\"b\n@PJL SET X=1\x1b%-12345X", "bob\n@PJL RDYMSG DISPLAY=\"x\"\x7f");
    const std::string o = out();

    EXPECT_EQ(countOf(o, "@PJL SET JOBNAME="), 1u);
    EXPECT_EQ(countOf(o, "@PJL SET JOBNAME=\"a'b @PJL SET X=1 %-12345X\"\n"), 1u);
    EXPECT_EQ(countOf(o, "@PJL LJOBINFO HOSTID=\"bob @PJL RDYMSG DISPLAY='x' \"\n"), 1u);
    EXPECT_EQ(countOf(o, "@PJL SET LDRYTIMEDELAY=30  @PJL SET DUPLEX=ON\n"), 1u);
    EXPECT_EQ(countOf(o, "@PJL SET PRINTQUALITY=DRAFT %-12345X\n"), 1u);
    // Only the one UEL that opens the job, and every line one of ours.
    EXPECT_EQ(countOf(o, "\x1b"), 1u);
    EXPECT_EQ(o.rfind(kUel, 0), 0u);
    std::vector<std::string> lines = splitLines(o);
    EXPECT_EQ(lines.size(), 18u);  // 17 + LDRYTIMEDELAY
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("@PJL ", 0), 0u) << lines[i];
    EXPECT_EQ(countOf(o, "\r"), 0u);
}

// Regression: a quote in the title, the user or a passed-through value closed
// the PJL string early, and invalid UTF-8 went out under STRINGCODESET=UTF8.
TEST_F(PjlHeader, RegressionQuotesAndInvalidUtf8CannotBreakPjlStrings) {
    JobSetting js = plainJob();
    js.duplexDryTime = "3\"0";
    write(js, "a\" DISPLAY=\"x", "B\xc3\xbcr\xff\xc3 \xe2\x82\xac \xed\xa0\x80 \xf4\x90\x80\x80");
    const std::string o = out();
    EXPECT_EQ(countOf(o, "@PJL SET JOBNAME=\"a' DISPLAY='x\"\n"), 1u);
    // Valid characters stay; a stray byte, a cut character, a surrogate and a
    // code point beyond U+10FFFF become '?', byte by byte.
    EXPECT_EQ(countOf(o, "@PJL LJOBINFO HOSTID=\"B\xc3\xbcr?? \xe2\x82\xac ??? ????\"\n"), 1u);
    EXPECT_EQ(countOf(o, "@PJL SET LDRYTIMEDELAY=3'0\n"), 1u);
    EXPECT_EQ(pjlValueText("\x01\"\x7f"), " ' ");
}

TEST(ReplaceControlBytes, ReplacesC0AndDelButKeepsUtf8AndQuotes) {
    std::string all;
    for (int c = 1; c < 0x20; ++c)
        all += static_cast<char>(c);
    all += '\x7f';
    EXPECT_EQ(replaceControlBytes(all), std::string(32, ' '));
    EXPECT_EQ(replaceControlBytes("Gr\xc3\xbc\xc3\x9f \"x\" ~"), "Gr\xc3\xbc\xc3\x9f \"x\" ~");
    EXPECT_EQ(replaceControlBytes(static_cast<const char*>(nullptr)), "");
}

// Regression: a title longer than the line buffer used to lose the closing
// quote and line feed, so the next command ran into the job name.  The value is
// cut instead: the printer gets a JOBNAME line of at most 2047 characters that
// still ends with "\"\n", and the HOSTID line after it intact.
TEST_F(PjlHeader, RegressionOverlongTitleIsCutInsideTheQuotes) {
    std::string title(3000, 'T');
    write(plainJob(), title.c_str());
    std::vector<std::string> lines = splitLines(out());
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[4].size() + 1, kPjlBufferSize - 1);  // + the line feed
    EXPECT_EQ(lines[4].rfind("@PJL SET JOBNAME=\"TTT", 0), 0u);
    EXPECT_EQ(lines[4].back(), '"');
    EXPECT_EQ(lines[5], "@PJL LJOBINFO HOSTID=\"alice\"");
    for (uint32_t size : capture.sizes)
        EXPECT_LT(size, kPjlBufferSize);
}

TEST_F(PjlHeader, OverlongUtf8TitleIsCutAtACharacterBoundary) {
    std::string title;
    for (int i = 0; i < 1500; ++i)
        title += "\xc3\xa9";  // é, two bytes
    write(plainJob(), title.c_str());
    std::vector<std::string> lines = splitLines(out());
    const std::string prefix = "@PJL SET JOBNAME=\"";
    ASSERT_EQ(lines[4].rfind(prefix, 0), 0u);
    std::string value = lines[4].substr(prefix.size(), lines[4].size() - prefix.size() - 1);
    // 2047 - 20 fixed characters leave 2027 bytes: 1013 whole characters.
    EXPECT_EQ(value.size(), 2026u);
    EXPECT_EQ(value.substr(value.size() - 2), "\xc3\xa9");
}

using JobFraming = CaptureTest;

TEST_F(JobFraming, StatusPrologueIsFourNpaPacketsInOrder) {
    writeStatusPrologue(capture);
    const Bytes sniff = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                         0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};
    const Bytes reg = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73, 0x07, 0x08, 0x00,
                       0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    const Bytes errors = {0xA5, 0x00, 0x0D, 0x50, 0xE0, 0x73, 0x03, 0x08,
                          0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(hex(capture.bytes), hex(cat({sniff, reg, sniff, errors})));
    EXPECT_EQ(capture.sizes, (std::vector<uint32_t>{19, 18, 19, 16}));
}

TEST_F(JobFraming, StreamHeaderIsOneRecordOf64BytesEndingInLineFeed) {
    writeStreamHeader(capture);
    ASSERT_EQ(capture.bytes.size(), 64u);
    EXPECT_EQ(capture.sizes, (std::vector<uint32_t>{64}));
    const std::string h = asText(capture.bytes);
    EXPECT_EQ(h.rfind(") HP-PCL XL;2;1;Comment ", 0), 0u);
    EXPECT_EQ(h.back(), '\n');
    EXPECT_EQ(countOf(h, "\n"), 1u);
}

TEST_F(JobFraming, SessionStartAt600Dpi) {
    writeSessionStart(capture, 600);
    // UnitsPerMeasure 600x600, Measure eInch, ErrorReport 3, BeginSession,
    // SourceType 0, DataOrg 1, OpenDataSource, then the 29-byte comment record.
    const Bytes comment =
        cat({{0xC8, 0xC0, 0x17}, text("Quodrel Enhanced XL=1.2"), {0xF8, 0x81, 0x47}});
    EXPECT_EQ(hex(capture.bytes),
              "D1 58 02 58 02 F8 89 C0 00 F8 86 C0 03 F8 8F 41 C0 00 F8 88 C0 01 F8 82 48 " +
                  hex(comment));
    EXPECT_EQ(comment.size(), 29u);
}

TEST_F(JobFraming, SessionStartSendsLow16BitsOfResolution) {
    writeSessionStart(capture, 0x10000 + 1200);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 7)),
              hex(attrU16XY(0x89, 1200, 1200)));
}

TEST_F(JobFraming, NetworkJobStartsWithUelAndEndsWithTrailer) {
    JobSetting js = plainJob();
    testing::internal::CaptureStderr();
    writePjlHeader(capture, js, "Report", "alice", false);
    writeStreamHeader(capture);
    writeSessionStart(capture, js.resolution);
    writeJobEnd(capture);
    testing::internal::GetCapturedStderr();
    const std::string o = asText(capture.bytes);
    EXPECT_EQ(o.rfind(kUel + "@PJL JOB\n", 0), 0u);
    const std::string tail = std::string("\x49\x42") + kUel + "@PJL EOJ\n@PJL LPORTROTATE\n" + kUel;
    ASSERT_GE(o.size(), tail.size());
    EXPECT_EQ(o.substr(o.size() - tail.size()), tail);
    // The PCL XL part starts right after ENTER LANGUAGE.
    EXPECT_NE(o.find("@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;1;"), std::string::npos);
}

TEST_F(JobFraming, NullSinkWritesNothing) {
    JobSetting js = plainJob();
    testing::internal::CaptureStderr();
    writeStatusPrologue(nullptr);
    writePjlHeader(nullptr, js, "t", "u", false);
    writeStreamHeader(nullptr);
    writeSessionStart(nullptr, 600);
    writeJobEnd(nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(capture.bytes.empty());
}

}  // namespace
