// Our band streams checked by an independent decoder (libjpeg-turbo): the
// quantised coefficients must equal ours block for block, and the decoded
// pixels must be close to the input.  Also the wrapper's own behaviour on
// hostile files.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "jpeg_helpers.h"
#include "tools/common/jpegwrap.h"

using jpegtest::BandCoder;
using jpegtest::Content;
using jpegtest::Image;
using jpegtest::makeImage;
using jpegtest::referenceCoefficients;

namespace {

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

// The chroma the coder sees: pairs averaged (rounded half up), each value
// standing for both samples of its pair.
std::vector<uint8_t> pairAverages(const std::vector<uint8_t>& plane) {
    std::vector<uint8_t> out(plane.size());
    for (size_t i = 0; i + 1 < plane.size(); i += 2) {
        out[i] = out[i + 1] = static_cast<uint8_t>((plane[i] + plane[i + 1] + 1) / 2);
    }
    return out;
}

}  // namespace

class LibjpegCrossCheck : public ::testing::TestWithParam<std::tuple<bool, Content, int, int>> {};

TEST_P(LibjpegCrossCheck, CoefficientsAndPixelsMatch) {
    const auto [color, content, width, bands] = GetParam();
    const Image img = makeImage(content, width, 8 * bands, color, 23);
    BandCoder coder;
    const std::vector<uint8_t> stream = coder.encodeImage(img);

    // Restart markers run RST0..RST7 across the bands, one per band.
    std::vector<int> restarts;
    for (size_t i = 0; i + 1 < stream.size(); ++i) {
        if (stream[i] == 0xFF && stream[i + 1] >= 0xD0 && stream[i + 1] <= 0xD7) {
            restarts.push_back(stream[i + 1] - 0xD0);
        }
    }
    ASSERT_EQ(restarts.size(), static_cast<size_t>(bands));
    for (int b = 0; b < bands; ++b)
        EXPECT_EQ(restarts[static_cast<size_t>(b)], b % 8);

    const std::vector<uint8_t> jpeg =
        jpegWrapBandStream(stream.data(), stream.size(), static_cast<uint32_t>(width),
                           static_cast<uint32_t>(8 * bands), color);
    ASSERT_FALSE(jpeg.empty());

    JpegCoefficients coefs;
    JpegDiagnostics diag;
    ASSERT_TRUE(jpegReadCoefficients(jpeg.data(), jpeg.size(), &coefs, &diag)) << diag.message;
    EXPECT_EQ(diag.warnings, 0) << diag.message;
    ASSERT_EQ(coefs.components.size(), color ? 3u : 1u);
    for (size_t c = 0; c < coefs.components.size(); ++c) {
        const bool chroma = c > 0;
        const JpegComponentCoefficients& comp = coefs.components[c];
        const int planeWidth = chroma ? width / 2 : width;
        ASSERT_EQ(comp.blocksWide, static_cast<uint32_t>(planeWidth / 8));
        ASSERT_EQ(comp.blocksHigh, static_cast<uint32_t>(bands));
        const std::vector<int32_t> ours =
            referenceCoefficients(img.planes[c], width, 8 * bands, chroma);
        int mismatches = 0;
        for (uint32_t by = 0; by < comp.blocksHigh; ++by) {
            for (uint32_t bx = 0; bx < comp.blocksWide; ++bx) {
                const int16_t* theirs = comp.block(bx, by);
                for (int k = 0; k < 64 && mismatches < 5; ++k) {
                    const size_t at = (static_cast<size_t>(by) * 8 + static_cast<size_t>(k / 8)) *
                                          static_cast<size_t>(planeWidth) +
                                      bx * 8 + static_cast<size_t>(k % 8);
                    if (theirs[k] != ours[at]) {
                        ++mismatches;
                        ADD_FAILURE() << "component " << c << " block " << bx << "," << by << " k "
                                      << k << ": libjpeg " << theirs[k] << ", ours " << ours[at];
                    }
                }
            }
        }
        ASSERT_EQ(mismatches, 0);
    }

    JpegImage pixels;
    ASSERT_TRUE(jpegDecodePixels(jpeg.data(), jpeg.size(), JpegPixelFormat::Native, &pixels, &diag))
        << diag.message;
    EXPECT_EQ(diag.warnings, 0);
    ASSERT_EQ(pixels.planes.size(), color ? 3u : 1u);
    // Flat quantiser = one step per unit: only the inverse transform's
    // rounding is left.
    EXPECT_GT(psnr(pixels.planes[0], img.planes[0]), 45.0);
    if (color) {
        EXPECT_GT(psnr(pixels.planes[1], pairAverages(img.planes[1])), 45.0);
        EXPECT_GT(psnr(pixels.planes[2], pairAverages(img.planes[2])), 45.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bands, LibjpegCrossCheck,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(Content::Text, Content::Photo, Content::Noise),
                       ::testing::Values(16, 2560, 5104), ::testing::Values(1, 32)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "color_" : "gray_") +
               jpegtest::contentName(std::get<1>(info.param)) + "_w" +
               std::to_string(std::get<2>(info.param)) + "_b" +
               std::to_string(std::get<3>(info.param));
    });

TEST(JpegWrap, StripsOnlyThePrivateMarkers) {
    const std::vector<uint8_t> in{0x12, 0xFF, 0x2B, 0x34, 0xFF, 0xFF, 0xFF, 0x2C,
                                  0xFF, 0x00, 0xFF, 0xFF, 0xD3, 0x56, 0xFF};
    EXPECT_EQ(jpegStripPrivateMarkers(in.data(), in.size()),
              (std::vector<uint8_t>{0x12, 0x34, 0xFF, 0x00, 0xFF, 0xD3, 0x56}));
    EXPECT_TRUE(jpegWrapBandStream(in.data(), in.size(), 24, 8, true).empty());  // not 16n
    EXPECT_TRUE(jpegWrapBandStream(in.data(), in.size(), 8, 0, false).empty());
    EXPECT_FALSE(jpegWrapBandStream(in.data(), in.size(), 8, 8, false).empty());
}

TEST(JpegWrap, HostileFilesGiveErrorsNotCrashes) {
    const Image img = makeImage(Content::Photo, 64, 16, true, 5);
    BandCoder coder;
    const std::vector<uint8_t> stream = coder.encodeImage(img);
    const std::vector<uint8_t> jpeg =
        jpegWrapBandStream(stream.data(), stream.size(), 64, 16, true);
    JpegCoefficients coefs;
    JpegImage pixels;
    JpegDiagnostics diag;

    EXPECT_FALSE(jpegReadCoefficients(nullptr, 0, &coefs, &diag));
    const std::vector<uint8_t> text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    EXPECT_FALSE(jpegDecodePixels(text.data(), text.size(), JpegPixelFormat::Rgb, &pixels, &diag));
    EXPECT_FALSE(diag.message.empty());

    // Cut anywhere: an error, or a decode with warnings; never a crash.
    for (size_t n = 2; n < jpeg.size(); n += 37) {
        const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(n));
        const bool ok = jpegReadCoefficients(cut.data(), cut.size(), &coefs, &diag);
        EXPECT_TRUE(!ok || diag.warnings > 0 || n + 2 >= jpeg.size()) << n;
        jpegDecodePixels(cut.data(), cut.size(), JpegPixelFormat::Rgb, &pixels, &diag);
    }

    // A header claiming 60000 x 60000 pixels is refused before allocation.
    std::vector<uint8_t> huge = jpeg;
    for (size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA;  // height 0xEA60
            huge[i + 6] = 0x60;
            huge[i + 7] = 0xEA;  // width
            huge[i + 8] = 0x60;
            break;
        }
    }
    EXPECT_FALSE(jpegReadCoefficients(huge.data(), huge.size(), &coefs, &diag));
    EXPECT_EQ(diag.message, "image too large");
    EXPECT_TRUE(coefs.components.empty());

    // RGB output of a good file.
    ASSERT_TRUE(jpegDecodePixels(jpeg.data(), jpeg.size(), JpegPixelFormat::Rgb, &pixels, &diag));
    EXPECT_EQ(pixels.planes.size(), 3u);
    EXPECT_EQ(pixels.width, 64u);
    EXPECT_EQ(pixels.height, 16u);
}
