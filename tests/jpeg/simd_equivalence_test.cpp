// The block-column pipeline with its vector kernels and the portable
// plane-by-plane path (QZ_FORCE_SCALAR=1) must give the same bytes and leave
// the coder in the same state, whatever the band holds.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compress/simd/kernels.h"
#include "jpeg_helpers.h"

namespace {

using jpegtest::Content;

// Restores the path the environment chose when a test ends.
struct PathGuard {
    bool scalar = qzsimd::scalarPathForced();
    ~PathGuard() { qzsimd::forceScalarPath(scalar); }
};

enum class Kind { Random, Flat, Gradient, Text, Extreme, White };

const char* kindName(Kind k) {
    static const char* const names[] = {"random", "flat", "gradient", "text", "extreme", "white"};
    return names[static_cast<int>(k)];
}

// One plane (c = 0 luminance or gray, 1 and 2 chroma).  Flat: every 16 x 8
// area one level (black, white, mid or random), a few with one odd pixel;
// extreme: random 0 / 255 pixels, the content that codes to the most bytes.
std::vector<uint8_t> makePlane(Kind kind, int width, int lines, int c, uint32_t seed) {
    std::mt19937 rng(seed * 31u + static_cast<uint32_t>(c));
    if (kind == Kind::Text) return jpegtest::makePlane(Content::Text, width, lines, seed, c);
    std::vector<uint8_t> p(static_cast<size_t>(width) * static_cast<size_t>(lines));
    std::vector<uint8_t> levels(static_cast<size_t>(width / 16 + 1) * (lines / 8 + 1));
    for (uint8_t& l : levels) {
        const uint32_t pick = rng() % 4;
        l = pick == 0 ? 0 : pick == 1 ? 255 : pick == 2 ? 128 : static_cast<uint8_t>(rng());
    }
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t v = 0;
            switch (kind) {
                case Kind::Random:
                    v = static_cast<uint8_t>(rng());
                    break;
                case Kind::Flat:
                    v = levels[static_cast<size_t>(y / 8) * (width / 16 + 1) + x / 16];
                    if (rng() % 997 == 0) v = static_cast<uint8_t>(v ^ 1);
                    break;
                case Kind::Gradient:
                    v = static_cast<uint8_t>(x * 255 / width + 7 * y + 40 * c);
                    break;
                case Kind::Extreme:
                    v = (rng() & 1) != 0 ? 255 : 0;
                    break;
                case Kind::White:
                    v = c == 0 ? 255 : 128;
                    break;
                case Kind::Text:
                    break;
            }
            p[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = v;
        }
    }
    return p;
}

struct Call {
    int width = 16;
    int lines = 8;
    bool color = true;
    int32_t sampleType = SAMPLE_422;
    int32_t restartIndex = 0;
    bool emitQ = false;
    bool pad = false;
    bool deltaDC = true;
    int32_t flatQuant = kFlatQuantizer;
    int64_t capacity = -1;  // < 0: the worst case
};

struct Outcome {
    int32_t result = 0;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> state;  // restart index, coefficient position, count, predictors
};

// The filter's per-band sequence on a coder and settings record that live
// on from call to call, on the chosen path.
Outcome encode(bool scalar, const std::vector<uint8_t>* planes, const Call& call,
               HuffmanState& coder, WicketSettings& settings) {
    qzsimd::forceScalarPath(scalar);
    const int pixels = call.width * call.lines;
    setHuffman(&coder);
    coder.restartIndex = call.restartIndex;
    int32_t status = initialize(&coder);
    setWicket(&settings, &coder, &status);
    reinitialize(&settings, &coder);
    setRestartInterval(call.width / 8, &settings);
    settings.emitQMarkers = call.emitQ;
    settings.padQMarker = call.pad;
    settings.useDeltaDC = call.deltaDC;
    settings.flatQuant = call.flatQuant;
    const std::vector<uint8_t> map(static_cast<size_t>(pixels / 64), 3);
    const int64_t capacity = call.capacity >= 0
                                 ? call.capacity
                                 : wicketWorstCaseBytes(call.width, call.lines, call.color);
    Outcome o;
    std::vector<uint8_t> out(static_cast<size_t>(capacity) + 64, 0xA5);
    int32_t length = 0;
    if (call.color) {
        setSampleType(call.sampleType, &settings);
        o.result =
            wicketCompressPlanes(pixels / 64, map.data(), call.width, pixels, planes[0].data(),
                                 planes[1].data(), planes[2].data(), static_cast<int32_t>(capacity),
                                 out.data(), &length, &settings, &coder);
    } else {
        setSampleType(SAMPLE_444, &settings);
        o.result = wicketCompressMonoPlane(pixels / 64, map.data(), call.width, pixels,
                                           planes[0].data(), static_cast<int32_t>(capacity),
                                           out.data(), &length, &settings, &coder);
    }
    // Nothing beyond the capacity is touched.
    for (size_t i = static_cast<size_t>(capacity); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xA5) << "byte " << i << " beyond the capacity";
    o.bytes.assign(out.begin(), out.begin() + length);
    o.state = {coder.restartIndex, coder.coefPosition, settings.restartMcuCount,
               settings.prevDC[0], settings.prevDC[1], settings.prevDC[2]};
    return o;
}

struct Paths {
    PathGuard guard;
    HuffmanState scalarCoder, fastCoder;
    WicketSettings scalarSettings, fastSettings;

    void expectSame(const std::vector<uint8_t>* planes, const Call& call, const std::string& what) {
        const Outcome a = encode(true, planes, call, scalarCoder, scalarSettings);
        const Outcome b = encode(false, planes, call, fastCoder, fastSettings);
        EXPECT_EQ(a.result, b.result) << what;
        EXPECT_EQ(a.bytes.size(), b.bytes.size()) << what;
        EXPECT_TRUE(a.bytes == b.bytes) << what;
        EXPECT_EQ(a.state, b.state) << what;
    }
};

}  // namespace

// Every content kind, colour and gray, narrow to full A4 width, every restart
// index, with and without the quantiser marker: the filter's own calls.
static void compareFilterBands() {
    Paths paths;
    std::mt19937 rng(2026);
    for (Kind kind :
         {Kind::Random, Kind::Flat, Kind::Gradient, Kind::Text, Kind::Extreme, Kind::White}) {
        for (bool color : {true, false}) {
            for (int width : {16, 5104, 16 * static_cast<int>(2 + rng() % 200)}) {
                std::vector<uint8_t> planes[3];
                for (int c = 0; c < (color ? 3 : 1); ++c)
                    planes[c] = makePlane(kind, width, 8, c, static_cast<uint32_t>(rng()));
                for (int32_t index = 0; index < 8; ++index) {
                    for (bool emitQ : {false, true}) {
                        Call call;
                        call.width = width;
                        call.color = color;
                        call.restartIndex = index;
                        call.emitQ = emitQ;
                        paths.expectSame(planes, call,
                                         std::string(kindName(kind)) +
                                             (color ? " colour" : " gray") + " width " +
                                             std::to_string(width) + " RST" +
                                             std::to_string(index) + (emitQ ? " marker" : ""));
                    }
                }
            }
        }
    }
}

// The filter's bands on every instruction set this processor has (AVX-512,
// AVX2, SSE4 and SSSE3 on x86-64; the 4-lane code serves NEON too) and on the
// non-vector fallback.
TEST(SimdEquivalence, FilterBandsGiveTheSameBytesOnBothPaths) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(hwy::TargetName(target));
        EXPECT_STREQ(qzsimd::kernelTargetName(), hwy::TargetName(target));
        compareFilterBands();
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Settings the filter does not use but callers may: several block rows,
// 4:4:4, padded markers, no DC prediction, quantisers that let coefficients
// exceed what the coder can carry (refused values), and outputs too small
// for the band (cut streams).
TEST(SimdEquivalence, OtherSettingsAndCutStreamsGiveTheSameBytes) {
    Paths paths;
    std::mt19937 rng(11);
    for (Kind kind : {Kind::Random, Kind::Flat, Kind::Extreme, Kind::Gradient}) {
        for (bool color : {true, false}) {
            const int width = 16 * static_cast<int>(1 + rng() % 40);
            const int lines = 16;
            std::vector<uint8_t> planes[3];
            for (int c = 0; c < (color ? 3 : 1); ++c)
                planes[c] = makePlane(kind, width, lines, c, static_cast<uint32_t>(rng()));
            const std::string what = std::string(kindName(kind)) + (color ? " colour" : " gray") +
                                     " width " + std::to_string(width);
            Call call;
            call.width = width;
            call.lines = lines;
            call.color = color;
            call.emitQ = true;
            paths.expectSame(planes, call, what + " two block rows");
            Call full = call;
            full.sampleType = SAMPLE_444;
            paths.expectSame(planes, full, what + " 4:4:4");
            Call padded = call;
            padded.pad = true;
            padded.deltaDC = false;
            paths.expectSame(planes, padded, what + " padded marker, no prediction");
            for (int32_t q : {1, 2, 16}) {
                Call quant = call;
                quant.flatQuant = q;
                paths.expectSame(planes, quant, what + " flat quantiser " + std::to_string(q));
            }
            const int pixels = width * lines;
            for (int64_t capacity : {int64_t{3} * pixels, int64_t{3} * pixels + 517,
                                     int64_t{pixels}, int64_t{pixels} + 300}) {
                if (color && capacity < 3 * pixels) continue;
                Call cut = call;
                cut.capacity = capacity;
                paths.expectSame(planes, cut, what + " capacity " + std::to_string(capacity));
            }
        }
    }
}

// The white-margin scans of the colour conversion run the kernels on both
// paths: every instruction set must find the first and the last differing
// byte wherever it falls relative to the vectors, at any length.
TEST(SimdEquivalence, ByteScansFindTheDifferingBytesOnEveryTarget) {
    std::mt19937 rng(7);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(hwy::TargetName(target));
        for (size_t n = 0; n <= 150; ++n) {
            for (int differing = 0; differing <= 2; ++differing) {
                std::vector<uint8_t> p(n, 0xFF);
                for (int k = 0; k < differing && n > 0; ++k)
                    p[rng() % n] = static_cast<uint8_t>(rng() % 255);
                size_t first = n, end = 0;
                for (size_t i = 0; i < n; ++i) {
                    if (p[i] == 0xFF) continue;
                    first = std::min(first, i);
                    end = i + 1;
                }
                ASSERT_EQ(qzsimd::firstByteNotEqual(p.data(), n, 0xFF), first) << "length " << n;
                ASSERT_EQ(qzsimd::endOfBytesNotEqual(p.data(), n, 0xFF), end) << "length " << n;
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

// The block kernel on every instruction set: the same coefficients and wide
// flags as the first target, and symbols and non-zero masks (natural or
// zig-zag layout) that say exactly what the coefficients say.  Block counts
// 1 to 5, as the 512-bit kernels take blocks in pairs and an odd last one
// alone; both source modes; quantiser shifts 0 to 3 (wide blocks at 0).
TEST(SimdEquivalence, KernelSymbolsFollowTheCoefficientsOnEveryTarget) {
    // Listed once: a target set for the test narrows the list.
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    std::mt19937 rng(5);
    constexpr size_t kStride = 16 * 5;
    std::vector<uint8_t> source(8 * kStride);
    int32_t coefficients[5 * 64], reference[5 * 64];
    uint32_t symbols[5 * 64];
    uint64_t masks[5];
    uint8_t wide[5], referenceWide[5];
    for (int round = 0; round < 12; ++round) {
        // Each 8-byte stretch of a row random, 0 / 255 noise or flat.
        for (size_t x = 0; x < kStride; x += 8) {
            const uint32_t mode = rng() % 3;
            const auto level = static_cast<uint8_t>(rng());
            for (size_t y = 0; y < 8; ++y) {
                for (size_t i = x; i < x + 8; ++i) {
                    source[y * kStride + i] = mode == 0   ? static_cast<uint8_t>(rng())
                                              : mode == 1 ? ((rng() & 1) != 0 ? 255 : 0)
                                                          : level;
                }
            }
        }
        for (bool halve : {false, true}) {
            for (size_t count = 1; count <= 5; ++count) {
                for (int shift = 0; shift <= 3; ++shift) {
                    bool first = true;
                    for (int64_t target : targets) {
                        hwy::SetSupportedTargetsForTest(target);
                        SCOPED_TRACE(std::string(hwy::TargetName(target)) + " round " +
                                     std::to_string(round) + (halve ? " halved" : "") + " count " +
                                     std::to_string(count) + " shift " + std::to_string(shift));
                        const bool zigzag =
                            qzsimd::transformBlocks(source.data(), kStride, count, halve, shift,
                                                    coefficients, symbols, masks, wide);
                        if (first) {
                            std::copy_n(coefficients, 64 * count, reference);
                            std::copy_n(wide, count, referenceWide);
                            first = false;
                        }
                        ASSERT_TRUE(std::equal(coefficients, coefficients + 64 * count, reference));
                        ASSERT_TRUE(std::equal(wide, wide + count, referenceWide));
                        for (size_t b = 0; b < count; ++b) {
                            const auto* entries =
                                reinterpret_cast<const uint8_t*>(symbols + 64 * b);
                            for (int k = 1; k < 64; ++k) {
                                const int32_t n = qzsimd::kZigzagOrder[k];
                                const int32_t c = coefficients[64 * b + static_cast<size_t>(n)];
                                ASSERT_EQ((masks[b] >> (zigzag ? k : n)) & 1, c != 0 ? 1u : 0u)
                                    << "block " << b << " coefficient " << n;
                                if (c == 0 || wide[b] != 0) continue;
                                uint32_t size, bits;
                                if (zigzag) {
                                    uint16_t e;
                                    std::memcpy(&e, entries + 2 * k, 2);
                                    size = e >> 12;
                                    bits = e & 0xFFFu;
                                } else {
                                    size = symbols[64 * b + static_cast<size_t>(n)] >> 16;
                                    bits = symbols[64 * b + static_cast<size_t>(n)] & 0xFFFFu;
                                }
                                const auto magnitude = static_cast<uint32_t>(c < 0 ? -c : c);
                                ASSERT_EQ(size, static_cast<uint32_t>(std::bit_width(magnitude)));
                                ASSERT_EQ(bits, static_cast<uint32_t>(c < 0 ? c - 1 : c) &
                                                    ((1u << size) - 1));
                            }
                        }
                    }
                }
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}
