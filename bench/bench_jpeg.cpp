// One band (8 lines of 5104 pixels) through the filter's per-band JPEG
// sequence: setHuffman, restart index, initialize, setWicket, reinitialize,
// restart interval, then wicketCompressPlanes (colour, 4:2:2) or
// wicketCompressMonoPlane (gray), every block type 3.  Items are pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "compress/huffman.h"
#include "compress/wicket.h"

namespace {

constexpr int kWidth = 5104;
constexpr int kPixels = kWidth * 8;

enum Content { kWhite, kText, kPhoto };

// Y, Cb, Cr of one band: white paper; black text strokes on white with a
// little coloured ink; smooth colour gradients with grain.
std::vector<uint8_t> makePlane(Content content, int plane) {
    std::mt19937 rng(41 + plane);
    std::vector<uint8_t> p(kPixels);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            int v = plane == 0 ? 255 : 128;
            if (content == kText) {
                const bool ink = ((x / 3 + y / 2) % 11 == 0) || ((x * 5 + y * 3) % 37 < 3);
                if (ink) v = plane == 0 ? 20 : ((x / 64) % 3 == 1 ? 90 : 128);
            } else if (content == kPhoto) {
                v = 128 + static_cast<int>(100.0 * std::sin(x * 0.013 + y * 0.021 + plane * 1.7)) +
                    static_cast<int>(rng() % 9) - 4;
            }
            p[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)] =
                static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return p;
}

void compressBand(benchmark::State& state, Content content, bool color) {
    const std::vector<uint8_t> y = makePlane(content, 0);
    const std::vector<uint8_t> cb = makePlane(content, 1);
    const std::vector<uint8_t> cr = makePlane(content, 2);
    const std::vector<uint8_t> map(kWidth / 8, 3);
    std::vector<uint8_t> out(static_cast<size_t>(wicketWorstCaseBytes(kWidth, 8, color)));
    HuffmanState coder;
    WicketSettings settings;
    int32_t length = 0;
    int band = 0;
    for (auto _ : state) {
        setHuffman(&coder);
        coder.restartIndex = band % 8;
        int32_t status = initialize(&coder);
        setWicket(&settings, &coder, &status);
        reinitialize(&settings, &coder);
        setRestartInterval(kWidth / 8, &settings);
        settings.emitQMarkers = band % 32 == 0;
        const auto capacity = static_cast<int32_t>(out.size());
        if (color) {
            wicketCompressPlanes(kWidth / 8, map.data(), kWidth, kPixels, y.data(), cb.data(),
                                 cr.data(), capacity, out.data(), &length, &settings, &coder);
        } else {
            setSampleType(SAMPLE_444, &settings);
            wicketCompressMonoPlane(kWidth / 8, map.data(), kWidth, kPixels, y.data(), capacity,
                                    out.data(), &length, &settings, &coder);
        }
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
        ++band;
    }
    state.counters["band_bytes"] = length;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}

}  // namespace

BENCHMARK_CAPTURE(compressBand, color_white, kWhite, true);
BENCHMARK_CAPTURE(compressBand, color_text, kText, true);
BENCHMARK_CAPTURE(compressBand, color_photo, kPhoto, true);
BENCHMARK_CAPTURE(compressBand, gray_text, kText, false);
BENCHMARK_CAPTURE(compressBand, gray_photo, kPhoto, false);

BENCHMARK_MAIN();
