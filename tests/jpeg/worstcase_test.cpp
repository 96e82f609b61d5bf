// The worst-case output size of a band: the bound's derivation, re-run here,
// and inputs that come close to it or pass four bytes per pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "compress/wicket.h"
#include "jpeg_helpers.h"

using jpegtest::BandCoder;
using jpegtest::Content;
using jpegtest::Image;
using jpegtest::makeImage;

namespace {

// Bit position in the byte (0..7) and whether the byte so far is all 1s.
struct ByteState {
    int position;
    bool ones;
};

// Feeds n bits of value through the state; returns the stuffed bytes made.
int feed(ByteState* s, uint32_t value, int n) {
    int stuffed = 0;
    for (int i = n - 1; i >= 0; --i) {
        if (s->position == 0) s->ones = true;
        s->ones = s->ones && ((value >> i) & 1) != 0;
        if (++s->position == 8) {
            stuffed += s->ones ? 1 : 0;
            s->position = 0;
        }
    }
    return stuffed;
}

int stateIndex(const ByteState& s) {
    return s.position * 2 + (s.position == 0 || s.ones ? 1 : 0);
}
ByteState stateOf(int index) {
    return {index / 2, (index & 1) != 0};
}

// The most bits (a stuffed byte counting 8) one block can take: the DC
// category and amplitude chosen freely, then AC symbols over the 63
// positions, each amplitude spending its squared magnitude of `energy`
// (counted in units of `unit`, rounded down), ZRLs, and a final EOB.
int worstBlockBits(const CodecTable& t, int64_t energy, int64_t unit) {
    const int budget = static_cast<int>(energy / unit);
    constexpr int kStates = 16;
    constexpr int kNone = -1;
    std::vector<int> best(static_cast<size_t>(64) * (budget + 1) * kStates, kNone);
    auto at = [&](int pos, int e, int s) -> int& {
        return best[(static_cast<size_t>(pos) * (budget + 1) + e) * kStates + s];
    };
    for (int s0 = 1; s0 < kStates; ++s0) {
        for (int c = 0; c <= 11; ++c) {
            for (uint32_t p = 0; p < (1u << c); ++p) {
                ByteState s = stateOf(s0);
                const int stuffed = feed(&s, t.dc[c].code, t.dc[c].length) + feed(&s, p, c);
                int& v = at(0, 0, stateIndex(s));
                v = std::max(v, t.dc[c].length + c + 8 * stuffed);
            }
        }
    }
    struct Step {
        int positions, bits, energy, to;
    };
    std::vector<Step> steps[kStates];
    for (int s0 = 0; s0 < kStates; ++s0) {
        for (int i = 0; i < 160; ++i) {
            const int run = i & 15;
            const int size = (i >> 4) + 1;
            const CodecEntry& code = t.ac[i];
            // Cheapest amplitude for each (stuffed bytes, all-1s end) outcome.
            int cheapest[8][2];
            for (auto& row : cheapest)
                row[0] = row[1] = INT32_MAX;
            int endPosition = 0;
            for (uint32_t p = 0; p < (1u << size); ++p) {
                ByteState s = stateOf(s0);
                const int stuffed = feed(&s, code.code, code.length) + feed(&s, p, size);
                const int64_t magnitude = (p >> (size - 1)) != 0 ? p : (1 << size) - 1 - p;
                const int e = static_cast<int>(magnitude * magnitude / unit);
                int& c = cheapest[stuffed][s.ones ? 1 : 0];
                c = std::min(c, e);
                endPosition = s.position;
            }
            for (int k = 0; k < 8; ++k) {
                for (int ones = 0; ones < 2; ++ones) {
                    if (cheapest[k][ones] == INT32_MAX) continue;
                    steps[s0].push_back({run + 1, code.length + size + 8 * k, cheapest[k][ones],
                                         stateIndex({endPosition, ones == 1})});
                }
            }
        }
        ByteState s = stateOf(s0);
        const CodecEntry& zrl = t.ac[kCodecZRLIndex];
        const int stuffed = feed(&s, zrl.code, zrl.length);
        steps[s0].push_back({16, zrl.length + 8 * stuffed, 0, stateIndex(s)});
    }
    int worst = 0;
    for (int pos = 0; pos <= 63; ++pos) {
        for (int e = 0; e <= budget; ++e) {
            for (int s0 = 0; s0 < kStates; ++s0) {
                const int v = at(pos, e, s0);
                if (v == kNone) continue;
                int end = v;
                if (pos < 63) {
                    ByteState s = stateOf(s0);
                    const CodecEntry& eob = t.ac[kCodecEOBIndex];
                    end += eob.length + 8 * feed(&s, eob.code, eob.length);
                }
                worst = std::max(worst, end);
                for (const Step& step : steps[s0]) {
                    if (pos + step.positions > 63 || e + step.energy > budget) continue;
                    int& next = at(pos + step.positions, e + step.energy, step.to);
                    next = std::max(next, v + step.bits);
                }
            }
        }
    }
    return worst;
}

// A 16 x 8 colour band (Y, Cb, Cr planes) found by a random search for long
// output.
const uint8_t kLongBand[3 * 128] = {
    0xBC, 0x02, 0x00, 0xFF, 0x01, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF,
    0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x06, 0xF7, 0xF3, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x5E,
    0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xD6, 0x00,
    0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xE9, 0xFF, 0xFF, 0xFF, 0xFE, 0x02, 0xFF,
    0x00, 0x00, 0x03, 0xFF, 0xFF, 0xFF, 0x7C, 0x3E, 0xFF, 0xA6, 0xFF, 0xFF, 0x00, 0xFF, 0xFD, 0xFF,
    0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00,
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0xBF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x89, 0x89, 0x00, 0x00,
    0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0x06, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x2A,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,
    0x2C, 0x2C, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF,
    0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x6B, 0x6B, 0x52, 0x52, 0xFF, 0xFF, 0x88, 0x88, 0xFF, 0xFF,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x04, 0xFE, 0xFE, 0xFF, 0xFF,
    0x14, 0x14, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xA5, 0xA5, 0x00, 0x00, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x75, 0x75, 0x00, 0x00,
    0x4B, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
    0xFF, 0xFF, 0xFF, 0xFF, 0x5D, 0x5D, 0x00, 0x00, 0xFF, 0xFF, 0x09, 0x09, 0xFF, 0xFF, 0x00, 0x00,
    0x5D, 0x5D, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
    0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x28, 0x28,
    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0xFF, 0xFF, 0xFF, 0x6F, 0x6F, 0xFC, 0xFC, 0xFF, 0xFF, 0x00, 0x00, 0x14, 0x14, 0xFF, 0xFF,
};

}  // namespace

// The per-block constants behind wicketWorstCaseBytes() follow from the
// Annex K codes, the stuffing rule and the energy bound 1040^2.
TEST(WorstCase, BlockBoundsFollowFromTheCodesAndTheEnergyBound) {
    HuffmanState s;
    setHuffman(&s);
    ASSERT_EQ(initialize(&s), 0);
    EXPECT_EQ(worstBlockBits(s.lumCodes, 1040 * 1040, 4096), kWicketWorstLumBlockBits);
    EXPECT_EQ(worstBlockBits(s.chromCodes, 1040 * 1040, 4096), kWicketWorstChromBlockBits);
}

TEST(WorstCase, BandFormula) {
    EXPECT_EQ(wicketWorstCaseBytes(16, 8, true), (2 * 1713 + 2 * 1579 + 7) / 8 + 4 + 22);
    EXPECT_EQ(wicketWorstCaseBytes(8, 8, false), (1713 + 7) / 8 + 4 + 22);
    EXPECT_EQ(wicketWorstCaseBytes(5104, 8, true), 262563);
    EXPECT_EQ(wicketWorstCaseBytes(5104, 8, false), 136638);
    EXPECT_EQ(wicketWorstCaseBytes(24, 8, true), 0);
    EXPECT_EQ(wicketWorstCaseBytes(16, 4, false), 0);
    // Colour needs more than the 4 bytes per pixel once given; gray does not.
    EXPECT_GT(wicketWorstCaseBytes(5104, 8, true), 4 * 5104 * 8);
    EXPECT_LT(wicketWorstCaseBytes(5104, 8, false), 4 * 5104 * 8);
}

// Regression for the band output of 4 x pixels bytes: this colour band takes
// more, and is cut short in such a buffer.
TEST(WorstCase, ColourBandCanExceedFourBytesPerPixel) {
    Image img;
    img.width = 16;
    img.lines = 8;
    img.color = true;
    for (int c = 0; c < 3; ++c)
        img.planes[c].assign(kLongBand + 128 * c, kLongBand + 128 * (c + 1));
    BandCoder coder;
    std::vector<uint8_t> out;
    ASSERT_EQ(coder.encode(img, 0, 0, &out), 0);
    EXPECT_EQ(out.size(), 527u);
    EXPECT_LE(static_cast<int64_t>(out.size()), wicketWorstCaseBytes(16, 8, true));
    EXPECT_EQ(coder.encode(img, 0, 0, &out, 4 * 128), kWicketSizeError);
    EXPECT_LE(out.size(), 512u);
}

TEST(WorstCase, NoiseBandsStayWithinTheBound) {
    for (bool color : {true, false}) {
        for (Content content : {Content::Noise, Content::BinaryNoise}) {
            const Image img = makeImage(content, 5104, 8, color, 31);
            BandCoder coder;
            std::vector<uint8_t> out;
            ASSERT_EQ(coder.encode(img, 0, 0, &out), 0);
            const double perPixel = static_cast<double>(out.size()) / (5104 * 8);
            EXPECT_LE(static_cast<int64_t>(out.size()), wicketWorstCaseBytes(5104, 8, color));
            const bool binary = content == Content::BinaryNoise;
            EXPECT_GT(perPixel, color ? (binary ? 3.4 : 2.8) : (binary ? 1.8 : 1.5));
        }
    }
}
