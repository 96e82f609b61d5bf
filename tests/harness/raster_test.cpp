// The synthetic raster reads back through libcupsimage exactly as specified.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/harness/filter_run.h"
#include "tests/harness/raster.h"

namespace {

using harness::Pattern;
using harness::RasterFormat;

harness::PageSpec smallPage(Pattern pattern) {
    harness::PageSpec page;
    page.width = 200;
    page.height = 120;
    page.resX = page.resY = 150;
    page.pattern = pattern;
    return page;
}

// Three small pages with every header field the filter reads set to a
// distinct value, and a different pattern and geometry per page.
harness::RasterSpec richSpec(RasterFormat format) {
    harness::RasterSpec stream = harness::RasterSpec::uniform(smallPage(Pattern::Text), 3);
    stream.format = format;
    harness::PageSpec& p1 = stream.pages[0];
    p1.duplex = true;
    p1.tumble = true;
    p1.collate = true;
    p1.numCopies = 3;
    p1.mediaType = "Plain";
    p1.outputType = "DRAFT";
    p1.pageSizeName = "Letter";
    p1.mediaPosition = 2;
    p1.rowStep = 7;
    p1.mirrorPrint = true;
    p1.margins[0] = 12;
    p1.margins[1] = 18;
    p1.pageSize[0] = 612;
    p1.pageSize[1] = 792;
    p1.imagingBox[0] = 12;
    p1.imagingBox[1] = 18;
    p1.imagingBox[2] = 600;
    p1.imagingBox[3] = 774;
    stream.pages[1].pattern = Pattern::Photo;
    stream.pages[1].width = 131;  // odd width: no padding luck
    stream.pages[2].pattern = Pattern::Noise;
    stream.pages[2].colorSpace = CUPS_CSPACE_W;
    stream.pages[2].bitsPerPixel = 8;
    stream.pages[2].resX = 300;
    return stream;
}

void expectHeadersEqual(const cups_page_header2_t& want, const cups_page_header2_t& got) {
    EXPECT_EQ(got.cupsWidth, want.cupsWidth);
    EXPECT_EQ(got.cupsHeight, want.cupsHeight);
    EXPECT_EQ(got.HWResolution[0], want.HWResolution[0]);
    EXPECT_EQ(got.HWResolution[1], want.HWResolution[1]);
    EXPECT_EQ(got.cupsColorSpace, want.cupsColorSpace);
    EXPECT_EQ(got.cupsBitsPerColor, want.cupsBitsPerColor);
    EXPECT_EQ(got.cupsBitsPerPixel, want.cupsBitsPerPixel);
    EXPECT_EQ(got.cupsBytesPerLine, want.cupsBytesPerLine);
    EXPECT_EQ(got.Duplex, want.Duplex);
    EXPECT_EQ(got.Tumble, want.Tumble);
    EXPECT_EQ(got.Collate, want.Collate);
    EXPECT_EQ(got.NumCopies, want.NumCopies);
    EXPECT_STREQ(got.MediaType, want.MediaType);
    EXPECT_STREQ(got.OutputType, want.OutputType);
    EXPECT_STREQ(got.cupsPageSizeName, want.cupsPageSizeName);
    EXPECT_EQ(got.MediaPosition, want.MediaPosition);
    EXPECT_EQ(got.cupsRowStep, want.cupsRowStep);
    EXPECT_EQ(got.MirrorPrint, want.MirrorPrint);
    EXPECT_EQ(got.Margins[0], want.Margins[0]);
    EXPECT_EQ(got.Margins[1], want.Margins[1]);
    EXPECT_EQ(got.PageSize[0], want.PageSize[0]);
    EXPECT_EQ(got.PageSize[1], want.PageSize[1]);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(got.ImagingBoundingBox[i], want.ImagingBoundingBox[i]);
}

class RasterRoundTrip : public testing::TestWithParam<RasterFormat> {};

TEST_P(RasterRoundTrip, HeadersAndPixelsReadBackExactly) {
    const harness::RasterSpec stream = richSpec(GetParam());
    const harness::RasterDump dump = harness::readRaster(harness::rasterBytes(stream));
    ASSERT_TRUE(dump.opened);
    ASSERT_EQ(dump.pages.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE("page " + std::to_string(n));
        const auto& page = dump.pages[static_cast<size_t>(n - 1)];
        expectHeadersEqual(harness::makeHeader(stream.pages[static_cast<size_t>(n - 1)]),
                           page.header);
        EXPECT_EQ(page.linesRead, stream.pages[static_cast<size_t>(n - 1)].height);
        EXPECT_TRUE(page.pixels == harness::expectedPagePixels(stream, n));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RasterRoundTrip,
                         testing::Values(RasterFormat::Uncompressed, RasterFormat::Compressed,
                                         RasterFormat::RawV3));

TEST(RasterFormats, SyncWordsMatchWhatPdftorasterWrites) {
    harness::RasterSpec stream = harness::RasterSpec::uniform(smallPage(Pattern::White), 1);
    // "3SaR": v3 uncompressed in native order, as pdftoraster writes with a PPD.
    std::vector<uint8_t> bytes = harness::rasterBytes(stream);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "3SaR");
    // "RaS2": PWG raster, as pdftoraster writes without a PPD.
    stream.format = RasterFormat::Pwg;
    stream.pages[0].colorSpace = CUPS_CSPACE_SRGB;
    bytes = harness::rasterBytes(stream);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RaS2");
    const harness::RasterDump dump = harness::readRaster(bytes);
    ASSERT_EQ(dump.pages.size(), 1u);
    EXPECT_EQ(dump.pages[0].header.cupsColorSpace, CUPS_CSPACE_SRGB);
    EXPECT_TRUE(dump.pages[0].pixels == harness::expectedPagePixels(stream, 1));
}

TEST(RasterFormats, HandWrittenV3IsByteIdenticalToLibcupsimage) {
    harness::RasterSpec stream = richSpec(RasterFormat::Uncompressed);
    const std::vector<uint8_t> library = harness::rasterBytes(stream);
    stream.format = RasterFormat::RawV3;
    EXPECT_TRUE(harness::rasterBytes(stream) == library);
}

TEST(RasterFormats, RawV3CarriesHeadersTheLibraryRefuses) {
    harness::PageSpec page = smallPage(Pattern::Gradient);
    page.bitsPerPixel = 0;
    harness::RasterSpec stream = harness::RasterSpec::uniform(page, 1);
    // The library writer would divide by zero on this header: refused up front.
    EXPECT_TRUE(harness::rasterBytes(stream).empty());
    stream.format = RasterFormat::RawV3;
    const std::vector<uint8_t> bytes = harness::rasterBytes(stream);
    ASSERT_EQ(bytes.size(), 4 + sizeof(cups_page_header2_t));  // zero bytes per line
    cups_page_header2_t header;
    std::memcpy(&header, bytes.data() + 4, sizeof header);
    EXPECT_EQ(header.cupsBitsPerPixel, 0u);
    // libcupsimage's reader refuses it too: the filter sees no page at all.
    EXPECT_TRUE(harness::readRaster(bytes).pages.empty());
}

TEST(RasterTruncation, StreamEndsAfterTheGivenLine) {
    harness::RasterSpec stream = harness::RasterSpec::uniform(smallPage(Pattern::Stripes), 3);
    stream.endMidPage = harness::EndMidPage{2, 37};
    EXPECT_EQ(harness::linesWritten(stream, 1), 120u);
    EXPECT_EQ(harness::linesWritten(stream, 2), 37u);
    EXPECT_EQ(harness::linesWritten(stream, 3), 0u);
    const std::vector<uint8_t> bytes = harness::rasterBytes(stream);
    const size_t bpl = 600;
    EXPECT_EQ(bytes.size(), 4 + 2 * sizeof(cups_page_header2_t) + (120 + 37) * bpl);

    const harness::RasterDump dump = harness::readRaster(bytes);
    ASSERT_EQ(dump.pages.size(), 2u);
    EXPECT_EQ(dump.pages[0].linesRead, 120u);
    EXPECT_EQ(dump.pages[1].linesRead, 37u);
    const std::vector<uint8_t> full = harness::expectedPagePixels(stream, 2);
    ASSERT_EQ(dump.pages[1].pixels.size(), 37 * bpl);
    EXPECT_TRUE(std::equal(dump.pages[1].pixels.begin(), dump.pages[1].pixels.end(), full.begin()));
}

TEST(RasterTruncation, LineZeroLeavesTheHeaderOnly) {
    harness::RasterSpec stream = harness::RasterSpec::uniform(smallPage(Pattern::Text), 2);
    stream.endMidPage = harness::EndMidPage{1, 0};
    const std::vector<uint8_t> bytes = harness::rasterBytes(stream);
    EXPECT_EQ(bytes.size(), 4 + sizeof(cups_page_header2_t));
    const harness::RasterDump dump = harness::readRaster(bytes);
    ASSERT_EQ(dump.pages.size(), 1u);
    EXPECT_EQ(dump.pages[0].linesRead, 0u);
}

TEST(RasterPixels, SamplesFollowColourSpaceAndDepth) {
    harness::PageSpec page = smallPage(Pattern::Solid);
    page.width = 4;
    page.pageMarker = false;
    page.color = 0x3060C0;
    // RGB, chunked: the colour's bytes as they are.
    EXPECT_EQ(harness::expectedLine(page, 1, 0),
              std::vector<uint8_t>(
                  {0x30, 0x60, 0xC0, 0x30, 0x60, 0xC0, 0x30, 0x60, 0xC0, 0x30, 0x60, 0xC0}));
    // Gray: (0x30*77 + 0x60*150 + 0xC0*29) >> 8 = 92.
    page.colorSpace = CUPS_CSPACE_W;
    page.bitsPerPixel = 8;
    EXPECT_EQ(harness::expectedLine(page, 1, 0), std::vector<uint8_t>(4, 92));
    // Black (K): ink amount, 255 - 92.
    page.colorSpace = CUPS_CSPACE_K;
    EXPECT_EQ(harness::expectedLine(page, 1, 0), std::vector<uint8_t>(4, 163));
    // 1-bit gray, most significant bit first: white pixels are 1, then padding.
    page.colorSpace = CUPS_CSPACE_W;
    page.bitsPerColor = page.bitsPerPixel = 1;
    page.color = 0xFFFFFF;
    EXPECT_EQ(harness::expectedLine(page, 1, 0), std::vector<uint8_t>({0xF0}));
    // 16 bits per colour: v * 257, here 0xFFFF.
    page.bitsPerColor = 16;
    page.bitsPerPixel = 48;
    page.colorSpace = CUPS_CSPACE_RGB;
    EXPECT_EQ(harness::expectedLine(page, 1, 0), std::vector<uint8_t>(24, 0xFF));
    // A deliberately wrong depth still fills exactly cupsBytesPerLine bytes.
    page.bitsPerColor = 8;
    page.bitsPerPixel = 16;
    EXPECT_EQ(harness::bytesPerLine(page), 8u);
    EXPECT_EQ(harness::expectedLine(page, 1, 0).size(), 8u);
}

TEST(RasterPixels, TextPatternLooksLikeAPrintedPage) {
    harness::PageSpec page;  // 2550 x 3300 at 300 dpi
    page.pattern = Pattern::Text;
    page.pageMarker = false;
    const std::vector<uint8_t> pixels =
        harness::expectedPagePixels(harness::RasterSpec::uniform(page, 1), 1);
    size_t inked = 0, blue = 0;
    for (size_t i = 0; i < pixels.size(); i += 3) {
        if (pixels[i] != 255 || pixels[i + 1] != 255 || pixels[i + 2] != 255) ++inked;
        if (pixels[i] == 16 && pixels[i + 2] == 192) ++blue;
    }
    const double coverage = static_cast<double>(inked) / (pixels.size() / 3);
    EXPECT_GT(coverage, 0.02);
    EXPECT_LT(coverage, 0.25);
    EXPECT_GT(blue, 0u);
    // The half-inch margins stay white.
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.begin() + 150 * 2550 * 3,
                            [](uint8_t v) { return v == 255; }));
}

TEST(RasterPixels, PagesOfOneSpecDifferAndRepeat) {
    harness::RasterSpec stream = harness::RasterSpec::uniform(smallPage(Pattern::Photo), 2);
    EXPECT_FALSE(harness::expectedPagePixels(stream, 1) == harness::expectedPagePixels(stream, 2));
    EXPECT_TRUE(harness::expectedPagePixels(stream, 2) == harness::expectedPagePixels(stream, 2));
}

TEST(PageMarker, ReadsBackTheNumberOnEveryBackground) {
    for (Pattern pattern : {Pattern::White, Pattern::Text, Pattern::Photo, Pattern::Noise,
                            Pattern::Stripes, Pattern::Gradient}) {
        harness::PageSpec page = smallPage(pattern);
        harness::RasterSpec stream = harness::RasterSpec::uniform(page, 137);
        for (int n : {1, 2, 10, 137}) {
            SCOPED_TRACE(std::to_string(n));
            const std::vector<uint8_t> pixels = harness::expectedPagePixels(stream, n);
            EXPECT_EQ(harness::readPageMarker(page, pixels.data(), page.width, page.height, 3), n);
        }
    }
}

TEST(PageMarker, ReadsFromGrayAndPaddedImages) {
    harness::PageSpec page;  // full size: the marker scales with the page
    page.colorSpace = CUPS_CSPACE_W;
    page.bitsPerPixel = 8;
    page.pattern = Pattern::Text;
    const harness::RasterSpec stream = harness::RasterSpec::uniform(page, 5);
    const std::vector<uint8_t> pixels = harness::expectedPagePixels(stream, 5);
    EXPECT_EQ(harness::readPageMarker(page, pixels.data(), page.width, page.height, 1), 5);
    // The same page padded to 2560 pixels a line, as a decoder of the job hands it back.
    std::vector<uint8_t> padded(2560u * page.height, 255);
    for (unsigned y = 0; y < page.height; ++y)
        std::copy_n(pixels.begin() + y * page.width, page.width, padded.begin() + y * 2560);
    EXPECT_EQ(harness::readPageMarker(page, padded.data(), 2560, page.height, 1), 5);
}

TEST(PageMarker, AbsentMarkerReadsAsMinusOne) {
    harness::PageSpec page = smallPage(Pattern::White);
    page.pageMarker = false;
    const std::vector<uint8_t> white =
        harness::expectedPagePixels(harness::RasterSpec::uniform(page, 1), 1);
    EXPECT_EQ(harness::readPageMarker(page, white.data(), page.width, page.height, 3), -1);
    page.width = page.height = 20;  // too small to carry one
    EXPECT_EQ(harness::readPageMarker(page, white.data(), 20, 20, 3), -1);
}

TEST(PageOptions, ParseTheCommandLineWords) {
    harness::PageSpec page;
    EXPECT_EQ(harness::applyPageOption(page, "color", "gray"), "");
    EXPECT_EQ(page.colorSpace, unsigned{CUPS_CSPACE_W});
    EXPECT_EQ(page.bitsPerPixel, 8u);
    EXPECT_EQ(harness::applyPageOption(page, "color", "19"), "");
    EXPECT_EQ(page.colorSpace, 19u);
    EXPECT_EQ(harness::applyPageOption(page, "bbox", "1,2,3,4"), "");
    EXPECT_EQ(page.imagingBox[3], 4u);
    EXPECT_EQ(harness::applyPageOption(page, "duplex", "yes"), "");
    EXPECT_TRUE(page.duplex);
    EXPECT_EQ(harness::applyPageOption(page, "solid", "ff8000"), "");
    EXPECT_EQ(page.pattern, Pattern::Solid);
    EXPECT_EQ(page.color, 0xFF8000u);
    EXPECT_NE(harness::applyPageOption(page, "width", "-5"), "");
    EXPECT_NE(harness::applyPageOption(page, "bbox", "1,2,3"), "");
    EXPECT_NE(harness::applyPageOption(page, "pattern", "plaid"), "");
    EXPECT_NE(harness::applyPageOption(page, "colour", "rgb"), "");
}

TEST(MkrasterTool, WritesWhatTheOptionsSay) {
    harness::FilterRunOptions o;
    o.binary = QZ_MKRASTER;
    o.args = {"qz-mkraster",
              "--pages",
              "3",
              "--width",
              "64",
              "--height",
              "48",
              "--res",
              "72",
              "--color",
              "gray",
              "--pattern",
              "noise",
              "--duplex",
              "--tumble",
              "--copies",
              "2",
              "--mediatype",
              "Glossy",
              "--page",
              "2:width=32",
              "--end-mid-page",
              "3:5",
              "-o",
              "-"};
    o.timeout = std::chrono::seconds(20);
    const harness::FilterRun r = harness::runFilter(o);
    ASSERT_TRUE(r.exitedWith(0)) << r.describe();

    harness::PageSpec page;
    page.width = 64;
    page.height = 48;
    page.resX = page.resY = 72;
    page.colorSpace = CUPS_CSPACE_W;
    page.bitsPerPixel = 8;
    page.pattern = Pattern::Noise;
    page.duplex = page.tumble = true;
    page.numCopies = 2;
    page.mediaType = "Glossy";
    harness::RasterSpec stream = harness::RasterSpec::uniform(page, 3);
    stream.pages[1].width = 32;
    stream.endMidPage = harness::EndMidPage{3, 5};
    EXPECT_TRUE(r.out == harness::rasterBytes(stream));
}

}  // namespace
