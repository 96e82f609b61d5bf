// Level shift and downsampling, forward DCT, quantisation, table scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "compress/downsample.h"
#include "compress/fdct.h"
#include "compress/quantize.h"
#include "compress/wicket.h"

namespace {

std::vector<int32_t> flatBlock(int32_t value) {
    return std::vector<int32_t>(64, value);
}

}  // namespace

TEST(Downsample, LevelShiftAveragingAndSizeRules) {
    std::vector<int32_t> out(256, 99);
    std::vector<uint8_t> band(16 * 16, 255);
    band[0] = 0;
    band[1] = 1;  // average 0.5 rounds up to 1: 4 x (1 - 128)
    band[2] = 127;
    band[3] = 128;  // 127.5 rounds up to 128: 0
    ASSERT_EQ(downSampleInt(16, 128, band.data(), SAMPLE_422, 256, out.data()), 0);
    EXPECT_EQ((std::vector<int32_t>{out[0], out[1], out[2]}), (std::vector<int32_t>{-508, 0, 508}));
    ASSERT_EQ(downSampleInt(16, 128, band.data(), SAMPLE_444, 512, out.data()), 0);
    EXPECT_EQ((std::vector<int32_t>{out[0], out[1], out[4]}),
              (std::vector<int32_t>{-512, -508, 508}));
    band[16] = band[17] = 0;  // 2x2 sum 1: (1 - 510) >> 2 = -128
    ASSERT_EQ(downSampleInt(16, 256, band.data(), SAMPLE_420, 256, out.data()), 0);
    EXPECT_EQ(out[0], -512);

    EXPECT_EQ(downSampleInt(20, 160, band.data(), SAMPLE_422, 640, out.data()), 2);
    EXPECT_EQ(downSampleInt(16, 16 * 8, band.data(), SAMPLE_420, 640, out.data()), 2);
    EXPECT_EQ(downSampleInt(16, 128, band.data(), SAMPLE_444, 511, out.data()), 2);
    EXPECT_EQ(downSampleInt(16, 128, nullptr, SAMPLE_444, 512, out.data()), 1);
    // Regression: width 0 divided by zero.
    EXPECT_EQ(downSampleInt(0, 128, band.data(), SAMPLE_444, 512, out.data()), 2);
    // Source and destination overlapping.
    EXPECT_EQ(downSampleInt(8, 64, reinterpret_cast<const uint8_t*>(out.data()), SAMPLE_444, 256,
                            out.data()),
              1);
}

// Golden values of an independent model of the transform (the 13-bit LLM
// factorisation, pass 1 rounding its odd outputs, pass 2 truncating) for the
// block s(x, y) = (37 x + 91 y + 13 x y) mod 256.
TEST(ForwardDct, GoldenBlock) {
    const int32_t expected[64] = {
        464,  -588, -865, 7,     0,    56,   -750, -1123, -791, 39,    -256,  -16,  -698,
        567,  155,  347,  195,   -509, -213, 147,  -473,  28,   0,     -161,  -927, -456,
        -268, 192,  456,  565,   16,   835,  0,    -657,  -196, -231,  -512,  154,  -473,
        130,  -880, -486, -1053, 1077, -874, 494,  -627,  630,  473,   485,   0,    956,
        195,  -332, 1236, -727,  -182, -165, 572,  1105,  338,  -1702, -1076, 568};
    std::vector<int32_t> block(64);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            block[y * 8 + x] = 4 * ((37 * x + 91 * y + 13 * x * y) % 256) - 512;
    }
    ASSERT_EQ(fDCTransform(block.data(), 8, 8, nullptr, 0, nullptr), 0);
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(block[k], expected[k]) << k;
}

TEST(ForwardDct, FlatBlocksAndBlankBlocks) {
    auto white = flatBlock(508);
    fDCTransform(white.data(), 8, 8, nullptr, 0, nullptr);
    EXPECT_EQ(white[0], 8128);
    for (int k = 1; k < 64; ++k)
        EXPECT_EQ(white[k], 0);
    auto black = flatBlock(-512);
    fDCTransform(black.data(), 8, 8, nullptr, 0, nullptr);
    EXPECT_EQ(black[0], -8192);

    // Type 0: no transform; DC white when the top-left value is set.
    std::vector<int32_t> two(128, 0);
    for (int y = 0; y < 8; ++y) {
        two[y * 16 + 3] = 100;             // block 0: top-left 0, other values set
        two[y * 16 + 8] = y == 0 ? 4 : 0;  // block 1: top-left set
    }
    const uint8_t types[2] = {0, 0};
    ASSERT_EQ(fDCTransform(two.data(), 16, 8, types, 0, nullptr), 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(two[y * 16 + x], (y == 0 && x == 8) ? 8128 : 0) << x << "," << y;
        }
    }
}

TEST(ForwardDct, OutputPlaneAndErrors) {
    std::vector<int32_t> in(64, 508);
    std::vector<int32_t> out(64, 0);
    EXPECT_EQ(fDCTransform(in.data(), 8, 8, nullptr, 256, out.data()), 0);
    EXPECT_EQ(out[0], 8128);
    EXPECT_EQ(in[0], 508);  // kept
    EXPECT_EQ(fDCTransform(in.data(), 8, 8, nullptr, 255, out.data()), 2);
    EXPECT_EQ(fDCTransform(in.data(), 8, 8, nullptr, 256, nullptr), 1);
    EXPECT_EQ(fDCTransform(nullptr, 8, 8, nullptr, 0, nullptr), 1);
    EXPECT_EQ(fDCTransform(in.data(), 12, 8, nullptr, 0, nullptr), 2);
}

// The extreme +-128 patterns of every basis function stay within size 10 at
// the flat quantiser, which the output bound relies on; the transform of any
// such block must not overflow (the sanitizer build checks).
TEST(ForwardDct, ExtremeBlocksStayWithinBaselineSizes) {
    int32_t largest = 0;
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            for (int sign = -1; sign <= 1; sign += 2) {
                std::vector<int32_t> b(64);
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) {
                        const double basis = std::cos((2 * x + 1) * u * M_PI / 16) *
                                             std::cos((2 * y + 1) * v * M_PI / 16) * sign;
                        const int s = basis > 1e-9 ? 255 : (basis < -1e-9 ? 0 : 128);
                        b[y * 8 + x] = 4 * s - 512;
                    }
                }
                const uint8_t type = 3;
                fDCTransform(b.data(), 8, 8, &type, 0, nullptr);
                quantizePlane(8, 8, b.data(), 0, &type, kFlatQuantizer, S_aiChromStdQuantTable,
                              S_aiLumStdQuantTable);
                if (u != 0 || v != 0) largest = std::max(largest, std::abs(b[v * 8 + u]));
            }
        }
    }
    EXPECT_EQ(largest, 1020);
}

TEST(Quantize, RoundingRules) {
    // Full quantisation by 8 rounds half away from zero.
    std::vector<int32_t> p{0, 3, 4, -4, -3, 12, -12, 8128};
    p.resize(64, 0);
    const uint8_t flat = 3;
    ASSERT_EQ(
        quantizePlane(8, 8, p.data(), 0, &flat, 8, S_aiChromStdQuantTable, S_aiLumStdQuantTable),
        0);
    EXPECT_EQ((std::vector<int32_t>{p.begin(), p.begin() + 8}),
              (std::vector<int32_t>{0, 0, 1, -1, 0, 2, -2, 1016}));

    // A quantiser that is not a power of two takes the division path.
    std::vector<int32_t> q{-13, 13, -12, 12};
    q.resize(64, 0);
    ASSERT_EQ(
        quantizePlane(8, 8, q.data(), 0, &flat, 6, S_aiChromStdQuantTable, S_aiLumStdQuantTable),
        0);
    EXPECT_EQ((std::vector<int32_t>{q.begin(), q.begin() + 4}),
              (std::vector<int32_t>{-2, 2, -2, 2}));

    // DC-only (types 0 and 2): the half step is added whatever the sign.
    std::vector<int32_t> d(64, -5);
    const uint8_t uniform = 2;
    quantizePlane(8, 8, d.data(), 0, &uniform, 8, S_aiChromStdQuantTable, S_aiLumStdQuantTable);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], -5);  // AC untouched
    std::vector<int32_t> b(64, 0);
    b[0] = 8128;
    const uint8_t blank = 0;
    int32_t table[64];
    for (int32_t& t : table)
        t = 48;
    quantizePlane(8, 8, b.data(), 0, &blank, 8, S_aiChromStdQuantTable, table);
    EXPECT_EQ(b[0], 169);  // (8128 + 24) / 48

    // Type 1 uses the table entry of each position; chroma = 1 the chroma table.
    std::vector<int32_t> t(64, 800);
    const uint8_t tables = 1;
    quantizePlane(8, 8, t.data(), 1, &tables, 8, S_aiChromStdQuantTable, S_aiLumStdQuantTable);
    EXPECT_EQ(t[0], 47);  // 800 / 17
    EXPECT_EQ(t[63], 8);  // 800 / 99
}

TEST(Quantize, BadArguments) {
    std::vector<int32_t> p(64, 0);
    const uint8_t type = 3;
    EXPECT_EQ(
        quantizePlane(8, 8, p.data(), 0, nullptr, 8, S_aiChromStdQuantTable, S_aiLumStdQuantTable),
        1);
    EXPECT_EQ(
        quantizePlane(8, 12, p.data(), 0, &type, 8, S_aiChromStdQuantTable, S_aiLumStdQuantTable),
        2);
    // Regression: a zero quantiser divided by zero.
    EXPECT_EQ(
        quantizePlane(8, 8, p.data(), 0, &type, 0, S_aiChromStdQuantTable, S_aiLumStdQuantTable),
        2);
}

TEST(Quantize, TableScaling) {
    int32_t t[64];
    scaleQuantTable(S_aiLumStdQuantTable, t, 80, 8);
    EXPECT_EQ((std::vector<int32_t>{t, t + 8}),
              (std::vector<int32_t>{48, 32, 32, 48, 80, 128, 160, 192}));
    scaleQuantTable(S_aiLumStdQuantTable, t, 50, 8);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(t[i], 8 * S_aiLumStdQuantTable[i]);
    scaleQuantTable(S_aiLumStdQuantTable, t, 100, 8);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(t[i], 8);
    scaleQuantTable(S_aiLumStdQuantTable, t, 1, 8);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(t[i], 2040);
    scaleQuantTable(S_aiChromStdQuantTable, t, 0, 1);  // scale 10000
    EXPECT_EQ(t[0], 255);

    int32_t lum[64] = {};
    int32_t chrom[64] = {};
    int32_t flat = 0;
    int32_t factor = 0;
    scaleTable(50, 1, chrom, S_aiChromStdQuantTable, lum, S_aiLumStdQuantTable, &flat, &factor);
    EXPECT_EQ(flat, 8);
    EXPECT_EQ(factor, 50);
    EXPECT_EQ(chrom[0], 8 * 17);
    EXPECT_EQ(lum[0], 0);  // only the chosen table
}
