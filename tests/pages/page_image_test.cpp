// What the printer receives for one page: the images that make it up, how
// faithfully they show the raster, and the page attributes that depend on the
// raster's geometry (custom sizes, borderless pages, mirroring, a raster that
// ends early).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/pages/pagejob.h"

namespace {

using harness::Pattern;
using harness::TempDir;
using pagetest::JobResult;

constexpr int kBorderNone = 1;  // BorderType eNoBorder
constexpr int kBorderWith = 2;  // BorderType eWithBorder

// The printed page must show its raster page no worse than libjpeg at
// quality 100 with the same sampling does, give or take this much.
constexpr double kPsnrSlackDb = 0.5;

// Checks the structure every printed image must have: both blocks decoded,
// every tag 3, one restart interval per band of 8 rows, and the flat
// quantiser announced once, by the image's first band.
void expectSoundImages(const inspect::PageInfo& page, size_t pageIndex) {
    for (size_t k = 0; k < page.images.size(); ++k) {
        const inspect::ImageInfo& image = page.images[k];
        SCOPED_TRACE("page " + std::to_string(pageIndex + 1) + " image " + std::to_string(k));
        EXPECT_TRUE(image.decoded);
        EXPECT_EQ(image.tagCounts[3], uint64_t{image.width} * image.rows);
        EXPECT_EQ(image.restartMarkers, static_cast<int>(image.rows / 8));
        EXPECT_EQ(image.flatMarkers, 1);
        EXPECT_EQ(image.tableMarkers, 0);
    }
}

// Rows of the images of a page, top to bottom, and whether each starts where
// the one before it ended.
std::vector<uint32_t> imageRows(const inspect::PageInfo& page) {
    std::vector<uint32_t> rows;
    int y = 0;
    for (const inspect::ImageInfo& image : page.images) {
        EXPECT_EQ(image.x, 0);
        EXPECT_EQ(image.y, y) << "images must follow each other without a gap";
        y += static_cast<int>(image.rows);
        rows.push_back(image.rows);
    }
    return rows;
}

std::vector<uint32_t> letterRows() {
    std::vector<uint32_t> rows(12, 256);
    rows.push_back(232);
    return rows;
}

// --- Letter pages against libjpeg ---------------------------------------------

class LetterPages : public ::testing::TestWithParam<bool> {};

// A Letter-size raster at 600 dpi (2550 x 3300 pixels): a text page and a
// photo page.  Each is padded to 2560 x 3304 and sent as twelve images of 256
// rows and one of 232; it must match its raster about as well as libjpeg's
// own quality-100 encoding of the same page.
TEST_P(LetterPages, PrintAsThirteenImagesAndMatchLibjpegQuality) {
    const bool color = GetParam();
    TempDir dir;
    harness::PageSpec page;  // 2550 x 3300
    page.resX = page.resY = 600;
    page.pageSize[0] = 612;
    page.pageSize[1] = 792;
    if (!color) {
        page.colorSpace = CUPS_CSPACE_W;
        page.bitsPerPixel = 8;
    }
    harness::RasterSpec spec = harness::RasterSpec::uniform(page, 2);
    spec.pages[0].pattern = Pattern::Text;
    spec.pages[1].pattern = Pattern::Photo;

    const JobResult r = pagetest::runJob(dir, spec);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_TRUE(r.job.complete);
    EXPECT_EQ(r.issues(), "");
    ASSERT_EQ(r.job.pages.size(), 2u);
    ASSERT_EQ(r.sides.size(), 2u);

    const int channels = color ? 3 : 1;
    const char* names[] = {"text", "photo"};
    for (size_t p = 0; p < 2; ++p) {
        const inspect::PageInfo& info = r.job.pages[p];
        SCOPED_TRACE(std::string(names[p]) + (color ? " colour" : " gray"));
        EXPECT_EQ(info.isColor(), color);
        EXPECT_EQ(info.width, 2560u);
        EXPECT_EQ(info.height, 3304u);
        EXPECT_EQ(imageRows(info), letterRows());
        for (const inspect::ImageInfo& image : info.images)
            EXPECT_EQ(image.width, 2560u);
        expectSoundImages(info, p);

        const std::vector<uint8_t> raster =
            harness::expectedPagePixels(spec, static_cast<int>(p) + 1);
        const double ours = pagetest::psnrOverRaster(r.sides[p], raster, 2550, 3300, channels);
        // The filter converts RGB to YCbCr with the printer's fixed 10-bit
        // arithmetic, whose rounding costs about 2 dB on smooth colour;
        // libjpeg therefore codes the same YCbCr planes, and its own
        // conversion is only reported.
        const double reference = pagetest::libjpegReferencePsnr(raster, 2550, 3300, channels);
        const double ownConversion =
            pagetest::libjpegReferencePsnr(raster, 2550, 3300, channels, false);
        std::printf(
            "[ PSNR     ] %s %s page: filter %.2f dB, libjpeg q100%s %.2f dB "
            "(%.2f dB from RGB)\n",
            color ? "colour" : "gray", names[p], ours, color ? " 4:2:2" : "", reference,
            ownConversion);
        RecordProperty(std::string(names[p]) + "_filter_db", std::to_string(ours));
        RecordProperty(std::string(names[p]) + "_libjpeg_db", std::to_string(reference));
        EXPECT_GT(reference, 30.0) << "the reference encoding failed";
        EXPECT_GE(ours, reference - kPsnrSlackDb);
    }
}

INSTANTIATE_TEST_SUITE_P(ColourAndGray, LetterPages, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Colour" : "Gray"; });

// --- Image boundaries -----------------------------------------------------------

struct Heights {
    unsigned lines;
    std::vector<uint32_t> rows;
};

class ImageSplit : public ::testing::TestWithParam<Heights> {};

// Bands join into images of at most 256 rows; the page's last band closes
// the last image whatever its size.  256 lines: the 32nd band both fills the
// image and ends the page; 257: a second image of one padded band; 8: one
// image of a single band.
TEST_P(ImageSplit, PageHeightSetsTheImages) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Gradient);
    page.height = GetParam().lines;
    page.pageMarker = false;
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 1);
    const JobResult r = pagetest::runJob(dir, spec);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.issues(), "");
    ASSERT_EQ(r.job.pages.size(), 1u);
    EXPECT_EQ(imageRows(r.job.pages[0]), GetParam().rows);
    expectSoundImages(r.job.pages[0], 0);
    ASSERT_EQ(r.sides.size(), 1u);
    EXPECT_GT(pagetest::psnrOverRaster(r.sides[0], harness::expectedPagePixels(spec, 1), 400,
                                       page.height, 3),
              40.0);
}

INSTANTIATE_TEST_SUITE_P(Heights, ImageSplit,
                         ::testing::Values(Heights{8, {8}}, Heights{256, {256}},
                                           Heights{257, {256, 8}}, Heights{300, {256, 48}}),
                         [](const auto& info) {
                             return "Lines" + std::to_string(info.param.lines);
                         });

// An entirely white page is still sent band by band and decodes white.
TEST(PageImages, WhitePageSendsEveryBand) {
    TempDir dir;
    for (bool color : {true, false}) {
        SCOPED_TRACE(color ? "colour" : "gray");
        harness::PageSpec p = pagetest::smallPage(Pattern::White, color);
        p.pageMarker = false;
        const JobResult r = pagetest::runJob(dir, harness::RasterSpec::uniform(p, 1));
        ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
        EXPECT_EQ(r.issues(), "");
        ASSERT_EQ(r.job.pages.size(), 1u);
        EXPECT_EQ(imageRows(r.job.pages[0]), (std::vector<uint32_t>{256, 48}));
        expectSoundImages(r.job.pages[0], 0);
        ASSERT_EQ(r.sides.size(), 1u);
        EXPECT_EQ(r.sides[0].width, 400u);
        EXPECT_EQ(r.sides[0].height, 304u);
        EXPECT_TRUE(pagetest::allAtLeast(r.sides[0], 254));
    }
}

// --- Page size and border ---------------------------------------------------------

// A custom size from the ticket: the page announces its padded size in
// inches, with a border (the raster has margins), and its images are
// paddedPixW wide.  2400 pixels at 600 dpi with 12 pt margins: 2400 + 2 x 100
// pixels = 4.33 in; 296 lines (padded to 304) + 200 = 0.84 in.
TEST(PageImages, CustomSizeAnnouncesItsInchesAndPrintsAtThePaddedWidth) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Text);
    page.width = 2400;
    page.height = 296;
    page.resX = page.resY = 600;
    page.margins[0] = page.margins[1] = 12;
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 1);
    harness::FilterRunOptions o;
    o.args = harness::filterArgs("1", "PageSize=Custom.4.33x0.84in");
    const JobResult r = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.issues(), "");
    ASSERT_EQ(r.job.pages.size(), 1u);
    const inspect::PageInfo& info = r.job.pages[0];
    EXPECT_TRUE(info.customSize);
    EXPECT_NEAR(info.customWidth, 4.33, 1e-5);
    EXPECT_NEAR(info.customHeight, 0.84, 1e-5);
    EXPECT_EQ(info.borderType, kBorderWith);
    EXPECT_EQ(info.width, 2400u);
    EXPECT_NE(r.run.err.find("customPixWid=2400 "), std::string::npos);
    ASSERT_EQ(r.sides.size(), 1u);
    EXPECT_GT(
        pagetest::psnrOverRaster(r.sides[0], harness::expectedPagePixels(spec, 1), 2400, 296, 3),
        40.0);
}

// A custom page whose padded width is narrower than the raster: 2550 pixels
// at 300 dpi with 12 pt margins make 8.87 in, capped to the 8.5 in medium;
// less the margins that leaves 2450 pixels, padded to 2464.  The lines are
// clipped to that width (and reported), not written past the block.
TEST(PageImages, CustomSizeNarrowerThanTheRasterIsClipped) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Gradient);
    page.width = 2550;
    page.height = 96;
    page.margins[0] = page.margins[1] = 12;
    page.pageMarker = false;
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 1);
    harness::FilterRunOptions o;
    o.args = harness::filterArgs("1", "PageSize=Custom.8.5x0.5in");
    const JobResult r = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(r.run.exitedWith(0)) << r.run.describe();
    EXPECT_EQ(r.issues(), "");
    EXPECT_EQ(r.errLines("DEBUG: Page 1 is wider").size(), 1u) << r.run.err;
    ASSERT_EQ(r.sides.size(), 1u);
    EXPECT_NEAR(r.job.pages[0].customWidth, 8.5, 1e-6);
    ASSERT_EQ(r.sides[0].width, 2464u);
    // The printed page is the raster's left 2464 columns.
    const std::vector<uint8_t> raster = harness::expectedPagePixels(spec, 1);
    std::vector<uint8_t> left;
    for (unsigned y = 0; y < page.height; ++y) {
        const auto row = raster.begin() + static_cast<ptrdiff_t>(y) * 2550 * 3;
        left.insert(left.end(), row, row + 2464 * 3);
    }
    EXPECT_GT(pagetest::psnrOverRaster(r.sides[0], left, 2464, page.height, 3), 40.0);
}

// With no page size in the ticket, a raster whose imageable area is the
// whole sheet prints borderless from the sheet's corner; a smaller imageable
// area keeps the border and the printer's origin.
TEST(PageImages, WholeSheetImageableAreaPrintsEdgeToEdge) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Gradient);
    page.pageSize[0] = 612;
    page.pageSize[1] = 792;
    const JobResult full = pagetest::runJob(dir, harness::RasterSpec::uniform(page, 1));
    ASSERT_TRUE(full.run.exitedWith(0)) << full.run.describe();
    ASSERT_EQ(full.job.pages.size(), 1u);
    EXPECT_EQ(full.job.pjl("LPAGEMODE"), "EDGETOEDGE");
    EXPECT_EQ(full.job.pages[0].borderType, kBorderNone);
    EXPECT_EQ(full.job.pages[0].originX, 0);
    EXPECT_EQ(full.job.pages[0].originY, 0);

    page.imagingBox[0] = 18;
    page.imagingBox[1] = 36;
    page.imagingBox[2] = 594;
    page.imagingBox[3] = 756;
    const JobResult boxed = pagetest::runJob(dir, harness::RasterSpec::uniform(page, 1));
    ASSERT_TRUE(boxed.run.exitedWith(0)) << boxed.run.describe();
    ASSERT_EQ(boxed.job.pages.size(), 1u);
    EXPECT_EQ(boxed.job.pjl("LPAGEMODE"), "NORMAL");
    EXPECT_EQ(boxed.job.pages[0].borderType, kBorderWith);
    EXPECT_EQ(boxed.job.pages[0].originX, 100);
    EXPECT_EQ(boxed.job.pages[0].originY, 100);
}

// --- Mirroring ----------------------------------------------------------------

// Mirroring asked in the ticket, on a printer that offers it, for a raster
// that is not mirrored yet: each line is reversed over the padded width, so
// a 2550-pixel line starts 10 white pixels from the left.  Switched off, the
// page prints as it is.
TEST(PageImages, MirrorReversesLinesOverThePaddedWidth) {
    TempDir dir;
    harness::PageSpec page = pagetest::smallPage(Pattern::Gradient);
    page.width = 2550;
    page.height = 64;
    page.resX = page.resY = 600;
    page.pageMarker = false;
    const harness::RasterSpec spec = harness::RasterSpec::uniform(page, 1);
    const std::vector<uint8_t> raster = harness::expectedPagePixels(spec, 1);
    const std::string ppd = dir.write("mirror.ppd", pagetest::mirrorPpdText());

    // The raster mirrored over 2560 pixels: columns 0..9 white.
    std::vector<uint8_t> mirrored(size_t{2560} * 64 * 3, 0xFF);
    for (unsigned y = 0; y < 64; ++y) {
        for (unsigned x = 0; x < 2550; ++x) {
            for (unsigned c = 0; c < 3; ++c)
                mirrored[(y * 2560 + 2559 - x) * 3 + c] = raster[(y * 2550 + x) * 3 + c];
        }
    }

    harness::FilterRunOptions o;
    o.ppd = ppd;
    o.args = harness::filterArgs("1", "ZemMirror=On");
    const JobResult on = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(on.run.exitedWith(0)) << on.run.describe();
    EXPECT_EQ(on.issues(), "");
    ASSERT_EQ(on.sides.size(), 1u);
    ASSERT_EQ(on.sides[0].width, 2560u);
    EXPECT_GT(pagetest::psnrOverRaster(on.sides[0], mirrored, 2560, 64, 3), 40.0);
    // The padding moved to the left edge.
    for (unsigned y = 0; y < 64; ++y) {
        for (unsigned i = 0; i < 10 * 3; ++i)
            ASSERT_GE(on.sides[0].pixels[y * 2560 * 3 + i], 250) << "line " << y;
    }

    o.args = harness::filterArgs("1", "ZemMirror=Off");
    const JobResult off = pagetest::runJob(dir, spec, o);
    ASSERT_TRUE(off.run.exitedWith(0)) << off.run.describe();
    ASSERT_EQ(off.sides.size(), 1u);
    EXPECT_GT(pagetest::psnrOverRaster(off.sides[0], raster, 2550, 64, 3), 40.0);
}

// --- A raster that ends early -------------------------------------------------

// Regression: a page whose raster stopped mid-page used to lose its last
// bands, leaving the image open and the band count out of step with the
// next page.  The page is completed in white: every image is sent, the lines
// that came are printed, the rest is white, and the session is closed; the
// job then fails, naming the cut.
TEST(PageImages, RasterCutMidPageStillSendsTheWholePage) {
    TempDir dir;
    for (const unsigned cut : {100u, 37u}) {
        SCOPED_TRACE("cut after line " + std::to_string(cut));
        harness::RasterSpec spec =
            harness::RasterSpec::uniform(pagetest::smallPage(Pattern::Gradient), 3);
        spec.endMidPage = harness::EndMidPage{2, cut};
        const JobResult r = pagetest::runJob(dir, spec);
        ASSERT_TRUE(r.run.exitedWith(1)) << r.run.describe();
        EXPECT_EQ(
            r.errLines("ERROR: Unable to print this job: the raster stream ended inside page 2")
                .size(),
            1u);
        EXPECT_TRUE(r.job.complete);
        EXPECT_EQ(r.issues(), "");
        ASSERT_EQ(r.job.pages.size(), 2u);
        for (size_t p = 0; p < 2; ++p) {
            EXPECT_TRUE(r.job.pages[p].complete);
            EXPECT_EQ(imageRows(r.job.pages[p]), (std::vector<uint32_t>{256, 48}));
            expectSoundImages(r.job.pages[p], p);
        }
        ASSERT_EQ(r.sides.size(), 2u);
        EXPECT_GT(
            pagetest::psnrOverRaster(r.sides[0], harness::expectedPagePixels(spec, 1), 400, 300, 3),
            40.0);
        // Page 2: the lines that came, then white.
        const std::vector<uint8_t> raster = harness::expectedPagePixels(spec, 2);
        EXPECT_GT(pagetest::psnrOverRaster(r.sides[1], raster, 400, cut, 3), 40.0);
        inspect::PageImage rest;
        rest.width = 400;
        rest.height = 304 - cut;
        rest.channels = 3;
        rest.pixels.assign(r.sides[1].pixels.begin() + size_t{cut} * 400 * 3,
                           r.sides[1].pixels.end());
        EXPECT_TRUE(pagetest::allAtLeast(rest, 250));
    }
}

}  // namespace
