// rgbtoYCbCr on one colour band (8 lines) of a 5104-pixel-wide page: a text-like
// band (mostly white, a few short inked spans per line), a photo-like band
// (every pixel inked) and an all-white band.  Items are pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "compress/colorconvert.h"

namespace {

constexpr uint32_t kWidth = 5104;
constexpr uint32_t kLines = 8;
constexpr uint32_t kPixels = kWidth * kLines;
constexpr uint32_t kLineBytes = 3 * kWidth;

std::vector<uint8_t> makeBand(int kind) {
    std::vector<uint8_t> band(size_t{3} * kPixels, 0xFF);
    std::mt19937 rng(42);
    if (kind == 1) {
        // Text: a left margin of 300 pixels, then words of 10-60 pixels of
        // dark ink with gaps, up to a right margin of 300 pixels.
        for (uint32_t i = 0; i < kLines; ++i) {
            uint32_t x = 300;
            while (x < kWidth - 360) {
                const uint32_t word = 10 + rng() % 50;
                for (uint32_t k = 0; k < word; ++k) {
                    uint8_t* p = &band[3 * (size_t{i} * kWidth + x + k)];
                    p[0] = p[1] = p[2] = static_cast<uint8_t>(rng() % 64);
                }
                x += word + 20 + rng() % 200;
            }
        }
    } else if (kind == 2) {
        // Photo: smooth gradients with noise, no white at all.
        for (uint32_t i = 0; i < kLines; ++i) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                uint8_t* p = &band[3 * (size_t{i} * kWidth + x)];
                p[0] = static_cast<uint8_t>((x / 20 + rng() % 8) & 0xFE);
                p[1] = static_cast<uint8_t>((x / 30 + i + rng() % 8) & 0xFE);
                p[2] = static_cast<uint8_t>((200 - x / 40 + rng() % 8) & 0xFE);
            }
        }
    }
    return band;
}

void convertBand(benchmark::State& state) {
    const std::vector<uint8_t> band = makeBand(static_cast<int>(state.range(0)));
    std::vector<uint8_t> y(kPixels, 255), cb(kPixels, 128), cr(kPixels, 128);
    for (auto _ : state) {
        const int32_t r = rgbtoYCbCr(kLineBytes, kLineBytes * kLines, band.data(), kWidth, kPixels,
                                     y.data(), cb.data(), cr.data(), true);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

}  // namespace

BENCHMARK(convertBand)->Arg(1)->Name("rgbtoYCbCr/text");
BENCHMARK(convertBand)->Arg(2)->Name("rgbtoYCbCr/photo");
BENCHMARK(convertBand)->Arg(0)->Name("rgbtoYCbCr/white");

BENCHMARK_MAIN();
