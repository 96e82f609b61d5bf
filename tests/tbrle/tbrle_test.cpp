#include "compress/tbrle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Plane helpers, one byte per pixel.  group(p): the four pixels that pack into
// p (value 0 written as 4).  times(n, g): g repeated n times.
Bytes group(uint8_t packed) {
    Bytes px;
    for (int i = 0; i < 4; ++i) {
        const uint8_t v = (packed >> (2 * i)) & 3;
        px.push_back(v == 0 ? 4 : v);
    }
    return px;
}
Bytes times(size_t n, const Bytes& g) {
    Bytes out;
    for (size_t i = 0; i < n; ++i)
        out.insert(out.end(), g.begin(), g.end());
    return out;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Encodes into a heap buffer of exactly `capacity` bytes (the sanitizers see
// any write past it).
Bytes encode(const Bytes& in, uint32_t capacity) {
    Bytes out(capacity);
    out.resize(tbrle_encode(capacity, out.data(), uint32_t(in.size()), in.data()));
    return out;
}
Bytes encode(const Bytes& in) {
    return encode(in, tbrle_max_encoded_size(uint32_t(in.size())));
}

struct Decoded {
    uint32_t result;
    Bytes out;
};
// Decodes into a buffer pre-set to 0xEE of `capacity` bytes (default: the extent).
Decoded decode(const Bytes& s, uint32_t expected, uint32_t bpl = 0, uint32_t stride = 0,
               int64_t capacity = -1) {
    if (capacity < 0) capacity = int64_t(tbrle_decoded_extent(expected, bpl, stride));
    Decoded d{0, Bytes(size_t(capacity), 0xEE)};
    d.result = tbrle_decode(expected, d.out.data(), uint32_t(capacity), uint32_t(s.size()),
                            s.data(), bpl, stride);
    return d;
}

// Reference packing from the value rules: 1-3 are themselves, 4 is 0, 0 repeats
// the value before, leading 0s take the first value set.
Bytes packReference(const Bytes& in) {
    uint8_t prev = 0;
    for (uint8_t b : in) {
        if (b != 0) {
            prev = b & 3;
            break;
        }
    }
    Bytes out;
    for (size_t g = 0; g < in.size(); g += 4) {
        uint8_t packed = 0;
        for (size_t i = 0; i < 4; ++i) {
            if (g + i < in.size() && in[g + i] != 0) prev = in[g + i] & 3;
            packed |= prev << (2 * i);
        }
        out.push_back(packed);
    }
    return out;
}

// Tag planes: 0 text-like (long runs of one value written as the value and
// repeat 0s, a few short ones), 1 photo-like (runs of 1-40, the value written
// now and then), 2 random values 0-4.
Bytes plane(std::mt19937& rng, int kind, size_t n) {
    Bytes p;
    while (p.size() < n) {
        const uint8_t v = uint8_t(1 + rng() % 4);
        const size_t len = kind == 0 && rng() % 8 ? 200 + rng() % 900 : 1 + rng() % 40;
        for (size_t i = 0; i < len && p.size() < n; ++i) {
            if (kind == 2) {
                p.push_back(uint8_t(rng() % 5));
            } else {
                p.push_back(i == 0 || (kind == 1 && rng() % 3 == 0) ? v : 0);
            }
        }
    }
    return p;
}

}  // namespace

TEST(TbrleEncodePattern, GoldenPieces) {
    struct Case {
        const char* label;
        uint32_t classMinus1, count, space;
        Bytes pieces;
    };
    const Case cases[] = {
        {"1000 of class 4: 512 + 448 + 40", 3, 1000, 16, {0xF8, 0xF6, 0xEC}},
        {"10 x 512 of class 1: odd part first", 0, 10 * 512, 16, {0x99, 0x9F}},
        {"16 x 512 + 1: two full pieces and one", 0, 16 * 512 + 1, 16, {0x9F, 0x9F, 0x80}},
        {"511 of class 2: 7x64 7x8 7x1", 1, 511, 16, {0xB6, 0xAE, 0xA6}},
        {"whole pieces while space lasts", 3, 1000, 2, {0xF8, 0xF6}},
        {"empty run", 2, 0, 16, {}},
    };
    for (const Case& c : cases) {
        Bytes out(c.space);
        out.resize(encode_pattern(out.data(), c.space, c.classMinus1, c.count));
        EXPECT_EQ(out, c.pieces) << c.label;
        if (c.space == 16) {
            EXPECT_EQ(encode_pattern_length(c.count), c.pieces.size()) << c.label;
        }
    }
}

TEST(TbrleEncode, GoldenStreams) {
    Bytes literal129, expect129 = {0x7F};
    for (int p = 1, n = 0; n < 129; ++p) {
        if (compressable[p]) continue;
        literal129 = literal129 + group(uint8_t(p));
        if (n++ == 128) expect129.push_back(0x00);
        expect129.push_back(uint8_t(p));
    }
    struct Case {
        const char* label;
        Bytes input, stream;
    };
    const Bytes tail = {1, 2, 3, 4};  // packs to 0x39, a literal
    const Case cases[] = {
        {"all-0 plane of 4000", Bytes(4000, 0), {0x00}},
        {"empty plane", {}, {0x00}},
        {"1000 x 0xAA: one run, single byte", times(1000, {2, 2, 2, 2}), {0xAA}},
        {"the filter's all-3 tag plane", Bytes(8 * 5104, 3), {0xFF}},
        {"all value 0 (4s): uniform 0x00", Bytes(64, 4), {0x00}},
        {"leading 0s take the first value", {0, 0, 0, 0, 0, 2, 0, 0}, {0xAA}},
        {"0x55 run, 0xFF run, literal 0x39",
         Bytes{1, 0, 0, 0, 3, 3, 3, 3} + tail,
         {0xA0, 0xE0, 0x00, 0x39}},
        {"129 literal bytes: runs of 128 and 1", literal129, expect129},
        {"run of 512 of class 1", times(512, {4, 4, 4, 4}) + tail, {0x98, 0x00, 0x39}},
        {"run of 513", times(513, {4, 4, 4, 4}) + tail, {0x98, 0x80, 0x00, 0x39}},
        {"run of 7", times(7, {4, 4, 4, 4}) + tail, {0x86, 0x00, 0x39}},
        {"run of 8", times(8, {4, 4, 4, 4}) + tail, {0x88, 0x00, 0x39}},
        {"run of 9 written with repeat 0s",
         Bytes{4} + Bytes(35, 0) + tail,
         {0x88, 0x80, 0x00, 0x39}},
        {"bytes above 4 count modulo 4", {5, 6, 7, 8}, {0x00, 0x39}},
        {"short last group repeats its last value", {1, 1, 1, 1, 2}, {0xA0, 0xC0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encode(c.input), c.stream) << c.label;
}

TEST(TbrleEncode, RegressionFinalRunThatDoesNotFitFailsInsteadOfTruncating) {
    // Literal 0x39 then 1000 x 0xFF: 00 39 F8 F6 EC.  One byte less room would
    // drop the last piece and the stream would decode short.
    const Bytes in = Bytes{1, 2, 3, 4} + times(1000, {3, 3, 3, 3});
    EXPECT_EQ(encode(in, 5), (Bytes{0x00, 0x39, 0xF8, 0xF6, 0xEC}));
    EXPECT_EQ(encode(in, 4), Bytes{});
}

TEST(TbrleEncode, FailsForEveryCapacityShortOfTheStreamAndNeverWritesPastIt) {
    std::mt19937 rng(7);
    for (int round = 0; round < 30; ++round) {
        const Bytes in = plane(rng, round % 3, 256);
        const Bytes full = encode(in);
        for (uint32_t cap = 0; cap < full.size(); ++cap)
            ASSERT_EQ(encode(in, cap), Bytes{}) << cap;
        EXPECT_EQ(encode(in, uint32_t(full.size())), full);
    }
    Bytes out(16);
    EXPECT_EQ(tbrle_encode(16, nullptr, 4, Bytes(4, 3).data()), 0u) << "no output";
    EXPECT_EQ(tbrle_encode(16, out.data(), 4, nullptr), 0u) << "no input";
}

TEST(TbrleEncode, MaxEncodedSizeIsABoundAndIsReached) {
    Bytes worst;  // 0x39, 0xFF, 0x39, ...: one-byte literals between one-byte runs
    for (int i = 0; i < 101; ++i)
        worst = worst + group(i % 2 ? 0xFF : 0x39);
    EXPECT_EQ(encode(worst).size(), tbrle_max_encoded_size(uint32_t(worst.size())));
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const Bytes in = plane(rng, 2, 4 + rng() % 400);
        ASSERT_NE(encode(in).size(), 0u) << "the bound was too small";
    }
}

TEST(TbrleDecode, GoldenStreams) {
    Decoded d = decode({0xA0, 0xE0, 0x00, 0x39}, 3);
    EXPECT_EQ(d.result, 3u);
    EXPECT_EQ(d.out, (Bytes{0x55, 0xFF, 0x39})) << "runs and a literal";
    d = decode({0x00}, 5);
    EXPECT_EQ(d.result, 5u);
    EXPECT_EQ(d.out, Bytes(5, 0x00)) << "one-byte stream fills the plane";
    d = decode({0x05, 1, 2, 3, 4, 5, 6}, 6, 3, 8);
    EXPECT_EQ(d.result, 11u);
    EXPECT_EQ(d.out, (Bytes{1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 4, 5, 6}))
        << "lines of 3, stride 8";
    d = decode({0xE1, 0x00, 0x39}, 3, 0, 99);
    EXPECT_EQ(d.result, 3u);
    EXPECT_EQ(d.out, (Bytes{0xFF, 0xFF, 0x39})) << "bytes per line 0: contiguous, stride ignored";
    EXPECT_EQ(decode({0xA0, 0xC0}, 5).result, 2u) << "short stream: extent of what it held";
    EXPECT_EQ(decode({0xA0, 0xC0}, 5, 1, 4).result, 5u) << "... with lines of 1, stride 4";
}

TEST(TbrleDecode, RegressionOneByteStreamReportsTheExtentWithAStride) {
    const Decoded d = decode({0xFF}, 6, 3, 8);
    EXPECT_EQ(d.result, 11u);
    EXPECT_EQ(d.out, (Bytes{0xFF, 0xFF, 0xFF, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xFF, 0xFF, 0xFF}));
}

TEST(TbrleDecode, RegressionMalformedStreamsAreRejectedWithinBounds) {
    struct Case {
        const char* label;
        Bytes stream;
        uint32_t expected, bpl, stride;
        int64_t capacity;
    };
    const Case cases[] = {
        {"piece of 2, then a literal; 2 expected", {0xE1, 0x00, 0x39}, 2, 0, 0, -1},
        {"pieces of one class add up beyond", {0x9F, 0x9F}, 4096, 0, 0, -1},
        {"literal of 2, 1 expected", {0x01, 0x39, 0x39}, 1, 0, 0, -1},
        {"an item after the plane is complete", {0xA0, 0xA0}, 1, 0, 0, -1},
        {"truncated literal: 4 announced, 2 there", {0x03, 0x11, 0x22}, 10, 0, 0, -1},
        {"literal length byte at the very end", {0xA0, 0x05}, 10, 0, 0, -1},
        {"one-byte stream, room for 9 of 10", {0xFF}, 10, 0, 0, 9},
        {"runs, room for 9 of 10", {0x9F, 0x00}, 10, 0, 0, 9},
        {"extent 5 with stride 4, room for 4", {0x80, 0x80}, 2, 1, 4, 4},
        {"extent beyond 32 bits", {0xFF}, UINT32_MAX, 1, UINT32_MAX, 16},
        {"stride below bytes per line", {0x80, 0x80}, 4, 2, 1, 16},
        {"empty stream", {}, 4, 0, 0, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode(c.stream, c.expected, c.bpl, c.stride, c.capacity).result, 0u) << c.label;
    }
    uint8_t out[4];
    const uint8_t s[] = {0xFF};
    EXPECT_EQ(tbrle_decode(4, nullptr, 4, 1, s, 0, 0), 0u) << "no output";
    EXPECT_EQ(tbrle_decode(4, out, 4, 1, nullptr, 0, 0), 0u) << "no stream";
}

TEST(TbrleDecode, RandomBytesNeverReadOrWriteOutOfBounds) {
    std::mt19937 rng(99);
    for (int round = 0; round < 20000; ++round) {
        Bytes stream(1 + rng() % 48);
        for (auto& b : stream)
            b = uint8_t(rng());
        const uint32_t expected = rng() % 3000, bpl = rng() % 9, stride = bpl + rng() % 4;
        const uint64_t extent = tbrle_decoded_extent(expected, bpl, stride);
        const uint32_t capacity = uint32_t(rng() % 2 ? extent : rng() % (extent + 1));
        ASSERT_LE(decode(stream, expected, bpl, stride, capacity).result, capacity);
    }
}

TEST(TbrleRoundTrip, TagPlanesDecodeToTheirPackedForm) {
    std::mt19937 rng(2024);
    constexpr uint32_t kBpl = 128, kStride = 131, kLines = 16;  // 512 pixels per line
    for (int round = 0; round < 60; ++round) {
        const Bytes tags = plane(rng, round % 3, 4 * kBpl * kLines);
        const Bytes packed = packReference(tags);
        const Bytes stream = encode(tags);
        ASSERT_FALSE(stream.empty());
        const Decoded flat = decode(stream, uint32_t(packed.size()));
        ASSERT_EQ(flat.result, packed.size());
        ASSERT_EQ(flat.out, packed) << "kind " << round % 3;

        const Decoded lined = decode(stream, uint32_t(packed.size()), kBpl, kStride);
        ASSERT_EQ(lined.result, (kLines - 1) * kStride + kBpl);
        for (uint32_t i = 0; i < lined.out.size(); ++i) {
            const uint32_t line = i / kStride, col = i % kStride;
            ASSERT_EQ(lined.out[i], col < kBpl ? packed[line * kBpl + col] : 0xEE) << i;
        }
    }
}
