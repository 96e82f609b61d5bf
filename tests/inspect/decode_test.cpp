// Decoding the two data blocks of an image: TBRLE tag planes, the marker
// structure of joined band streams, and band streams made by our own
// compressor read back through libjpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "compress/colorconvert.h"
#include "compress/huffman.h"
#include "compress/wicket.h"
#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/decode.h"
#include "tools/inspect/inspect.h"

using jobtest::operator+;
using jobtest::operator+=;

using jobtest::Bytes;

namespace {

TEST(InspectTagBlock, DecodesToOneValuePerPixel) {
    // Label: packed bytes 0x55, 0xFF, 0x39 as repeat pieces A0, E0 and a literal of one.
    const Bytes stream = {0xA0, 0xE0, 0x00, 0x39};
    std::vector<uint8_t> values;
    std::string message;
    ASSERT_TRUE(inspect::decodeTagValues(stream, 4, 3, values, message)) << message;
    EXPECT_EQ(values, (std::vector<uint8_t>{1, 1, 1, 1, 3, 3, 3, 3, 1, 2, 3, 0}));

    // Label: the one-byte stream 0xFF is a plane of 3s, rows x width of them.
    std::array<uint64_t, 4> counts{};
    ASSERT_TRUE(inspect::decodeTagBlock(Bytes{0xFF}, 2560, 256, counts, message)) << message;
    EXPECT_EQ(counts, (std::array<uint64_t, 4>{0, 0, 0, 2560u * 256u}));
}

TEST(InspectTagBlock, ShortOrOverlongStreamsAreErrors) {
    std::array<uint64_t, 4> counts{};
    std::string message;
    EXPECT_FALSE(inspect::decodeTagBlock(Bytes{0xA0, 0xE0}, 4, 3, counts, message));
    EXPECT_EQ(message, "tag data decodes to 2 of 3 packed bytes");
    EXPECT_FALSE(inspect::decodeTagBlock(Bytes{0x98, 0x80}, 4, 3, counts, message));
    EXPECT_NE(message.find("not a valid TBRLE stream"), std::string::npos);
    EXPECT_FALSE(inspect::decodeTagBlock(Bytes{}, 4, 3, counts, message));
    EXPECT_FALSE(inspect::decodeTagBlock(Bytes{0xFF}, 3, 1, counts, message));
}

TEST(InspectBandScan, CountsMarkersAndFindsMisplacedOnes) {
    // Label: three hand-coded white gray bands: 2B, then RST0..RST2.
    const Bytes good = jobtest::uniformGrayBands(16, 3);
    inspect::BandScan scan = inspect::scanBandStream(good, 100, 3);
    EXPECT_TRUE(scan.problems.empty());
    EXPECT_EQ(scan.restarts, 3);
    EXPECT_EQ(scan.flatMarkers, 1);

    // Stuffed data bytes and fill bytes before a marker are data, not markers.
    const Bytes stuffed = {0xFF, 0x2B, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF, 0xD0};
    scan = inspect::scanBandStream(stuffed, 0, 1);
    EXPECT_TRUE(scan.problems.empty());
    EXPECT_EQ(scan.restarts, 1);

    struct Case {
        const char* label;
        Bytes data;
        uint32_t bands;
        uint64_t offset;
        const char* text;
    };
    const Case cases[] = {
        {"one band short", {0xFF, 0x2B, 0x12, 0xFF, 0xD0}, 2, 5, "holds 1 restart markers"},
        {"data after the last band", {0xFF, 0x2B, 0x12, 0xFF, 0xD0, 0x77}, 1, 5, "goes on after"},
        {"quantiser marker in band 2",
         {0xFF, 0x2B, 0x12, 0xFF, 0xD0, 0xFF, 0x2B, 0x12, 0xFF, 0xD1},
         2,
         5,
         "after the first band"},
        {"table quantiser announced",
         {0xFF, 0x2B, 0x12, 0xFF, 0x2C, 0x12, 0xFF, 0xD0},
         1,
         3,
         "table-quantiser marker"},
        {"a JPEG header marker",
         {0xFF, 0x2B, 0xFF, 0xD8, 0x12, 0xFF, 0xD0},
         1,
         2,
         "unexpected marker 0xFF 0xD8"},
        {"ends in 0xFF", {0xFF, 0x2B, 0x12, 0xFF}, 0, 3, "ends in 0xFF"},
    };
    for (const Case& c : cases) {
        scan = inspect::scanBandStream(c.data, 0, c.bands);
        ASSERT_FALSE(scan.problems.empty()) << c.label;
        EXPECT_EQ(scan.problems[0].offset, c.offset) << c.label << ": " << scan.problems[0].message;
        EXPECT_NE(scan.problems[0].message.find(c.text), std::string::npos)
            << c.label << ": " << scan.problems[0].message;
    }
}

TEST(InspectPictureBlock, HandCodedBandsDecodeToTheirShade) {
    std::vector<uint8_t> pixels;
    std::string message;
    ASSERT_TRUE(inspect::decodePictureBlock(jobtest::uniformGrayBands(24, 2, 0), 24, 16, false,
                                            pixels, message))
        << message;
    EXPECT_EQ(pixels, std::vector<uint8_t>(24 * 16, 0));
    ASSERT_TRUE(
        inspect::decodePictureBlock(jobtest::whiteColorBands(32, 3), 32, 24, true, pixels, message))
        << message;
    EXPECT_EQ(pixels, std::vector<uint8_t>(32 * 24 * 3, 255));
    // Colour data read as gray does not decode cleanly.
    EXPECT_FALSE(inspect::decodePictureBlock(jobtest::whiteColorBands(32, 3), 32, 24, false, pixels,
                                             message));
}

// Compresses `bands` bands of 8 lines the way the band output does and joins
// them into one image's picture data.
Bytes compressImage(uint32_t width, uint32_t bands, bool color, const std::vector<uint8_t>& y,
                    const std::vector<uint8_t>& cb, const std::vector<uint8_t>& cr) {
    auto coder = std::make_unique<HuffmanState>();
    auto settings = std::make_unique<WicketSettings>();
    const int32_t pixels = static_cast<int32_t>(width * 8);
    const std::vector<uint8_t> map(width / 8, 3);
    Bytes joined;
    for (uint32_t band = 0; band < bands; ++band) {
        setHuffman(coder.get());
        coder->restartIndex = static_cast<int32_t>(band % 8);
        const int32_t status = initialize(coder.get());
        setWicket(settings.get(), coder.get(), &status);
        reinitialize(settings.get(), coder.get());
        setRestartInterval(static_cast<int32_t>(width / 8), settings.get());
        settings->emitQMarkers = band == 0;
        std::vector<uint8_t> out(static_cast<size_t>(4 * pixels));
        int32_t length = 0;
        const size_t at = size_t{band} * static_cast<size_t>(pixels);
        int32_t rc;
        if (color) {
            rc = wicketCompressPlanes(static_cast<int32_t>(map.size()), map.data(),
                                      static_cast<int32_t>(width), pixels, &y[at], &cb[at], &cr[at],
                                      4 * pixels, out.data(), &length, settings.get(), coder.get());
        } else {
            setSampleType(SAMPLE_444, settings.get());
            rc = wicketCompressMonoPlane(static_cast<int32_t>(map.size()), map.data(),
                                         static_cast<int32_t>(width), pixels, &y[at], 4 * pixels,
                                         out.data(), &length, settings.get(), coder.get());
        }
        EXPECT_EQ(rc, 0) << "band " << band;
        joined.insert(joined.end(), out.begin(), out.begin() + length);
    }
    return joined;
}

// A smooth picture with some texture: gradients plus a mild ripple.
std::vector<uint8_t> testRgb(uint32_t width, uint32_t rows) {
    std::vector<uint8_t> rgb(size_t{width} * rows * 3);
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t x = 0; x < width; ++x) {
            const double ripple = 20.0 * std::sin(x * 0.3) * std::cos(r * 0.2);
            const double v[3] = {40.0 + 180.0 * x / width + ripple, 200.0 - 150.0 * r / rows,
                                 128.0 + ripple * 2};
            for (int c = 0; c < 3; ++c) {
                rgb[(size_t{r} * width + x) * 3 + c] =
                    static_cast<uint8_t>(std::lround(std::clamp(v[c], 0.0, 255.0)));
            }
        }
    }
    return rgb;
}

TEST(InspectPictureBlock, OurCompressorsColourBandsDecodeWithHighPsnr) {
    const uint32_t width = 64, bands = 12;  // restart markers wrap past RST7
    const uint32_t rows = bands * 8;
    const std::vector<uint8_t> rgb = testRgb(width, rows);
    std::vector<uint8_t> y(size_t{width} * rows, 255), cb(y.size(), 128), cr(y.size(), 128);
    ASSERT_GE(rgbtoYCbCr(width * 3, static_cast<uint32_t>(rgb.size()), rgb.data(), width,
                         static_cast<uint32_t>(y.size()), y.data(), cb.data(), cr.data(), true),
              0);
    const Bytes jpeg = compressImage(width, bands, true, y, cb, cr);
    const inspect::BandScan scan = inspect::scanBandStream(jpeg, 0, bands);
    EXPECT_TRUE(scan.problems.empty()) << scan.problems[0].message;
    EXPECT_EQ(scan.restarts, static_cast<int>(bands));

    std::vector<uint8_t> decoded;
    std::string message;
    ASSERT_TRUE(inspect::decodePictureBlock(jpeg, width, rows, true, decoded, message)) << message;
    const double psnr = inspect::psnr(rgb, decoded);
    EXPECT_GT(psnr, 38.0);
}

TEST(InspectPictureBlock, OurCompressorsGrayBandsDecodeWithHighPsnr) {
    const uint32_t width = 40, bands = 9;
    const uint32_t rows = bands * 8;
    const std::vector<uint8_t> rgb = testRgb(width, rows);
    std::vector<uint8_t> gray(size_t{width} * rows);
    for (size_t i = 0; i < gray.size(); ++i)
        gray[i] = rgb[i * 3];
    const Bytes jpeg = compressImage(width, bands, false, gray, {}, {});
    std::vector<uint8_t> decoded;
    std::string message;
    ASSERT_TRUE(inspect::decodePictureBlock(jpeg, width, rows, false, decoded, message)) << message;
    EXPECT_GT(inspect::psnr(gray, decoded), 45.0);
}

}  // namespace
