// The demo printer description drives the spooler's real pdftoraster to the
// raster the filter expects.  Only the first page header is read: the run
// closes the pipe after it, so pdftoraster stops after rendering one page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "tests/harness/filter_run.h"

namespace {

using namespace std::chrono_literals;

const std::string kPdftoraster = std::string(QZ_CUPS_SERVERBIN) + "/filter/pdftoraster";
constexpr size_t kHeadBytes = 4 + sizeof(cups_page_header2_t);

struct FirstHeader {
    std::string sync;
    cups_page_header2_t header{};
    bool ok = false;
};

FirstHeader firstHeader(const std::optional<std::string>& ppd, const std::string& options) {
    harness::FilterRunOptions o;
    o.binary = kPdftoraster;
    o.args = harness::filterArgs("1", options, harness::sourceDir() + "/tests/data/sample.pdf");
    o.ppd = ppd;
    o.closeStdoutAfter = kHeadBytes;
    o.timeout = 120s;
    const harness::FilterRun r = harness::runFilter(o);
    FirstHeader h;
    EXPECT_FALSE(r.timedOut);
    if (r.out.size() != kHeadBytes) {
        ADD_FAILURE() << r.describe();
        return h;
    }
    h.sync.assign(r.out.begin(), r.out.begin() + 4);
    const harness::RasterDump dump = harness::readRaster(r.out);
    if (dump.pages.size() != 1) {
        ADD_FAILURE() << "header not readable";
        return h;
    }
    h.header = dump.pages[0].header;
    h.ok = true;
    return h;
}

class RealPdftoraster : public testing::Test {
  protected:
    void SetUp() override {
        if (::access(kPdftoraster.c_str(), X_OK) != 0)
            GTEST_SKIP() << kPdftoraster << " is not installed (cups-filters)";
    }
};

TEST_F(RealPdftoraster, MinimalPpdGivesRgb8At600DpiUncompressed) {
    const FirstHeader h = firstHeader(harness::minimalPpdPath(), "");
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.sync, "3SaR");  // v3, uncompressed, native byte order
    EXPECT_EQ(h.header.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.header.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.header.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.header.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(h.header.HWResolution[0], 600u);
    EXPECT_EQ(h.header.HWResolution[1], 600u);
    EXPECT_EQ(h.header.PageSize[0], 612u);
    EXPECT_EQ(h.header.PageSize[1], 792u);
    // Only the printable area is rendered: (600 - 12) x (780 - 12) points at 600 dpi.
    EXPECT_EQ(h.header.cupsWidth, 4900u);
    EXPECT_EQ(h.header.cupsHeight, 6400u);
    EXPECT_EQ(h.header.cupsBytesPerLine, 3 * 4900u);
    EXPECT_EQ(h.header.Margins[0], 12u);
    EXPECT_EQ(h.header.Margins[1], 12u);
    EXPECT_EQ(h.header.ImagingBoundingBox[2], 600u);
    EXPECT_EQ(h.header.Duplex, CUPS_FALSE);
    EXPECT_STREQ(h.header.cupsPageSizeName, "Letter");
}

TEST_F(RealPdftoraster, MinimalPpdOptionsReachTheHeader) {
    FirstHeader h = firstHeader(harness::minimalPpdPath(), "ColorModel=Gray");
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.header.cupsColorSpace, CUPS_CSPACE_W);
    EXPECT_EQ(h.header.cupsBitsPerPixel, 8u);
    EXPECT_EQ(h.header.cupsBytesPerLine, 4900u);

    // The page size follows the document (pdftoraster picks the PPD size that
    // matches the PDF's MediaBox; fitting to another size is pdftopdf's job).
    h = firstHeader(harness::minimalPpdPath(), "Duplex=DuplexTumble");
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.header.Duplex, CUPS_TRUE);
    EXPECT_EQ(h.header.Tumble, CUPS_TRUE);
    EXPECT_EQ(h.header.cupsColorSpace, CUPS_CSPACE_RGB);
}

TEST_F(RealPdftoraster, WithoutPpdItWritesPwgRaster) {
    const FirstHeader h = firstHeader(std::nullopt, "");
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.sync, "RaS2");  // PWG raster: v2 sync word, big-endian
    EXPECT_EQ(h.header.cupsColorSpace, CUPS_CSPACE_SRGB);
    EXPECT_EQ(h.header.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.header.cupsWidth, 5100u);  // the whole Letter page at 600 dpi
}

TEST(MinimalPpd, PassesCupstestppd) {
    harness::FilterRunOptions o;
    o.binary = "/usr/bin/cupstestppd";
    if (::access(o.binary.c_str(), X_OK) != 0) GTEST_SKIP() << "no cupstestppd";
    // The filter program is not installed here: skip that check only.
    o.args = {"cupstestppd", "-I", "filters", harness::minimalPpdPath()};
    const harness::FilterRun r = harness::runFilter(o);
    EXPECT_TRUE(r.exitedWith(0)) << std::string(r.out.begin(), r.out.end()) << r.describe();
}

}  // namespace
