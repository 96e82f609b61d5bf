#include "compress/colorconvert.h"

#include "compress/simd/kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0x11;  // a value conversion never writes for white

// Three planes pre-set to a marker, so that tests see which bytes were written.
struct Planes {
    explicit Planes(size_t n) : y(n, kUntouched), cb(n, kUntouched), cr(n, kUntouched) {}
    Bytes y, cb, cr;
};

int32_t convert(uint32_t bytesPerLine, const Bytes& in, uint32_t stride, Planes& p,
                bool filled = true) {
    return rgbtoYCbCr(bytesPerLine, uint32_t(in.size()), in.data(), stride, uint32_t(p.y.size()),
                      p.y.data(), p.cb.data(), p.cr.data(), filled);
}

Bytes whitePixels(size_t n) {
    return Bytes(3 * n, 0xFF);
}

}  // namespace

TEST(ColorPixel, GoldenColours) {
    struct Case {
        const char* label;
        Bytes rgb;
        uint32_t packed;  // Y | Cb << 8 | Cr << 16
    };
    const Case cases[] = {
        {"white: 255 128 128, bytes FF 80 80 00", {255, 255, 255}, 0x008080FF},
        {"black: 0 128 128", {0, 0, 0}, 0x00808000},
        {"red: 76 85 255", {255, 0, 0}, 0x00FF554C},
        {"green: 149 43 21", {0, 255, 0}, 0x00152B95},
        {"blue: 29 255 107", {0, 0, 255}, 0x006BFF1D},
        {"mid gray: 128 128 128", {128, 128, 128}, 0x00808080},
        {"254 255 255: Cr -384/1024 rounds down to -1", {254, 255, 255}, 0x007F80FE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RGBTripleToCrCbYDword(c.rgb.data()), c.packed) << c.label;
}

TEST(ColorPixel, BandConversionEqualsSinglePixelFormulaForAllColours) {
    // The band loop (the vector kernel, or with QZ_FORCE_SCALAR the packed
    // 64-bit lanes) must give the single-pixel results for all 2^24 colours
    // (a band per red level), on both paths; lines of 253 pixels leave a
    // tail after the vectors.
    const bool environment = qzsimd::scalarPathForced();
    Bytes in(3 * 253 * 260);
    for (bool scalar : {false, true}) {
        qzsimd::forceScalarPath(scalar);
        for (int r = 0; r < 256; ++r) {
            for (size_t i = 0; i < 65536; ++i) {
                in[3 * i] = uint8_t(r);
                in[3 * i + 1] = uint8_t(i >> 8);
                in[3 * i + 2] = uint8_t(i);
            }
            Planes p(253 * 260);
            ASSERT_EQ(convert(3 * 253, in, 253, p, false), kColorInk);
            for (size_t i = 0; i < 65536; ++i) {
                const uint32_t v = RGBTripleToCrCbYDword(&in[3 * i]);
                ASSERT_EQ(uint32_t(p.y[i] | p.cb[i] << 8 | p.cr[i] << 16), v)
                    << r << " " << i << (scalar ? " scalar" : " vector");
            }
        }
    }
    qzsimd::forceScalarPath(environment);
}

TEST(ColorStripTrail, CountsUpToTheLastNonWhitePixel) {
    EXPECT_EQ(stripTrail(whitePixels(1).data(), 1), 0u) << "one white pixel";
    EXPECT_EQ(stripTrail(whitePixels(37).data(), 37), 0u) << "all white";
    // One component below 255 makes its pixel non-white, whichever of the three
    // it is and wherever it falls relative to the 8-byte words of the scan.
    for (uint32_t x = 0; x < 23; ++x) {
        for (int c = 0; c < 3; ++c) {
            Bytes line = whitePixels(23);
            line[3 * x + c] = 254;
            ASSERT_EQ(stripTrail(line.data(), 23), x + 1) << "pixel " << x << " part " << c;
        }
    }
}

TEST(ColorBand, ResultCodesForMissingBuffersAndSizes) {
    const Bytes in = whitePixels(16);
    Planes p(16);
    uint8_t *y = p.y.data(), *cb = p.cb.data(), *cr = p.cr.data();
    EXPECT_EQ(rgbtoYCbCr(24, 48, nullptr, 8, 16, y, cb, cr, true), kColorMissingBuffer);
    EXPECT_EQ(rgbtoYCbCr(24, 48, in.data(), 8, 16, nullptr, cb, cr, true), kColorMissingBuffer);
    EXPECT_EQ(rgbtoYCbCr(24, 48, in.data(), 8, 16, y, nullptr, cr, true), kColorMissingBuffer);
    EXPECT_EQ(rgbtoYCbCr(24, 48, in.data(), 8, 16, y, cb, nullptr, true), kColorMissingBuffer);
    EXPECT_EQ(rgbtoYCbCr(21, 21, in.data(), 7, 16, y, cb, cr, true), kColorBadSize) << "21 bytes";
    EXPECT_EQ(rgbtoYCbCr(24, 24, in.data(), 8, 16, y, cb, cr, true), kColorNoInk) << "24 bytes";
    EXPECT_EQ(rgbtoYCbCr(10, 30, in.data(), 4, 16, y, cb, cr, true), kColorBadSize)
        << "10 per line";
    EXPECT_EQ(rgbtoYCbCr(24, 48, in.data(), 8, 15, y, cb, cr, true), kColorBadSize) << "15 < 48/3";
}

TEST(ColorBand, RegressionBadGeometryIsRejectedBeforeAnyWrite) {
    const Bytes in(24, 0);  // two lines of 4 black pixels
    Planes p(16);
    EXPECT_EQ(convert(0, in, 8, p, false), kColorBadSize) << "0 bytes per line: no division";
    EXPECT_EQ(convert(12, in, 14, p, false), kColorBadSize) << "line 1 at 14..17 of 16 bytes";
    EXPECT_EQ(convert(12, in, 3, p, false), kColorBadSize) << "stride 3 < 4: lines overlap";
    EXPECT_EQ(p.y, Bytes(16, kUntouched)) << "not even filled";
    EXPECT_EQ(convert(12, in, 12, p, false), kColorInk) << "stride 12 fits: 12 + 4 <= 16";
}

TEST(ColorBand, AllWhiteBandKeepsOrFillsThePlanes) {
    const Bytes in = whitePixels(128);
    Planes p(128);
    EXPECT_EQ(convert(48, in, 16, p), kColorNoInk);
    EXPECT_EQ(p.y, Bytes(128, kUntouched)) << "filled by the caller: left alone";
    EXPECT_EQ(convert(48, in, 16, p, false), kColorNoInk);
    EXPECT_EQ(p.y, Bytes(128, 255)) << "filled here: Y 255";
    EXPECT_EQ(p.cb, Bytes(128, 128)) << "Cb 128";
    EXPECT_EQ(p.cr, Bytes(128, 128)) << "Cr 128";
}

TEST(ColorBand, ConvertsFromFirstToLastInkedPixelOnly) {
    // White, red, white, red, then white (a line of 8, as at least 24 bytes are
    // needed): the white between the reds is converted, the outer ones are not.
    Bytes in = whitePixels(8);
    in[4] = in[5] = in[10] = in[11] = 0;  // pixels 1 and 3: 255, 0, 0
    Planes p(8);
    EXPECT_EQ(convert(24, in, 8, p), kColorInk);
    const uint8_t u = kUntouched;
    EXPECT_EQ(p.y, (Bytes{u, 76, 255, 76, u, u, u, u}));
    EXPECT_EQ(p.cb, (Bytes{u, 85, 128, 85, u, u, u, u}));
    EXPECT_EQ(p.cr, (Bytes{u, 255, 128, 255, u, u, u, u}));

    // Margins of every width on both sides, on both paths (the scans read 8
    // bytes, or a vector of up to 64, at a time).
    const bool environment = qzsimd::scalarPathForced();
    constexpr uint32_t n = 70;
    for (bool scalar : {false, true}) {
        qzsimd::forceScalarPath(scalar);
        for (uint32_t begin = 0; begin < n; ++begin) {
            for (uint32_t end = begin + 1; end <= n; ++end) {
                Bytes line = whitePixels(n);
                line[3 * begin] = line[3 * (end - 1) + 2] = 0;
                Planes q(n);
                ASSERT_EQ(convert(3 * n, line, n, q), kColorInk);
                for (uint32_t x = 0; x < n; ++x) {
                    ASSERT_EQ(q.y[x] != kUntouched, x >= begin && x < end)
                        << begin << " " << end << (scalar ? " scalar" : " vector");
                }
            }
        }
    }
    qzsimd::forceScalarPath(environment);
}

TEST(ColorBand, PartialLastLineIsIgnoredAndStrideIsHonoured) {
    // Three lines of 4 black pixels and 2 pixels of a fourth; a stride of 6
    // leaves two bytes between lines.
    const Bytes in(3 * 12 + 6, 0);
    Planes p(24);
    EXPECT_EQ(convert(12, in, 6, p), kColorInk);
    for (size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(p.y[i], i < 18 && i % 6 < 4 ? 0 : kUntouched) << "offset " << i;
    }
}
