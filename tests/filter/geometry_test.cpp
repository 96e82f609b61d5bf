// Raster checks and the job geometry derived from the first page.
#include "filter/geometry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

cups_page_header2_t rgbHeader(unsigned width, unsigned height) {
    cups_page_header2_t h{};
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = width * 3;
    h.HWResolution[0] = h.HWResolution[1] = 600;
    return h;
}

JobSetting enumeratedSettings() {
    JobSetting s;
    s.mediaSizeKind = kMediaSizeEnumerated;
    s.resolution = 600;
    return s;
}

TEST(JobGeometry, LetterAt600IsPaddedTo16By8) {
    cups_page_header2_t h = rgbHeader(2550, 3300);
    std::string why;
    ASSERT_TRUE(normalizeRasterHeader(&h, &why)) << why;
    JobGeometry g;
    ASSERT_TRUE(computeJobGeometry(h, enumeratedSettings(), &g, &why)) << why;
    EXPECT_EQ(g.pixWid, 2560u);
    EXPECT_EQ(g.pixHt, 3304u);
    EXPECT_EQ(g.bytesPerPixel, 3u);
    EXPECT_EQ(g.lineBytes, 2560u * 3);
    EXPECT_EQ(g.blockBytes, 24u + 8 * 2560 * 3 + 8 * 2560);
}

TEST(JobGeometry, CustomSizeUsesThePaddedCustomWidth) {
    cups_page_header2_t h = rgbHeader(2400, 100);
    std::string why;
    ASSERT_TRUE(normalizeRasterHeader(&h, &why));
    JobSetting s = enumeratedSettings();
    s.mediaSizeKind = kMediaSizeCustom;
    s.paddedPixW = 2384;  // narrower than the raster: lines are clipped to it
    JobGeometry g;
    ASSERT_TRUE(computeJobGeometry(h, s, &g, &why));
    EXPECT_EQ(g.pixWid, 2384u);
    s.paddedPixW = 0;
    EXPECT_FALSE(computeJobGeometry(h, s, &g, &why));
}

TEST(RasterHeader, ZeroBitsPerPixelFollowTheColourSpace) {
    cups_page_header2_t gray = rgbHeader(100, 8);
    gray.cupsColorSpace = CUPS_CSPACE_W;
    gray.cupsBitsPerPixel = 0;
    gray.cupsBitsPerColor = 0;
    gray.cupsBytesPerLine = 100;
    std::string why;
    ASSERT_TRUE(normalizeRasterHeader(&gray, &why)) << why;
    EXPECT_EQ(gray.cupsBitsPerPixel, 8u);
    EXPECT_EQ(gray.cupsBitsPerColor, 8u);

    cups_page_header2_t rgb = rgbHeader(100, 8);
    rgb.cupsBitsPerPixel = 0;
    ASSERT_TRUE(normalizeRasterHeader(&rgb, &why)) << why;
    EXPECT_EQ(rgb.cupsBitsPerPixel, 24u);
}

TEST(RasterHeader, SingleChannelGrayVariantsTakeTheGrayPath) {
    cups_page_header2_t h = rgbHeader(100, 8);
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = 100;
    std::string why;
    ASSERT_TRUE(normalizeRasterHeader(&h, &why)) << why;
    EXPECT_EQ(h.cupsColorSpace, static_cast<unsigned>(CUPS_CSPACE_W));

    cups_page_header2_t s = rgbHeader(100, 8);
    s.cupsColorSpace = CUPS_CSPACE_SRGB;
    ASSERT_TRUE(normalizeRasterHeader(&s, &why)) << why;
    EXPECT_EQ(s.cupsColorSpace, static_cast<unsigned>(CUPS_CSPACE_RGB));
}

TEST(RasterHeader, FormatsTheFilterCannotCarryAreRefused) {
    std::string why;
    cups_page_header2_t h = rgbHeader(100, 8);
    h.cupsBitsPerColor = 16;
    h.cupsBitsPerPixel = 48;
    h.cupsBytesPerLine = 600;
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(100, 8);
    h.cupsColorSpace = CUPS_CSPACE_CMYK;
    h.cupsBitsPerPixel = 32;
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(100, 8);
    h.cupsColorSpace = CUPS_CSPACE_W;  // gray with 24 bits per pixel
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(100, 8);
    h.cupsColorOrder = CUPS_ORDER_PLANAR;
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(100, 8);
    h.cupsBytesPerLine = 301;  // does not match the width
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(0, 8);
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));

    h = rgbHeader(100, 40000);  // taller than an image row can be placed
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));
    EXPECT_FALSE(why.empty());

    // Regression (found by fuzzing): a colour space outside the enumeration
    // was loaded as the enum type, which is undefined behaviour.
    h = rgbHeader(100, 8);
    const uint32_t hostile = 256;
    std::memcpy(&h.cupsColorSpace, &hostile, sizeof hostile);
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));
    EXPECT_EQ(why, "colour space 256 is not supported (gray or RGB needed)");
}

// Regression: widths 65489 to 65520 were accepted, but a standard JPEG
// decoder reads no image wider than 65500 pixels; and the refusal always
// named the height limit.  The padded width stops at 65488.
TEST(JobGeometry, WidthStopsWhereJpegDecodersStopAndTheTooLargeSideIsNamed) {
    std::string why;
    JobGeometry g;
    cups_page_header2_t h = rgbHeader(65488, 8);
    ASSERT_TRUE(normalizeRasterHeader(&h, &why)) << why;
    ASSERT_TRUE(computeJobGeometry(h, enumeratedSettings(), &g, &why)) << why;
    EXPECT_EQ(g.pixWid, 65488u);
    EXPECT_LE(g.pixWid, 65500u);

    for (unsigned width : {65489u, 65500u, 65520u}) {
        h = rgbHeader(width, 8);
        EXPECT_FALSE(normalizeRasterHeader(&h, &why)) << width;
        EXPECT_EQ(why, "the page is too large (at most 65488 pixels wide)") << width;
    }
    h = rgbHeader(100, 32761);
    EXPECT_FALSE(normalizeRasterHeader(&h, &why));
    EXPECT_EQ(why, "the page is too large (at most 32760 pixels high)");

    // A custom size whose padded width passes the limit is refused too.
    h = rgbHeader(100, 8);
    ASSERT_TRUE(normalizeRasterHeader(&h, &why));
    JobSetting custom = enumeratedSettings();
    custom.mediaSizeKind = kMediaSizeCustom;
    custom.paddedPixW = 65504;
    EXPECT_FALSE(computeJobGeometry(h, custom, &g, &why));
    EXPECT_EQ(why, "the page is too large (at most 65488 pixels wide)");
}

TEST(JobGeometry, ResolutionsThePrinterCannotTakeAreRefused) {
    cups_page_header2_t h = rgbHeader(100, 8);
    std::string why;
    ASSERT_TRUE(normalizeRasterHeader(&h, &why));
    JobSetting s = enumeratedSettings();
    JobGeometry g;
    s.resolution = 0;
    EXPECT_FALSE(computeJobGeometry(h, s, &g, &why));
    s.resolution = 70000;
    EXPECT_FALSE(computeJobGeometry(h, s, &g, &why));
}

}  // namespace
