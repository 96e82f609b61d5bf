// The band compressor: stream layout, markers, settings, errors, capacity,
// round trips through our own decoder, and the worst-case output size.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "compress/wicket.h"
#include "compress/wicketdecode.h"
#include "jpeg_helpers.h"

using jpegtest::BandCoder;
using jpegtest::codedBits;
using jpegtest::concat;
using jpegtest::Content;
using jpegtest::Image;
using jpegtest::makeImage;

namespace {

// A coder and settings prepared as the filter prepares them for a band.
struct Prepared {
    HuffmanState coder;
    WicketSettings settings;
    explicit Prepared(int32_t restartInterval = 0, int restartIndex = 0, bool markers = true) {
        setHuffman(&coder);
        coder.restartIndex = restartIndex;
        int32_t status = initialize(&coder);
        setWicket(&settings, &coder, &status);
        reinitialize(&settings, &coder);
        setRestartInterval(restartInterval, &settings);
        settings.emitQMarkers = markers;
    }
};

struct Result {
    int32_t code = 0;
    std::vector<uint8_t> bytes;
};

Result compressColor(Prepared& s, const Image& img, const std::vector<uint8_t>& map,
                     int64_t capacity = -1) {
    const int pixels = img.width * img.lines;
    if (capacity < 0) capacity = 8 * int64_t{pixels};
    Result r;
    r.bytes.assign(static_cast<size_t>(capacity), 0);
    int32_t length = -1;
    r.code = wicketCompressPlanes(static_cast<int32_t>(map.size()), map.data(), img.width, pixels,
                                  img.planes[0].data(), img.planes[1].data(), img.planes[2].data(),
                                  static_cast<int32_t>(capacity), r.bytes.data(), &length,
                                  &s.settings, &s.coder);
    r.bytes.resize(static_cast<size_t>(length));
    return r;
}

Result compressGray(Prepared& s, const Image& img, const std::vector<uint8_t>& map,
                    int64_t capacity = -1) {
    const int pixels = img.width * img.lines;
    if (capacity < 0) capacity = 8 * int64_t{pixels};
    Result r;
    r.bytes.assign(static_cast<size_t>(capacity), 0);
    int32_t length = -1;
    r.code = wicketCompressMonoPlane(static_cast<int32_t>(map.size()), map.data(), img.width,
                                     pixels, img.planes[0].data(), static_cast<int32_t>(capacity),
                                     r.bytes.data(), &length, &s.settings, &s.coder);
    r.bytes.resize(static_cast<size_t>(length));
    return r;
}

// What the compressor quantises for a plane under a map copy (4:2:2 chroma
// when subsampled), with the settings' quantisers.
std::vector<int32_t> reference(const std::vector<uint8_t>& plane, int width, int lines,
                               bool subsampled, const std::vector<uint8_t>& map, bool chroma,
                               const WicketSettings& s) {
    const int planeWidth = subsampled ? width / 2 : width;
    std::vector<int32_t> out(static_cast<size_t>(planeWidth) * static_cast<size_t>(lines));
    downSampleInt(width, width * lines, plane.data(), subsampled ? SAMPLE_422 : SAMPLE_444,
                  static_cast<int32_t>(out.size() * 4), out.data());
    fDCTransform(out.data(), planeWidth, lines, map.data(), 0, nullptr);
    quantizePlane(planeWidth, lines, out.data(), chroma ? 1 : 0, map.data(), s.flatQuant,
                  s.chromQuant, s.lumQuant);
    return out;
}

// Decodes `bytes` with settings like the writer's and checks every
// coefficient against the reference.  `map` is the luminance map; for colour
// every MCU's two entries must be equal (so that it is also the map copy).
void expectRoundTrip(const std::vector<uint8_t>& bytes, const Image& img,
                     const std::vector<uint8_t>& map, int32_t restartInterval,
                     bool deltaDC = true) {
    Prepared d(restartInterval);
    if (!deltaDC) clearUseDeltaDC(&d.settings);
    if (!img.color) setSampleType(SAMPLE_444, &d.settings);
    WicketDecodedPlanes planes;
    ASSERT_EQ(wicketDecodeStream(bytes.data(), static_cast<int32_t>(bytes.size()), img.width,
                                 img.lines, img.color, map.data(), &planes, &d.settings, &d.coder),
              0);
    std::vector<uint8_t> chromMap;
    for (size_t i = 0; i < map.size(); i += 2)
        chromMap.push_back(map[i]);
    for (int c = 0; c < planes.components; ++c) {
        const bool chroma = c > 0;
        const auto expected = reference(img.planes[c], img.width, img.lines, chroma,
                                        chroma ? chromMap : map, chroma, d.settings);
        ASSERT_EQ(planes.coefficients[c], expected) << "component " << c;
    }
}

int countMarkers(const std::vector<uint8_t>& b, uint8_t code) {
    int n = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i)
        n += b[i] == 0xFF && b[i + 1] == code;
    return n;
}

}  // namespace

TEST(WicketStream, BandLayoutGoldens) {
    const Image white16 = makeImage(Content::White, 16, 8, true, 0);
    const std::vector<uint8_t> mcu = codedBits({
        "11111110", "1111111000", "1010",  // Y left: DC 1016 (category 10), EOB
        "00", "1010",                      // Y right: DC difference 0, EOB
        "00", "00",                        // Cb: DC 0, EOB (chrominance codes)
        "00", "00",                        // Cr
    });
    {
        // First band of an image: flat-quantiser marker, one MCU, RST0.
        Prepared s(2, 0, true);
        const Result r = compressColor(s, white16, {3, 3});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.bytes, concat({{0xFF, 0x2B}, mcu, {0xFF, 0xD0}}));
    }
    {
        // A later band (index 3): no marker, RST3.
        Prepared s(2, 3, false);
        const Result r = compressColor(s, white16, {3, 3});
        EXPECT_EQ(r.bytes, concat({mcu, {0xFF, 0xD3}}));
    }
    {
        // Gray, two blocks, prediction off: each DC is coded in full.
        Prepared s(2, 0, true);
        clearUseDeltaDC(&s.settings);
        const Image white = makeImage(Content::White, 16, 8, false, 0);
        const Result r = compressGray(s, white, {3, 3});
        EXPECT_EQ(
            r.bytes,
            concat({{0xFF, 0x2B},
                    codedBits({"11111110", "1111111000", "1010", "11111110", "1111111000", "1010"}),
                    {0xFF, 0xD0}}));
    }
}

TEST(WicketStream, QuantiserMarkersFollowTheMap) {
    const Image img = makeImage(Content::Photo, 64, 8, true, 4);
    {
        Prepared s(8);
        const std::vector<uint8_t> tables(8, 1);
        const Result r = compressColor(s, img, tables);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.bytes[0], 0xFF);
        EXPECT_EQ(r.bytes[1], 0x2C);
        EXPECT_EQ(countMarkers(r.bytes, 0x2B), 0);
        expectRoundTrip(r.bytes, img, tables, 8);
    }
    {
        // Types 1, 3 on alternate MCUs: a marker before every MCU, and every
        // MCU's DC predicted from 0 (the round trip checks the reset).
        Prepared s(8);
        const std::vector<uint8_t> map{1, 1, 3, 3, 1, 1, 3, 3};
        const Result r = compressColor(s, img, map);
        ASSERT_EQ(r.code, 0);
        std::vector<uint8_t> order;
        for (size_t i = 0; i + 1 < r.bytes.size(); ++i) {
            if (r.bytes[i] == 0xFF && (r.bytes[i + 1] == 0x2B || r.bytes[i + 1] == 0x2C)) {
                order.push_back(r.bytes[i + 1]);
            }
        }
        EXPECT_EQ(order, (std::vector<uint8_t>{0x2C, 0x2B, 0x2C, 0x2B}));
        expectRoundTrip(r.bytes, img, map, 8);

        // Without markers the predictors still reset at each change.
        Prepared quiet(8, 0, false);
        const Result q = compressColor(quiet, img, map);
        EXPECT_EQ(countMarkers(q.bytes, 0x2B) + countMarkers(q.bytes, 0x2C), 0);
        expectRoundTrip(q.bytes, img, map, 8);
    }
    {
        Prepared s(8);
        setPadQMarker(&s.settings);
        const Result r = compressColor(s, img, std::vector<uint8_t>(8, 3));
        EXPECT_TRUE(std::all_of(r.bytes.begin(), r.bytes.begin() + 21,
                                [](uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(r.bytes[21], 0x2B);
        expectRoundTrip(r.bytes, img, std::vector<uint8_t>(8, 3), 8);
    }
}

TEST(WicketStream, DeltaDcOffCodesEachDc) {
    const Image img = makeImage(Content::Text, 32, 16, true, 2);
    Prepared s(0);
    clearUseDeltaDC(&s.settings);
    const std::vector<uint8_t> map(8, 3);
    const Result r = compressColor(s, img, map);
    ASSERT_EQ(r.code, 0);
    expectRoundTrip(r.bytes, img, map, 0, false);
}

TEST(WicketStream, OneRestartMarkerWhenTheIntervalCoversTheBand) {
    const Image img = makeImage(Content::Noise, 64, 8, false, 9);
    Prepared s(8, 5);
    setSampleType(SAMPLE_444, &s.settings);
    const Result r = compressGray(s, img, std::vector<uint8_t>(8, 3));
    ASSERT_EQ(r.code, 0);
    int markers = 0;
    for (uint8_t n = 0xD0; n <= 0xD7; ++n)
        markers += countMarkers(r.bytes, n);
    EXPECT_EQ(markers, 1);
    EXPECT_EQ(r.bytes[r.bytes.size() - 2], 0xFF);
    EXPECT_EQ(r.bytes.back(), 0xD5);
}

TEST(WicketStream, SizeAndModeErrors) {
    const Image c24 = makeImage(Content::Photo, 24, 8, true, 1);
    const Image g24 = makeImage(Content::Photo, 24, 8, false, 1);
    const Image c16 = makeImage(Content::Photo, 16, 8, true, 1);
    const std::vector<uint8_t> map3(3, 3);
    {
        Prepared s(3);
        EXPECT_EQ(compressColor(s, c24, map3).code, 69);  // odd interval before the size rule
        setRestartInterval(0, &s.settings);
        const Result r = compressColor(s, c24, map3);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(compressGray(s, g24, map3).code, 0);
        setSampleType(SAMPLE_420, &s.settings);
        EXPECT_EQ(compressColor(s, c16, {3, 3}).code, 4);
    }
    {
        Prepared s(0);
        EXPECT_EQ(compressColor(s, c16, {3, 3}, 3 * 128 - 1).code, 2);
        EXPECT_EQ(compressColor(s, c16, {3, 3}, 3 * 128).code, 0);
        // Regression: a map shorter or longer than the band's blocks was read
        // past its end or drove the loop past the planes.
        EXPECT_EQ(compressColor(s, c16, {3}).code, 2);
        EXPECT_EQ(compressColor(s, c16, {3, 3, 3, 3}).code, 2);
        EXPECT_EQ(compressGray(s, g24, {3, 3}).code, 2);
    }
    {
        Prepared s(0);
        s.settings.initStatus = 1539;
        EXPECT_EQ(compressColor(s, c16, {3, 3}).code, 1539);
        EXPECT_EQ(compressGray(s, g24, map3).code, 1539);
    }
    {
        Prepared s(0);
        std::vector<uint8_t> out(4096);
        int32_t length = 7;
        EXPECT_EQ(wicketCompressPlanes(2, map3.data(), 16, 128, c16.planes[0].data(), nullptr,
                                       c16.planes[2].data(), 4096, out.data(), &length, &s.settings,
                                       &s.coder),
                  1);
        EXPECT_EQ(length, 0);
        int32_t y = 0;
        int32_t cb = 0;
        EXPECT_EQ(wicketCompressSeparatedPlanes(2, map3.data(), 16, 128, c16.planes[0].data(),
                                                c16.planes[1].data(), nullptr, 4096, out.data(),
                                                out.data(), nullptr, &y, &cb, nullptr, &s.settings,
                                                &s.coder),
                  1);
        EXPECT_EQ(wicketCompressMonoPlane(2, map3.data(), 16, 128, c16.planes[0].data(), 127,
                                          out.data(), &length, &s.settings, &s.coder),
                  2);
    }
}

TEST(WicketStream, SeparatedPlanes) {
    const Image img = makeImage(Content::Photo, 32, 16, true, 6);
    const std::vector<uint8_t> map(8, 3);
    Prepared s(0);
    std::vector<uint8_t> out[3];
    for (auto& o : out)
        o.assign(4096, 0);
    int32_t len[3] = {-1, -1, -1};
    auto separated = [&](int32_t mapLength, int32_t pixels) {
        return wicketCompressSeparatedPlanes(
            mapLength, map.data(), 32, pixels, img.planes[0].data(), img.planes[1].data(),
            img.planes[2].data(), 4096, out[0].data(), out[1].data(), out[2].data(), &len[0],
            &len[1], &len[2], &s.settings, &s.coder);
    };
    ASSERT_EQ(separated(8, 512), 0);
    EXPECT_GT(len[1], 0);
    EXPECT_GT(len[2], 0);
    // The Y stream is the mono stream of the same plane.
    Prepared m(0);
    Image gray = img;
    gray.color = false;
    const Result mono = compressGray(m, gray, map);
    EXPECT_EQ(std::vector<uint8_t>(out[0].begin(), out[0].begin() + len[0]), mono.bytes);
    expectRoundTrip(mono.bytes, gray, map, 0);
    // 4:2:0 takes 16 lines, not 8.
    setSampleType(SAMPLE_420, &s.settings);
    EXPECT_EQ(separated(8, 512), 0);
    EXPECT_EQ(separated(4, 256), 2);
    // A write failure stops the call; the plane being coded keeps length 0.
    const Image noise = makeImage(Content::Noise, 32, 16, false, 3);
    const Result cut = compressGray(m, noise, map, 512);
    EXPECT_EQ(cut.code, 2);
    EXPECT_TRUE(cut.bytes.empty());
}

TEST(WicketOptions, OptionTriplets) {
    Prepared s;
    EXPECT_EQ(setSampleType(0x421, &s.settings), 4);
    EXPECT_EQ(querySampleType(&s.settings), SAMPLE_444);
    EXPECT_EQ(setQFactor2(75, 50, &s.settings), 0);
    EXPECT_EQ(queryQFactor(&s.settings), 19250);
    EXPECT_EQ(setQFactor(0, &s.settings), 4);
    EXPECT_EQ(setQFactor2(50, 101, &s.settings), 4);
    EXPECT_EQ(queryQFactor(&s.settings), 19250);  // unchanged
    EXPECT_EQ(s.settings.lumQuant[0], 8 * 8);     // K.1 at quality 75: (16 x 50 + 50) / 100
    EXPECT_EQ(setRestartInterval(12, &s.settings), 0);
    EXPECT_EQ(setRestartInterval(4, &s.settings), 12);
    EXPECT_FALSE(setPadQMarker(&s.settings));
    EXPECT_TRUE(clearUseDeltaDC(&s.settings));
    reinitialize(&s.settings, &s.coder);
    EXPECT_EQ(querySampleType(&s.settings), SAMPLE_422);
    EXPECT_EQ(queryQFactor(&s.settings), 80);
    EXPECT_EQ(queryRestartInterval(&s.settings), 0);
    EXPECT_FALSE(queryPadQMarker(&s.settings));
    EXPECT_TRUE(queryUseDeltaDC(&s.settings));
    EXPECT_TRUE(wicketQueryByteStuffing(&s.coder));

    // A failed table build is retried by reinitialize.
    WicketSettings w;
    const int32_t failed = 1539;
    setWicket(&w, &s.coder, &failed);
    EXPECT_EQ(w.initStatus, 1539);
    reinitialize(&w, &s.coder);
    EXPECT_EQ(w.initStatus, 0);
}
class WicketRoundTrip : public ::testing::TestWithParam<std::tuple<bool, Content, int>> {};

TEST_P(WicketRoundTrip, OurDecoderReadsBackEveryCoefficient) {
    const auto [color, content, width] = GetParam();
    const Image img = makeImage(content, width, 32, color, 17);
    BandCoder coder;
    const std::vector<uint8_t> joined = coder.encodeImage(img);
    expectRoundTrip(joined, img, std::vector<uint8_t>(static_cast<size_t>(width / 8 * 4), 3),
                    width / 8);
}

INSTANTIATE_TEST_SUITE_P(Bands, WicketRoundTrip,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Content::Text, Content::Photo,
                                                              Content::Noise),
                                            ::testing::Values(16, 2560)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "color_" : "gray_") +
                                    jpegtest::contentName(std::get<1>(info.param)) + "_w" +
                                    std::to_string(std::get<2>(info.param));
                         });

// A band that does not fit is cut (result 2), never written past capacity.
TEST(WicketCapacity, TightOutputIsCutNotOverrun) {
    const Image color = makeImage(Content::BinaryNoise, 256, 8, true, 8);
    const std::vector<uint8_t> map(32, 3);
    Prepared full(32);
    const Result whole = compressColor(full, color, map);
    ASSERT_EQ(whole.code, 0);
    ASSERT_GT(whole.bytes.size(), 3u * 2048);  // noise takes more than 3 bytes a pixel
    for (int32_t cap : {3 * 2048, 3 * 2048 + 1, 3 * 2048 + 101}) {
        Prepared s(32);
        std::vector<uint8_t> out(static_cast<size_t>(cap) + 64, 0xAA);
        int32_t length = -1;
        EXPECT_EQ(wicketCompressPlanes(32, map.data(), 256, 2048, color.planes[0].data(),
                                       color.planes[1].data(), color.planes[2].data(), cap,
                                       out.data(), &length, &s.settings, &s.coder),
                  2);  // regression: a cut stream was reported as success
        EXPECT_LE(length, cap);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + length, whole.bytes.begin()));
        EXPECT_TRUE(std::all_of(out.begin() + cap, out.end(), [](uint8_t b) { return b == 0xAA; }));
    }
    const Image gray = makeImage(Content::Noise, 256, 8, false, 8);
    Prepared s(32);
    std::vector<uint8_t> out(2048 + 64, 0xAA);
    int32_t length = -1;
    EXPECT_EQ(wicketCompressMonoPlane(32, map.data(), 256, 2048, gray.planes[0].data(), 2048,
                                      out.data(), &length, &s.settings, &s.coder),
              2);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(std::all_of(out.begin() + 2048, out.end(), [](uint8_t b) { return b == 0xAA; }));
}

TEST(WicketDecoder, RestartSegmentErrorsAndHostileStreams) {
    const Image img = makeImage(Content::Photo, 64, 32, false, 12);
    BandCoder coder;
    const std::vector<uint8_t> joined = coder.encodeImage(img);  // RST0..RST3
    Prepared d(8);
    WicketDecodedPlanes planes;
    auto decode = [&](const std::vector<uint8_t>& bytes) {
        return wicketDecodeStream(bytes.data(), static_cast<int32_t>(bytes.size()), 64, 32, false,
                                  nullptr, &planes, &d.settings, &d.coder);
    };
    ASSERT_EQ(decode(joined), 0);
    EXPECT_EQ(planes.segments, 4);

    std::vector<uint8_t> wrong = joined;
    for (size_t i = 0; i + 1 < wrong.size(); ++i) {
        if (wrong[i] == 0xFF && wrong[i + 1] == 0xD1) wrong[i + 1] = 0xD2;
    }
    EXPECT_EQ(decode(wrong), 69);
    std::vector<uint8_t> none;
    for (size_t i = 0; i < joined.size(); ++i) {
        if (joined[i] == 0xFF && i + 1 < joined.size() && joined[i + 1] >= 0xD0 &&
            joined[i + 1] <= 0xD7) {
            ++i;
            continue;
        }
        none.push_back(joined[i]);
    }
    EXPECT_EQ(decode(none), 67);
    setRestartInterval(0, &d.settings);
    setSegmentInput(joined.data(), static_cast<int32_t>(joined.size()), &d.settings);
    int32_t blocks = 0;
    EXPECT_EQ(getSegment(32, &blocks, &d.settings, &d.coder), 0);
    EXPECT_EQ(blocks, 32);
    EXPECT_EQ(getSegment(32, &blocks, &d.settings, &d.coder), 68);
    setRestartInterval(8, &d.settings);

    // Every prefix and some damaged copies: an error or success, in bounds.
    for (size_t n = 0; n + 2 < joined.size(); n += 7) {
        const std::vector<uint8_t> prefix(joined.begin(),
                                          joined.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_NE(decode(prefix), 0) << n;
    }
    std::mt19937 rng(2);
    for (int trial = 0; trial < 100; ++trial) {
        std::vector<uint8_t> damaged = joined;
        for (int k = 0; k < 5; ++k)
            damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
        decode(damaged);
    }
}
