// tbrle_encode of one image's tag plane (256 lines of 5104 pixels, one byte per
// pixel): the filter's usual plane, all 3, and a mixed plane of long runs,
// repeat 0s and short irregular stretches.  Items are pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "compress/tbrle.h"

namespace {

constexpr uint32_t kPixels = 256 * 5104;

std::vector<uint8_t> makePlane(bool mixed) {
    std::vector<uint8_t> plane(kPixels, 3);
    if (!mixed) return plane;
    std::mt19937 rng(7);
    size_t at = 0;
    while (at < plane.size()) {
        const uint8_t v = static_cast<uint8_t>(1 + rng() % 4);
        // Mostly long runs written as a value and repeat 0s; some short noisy
        // stretches that end up as literals.
        const size_t len = rng() % 4 == 0 ? 1 + rng() % 24 : 64 + rng() % 2000;
        const bool noisy = len < 25;
        for (size_t k = 0; k < len && at < plane.size(); ++k, ++at) {
            plane[at] = noisy ? static_cast<uint8_t>(1 + rng() % 4) : (k == 0 ? v : 0);
        }
    }
    return plane;
}

void encodePlane(benchmark::State& state) {
    const std::vector<uint8_t> plane = makePlane(state.range(0) != 0);
    std::vector<uint8_t> out(2 * plane.size());
    uint32_t length = 0;
    for (auto _ : state) {
        length = tbrle_encode(static_cast<uint32_t>(out.size()), out.data(),
                              static_cast<uint32_t>(plane.size()), plane.data());
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.counters["stream_bytes"] = length;
    state.SetItemsProcessed(int64_t(state.iterations()) * kPixels);
}

}  // namespace

BENCHMARK(encodePlane)->Arg(0)->Name("tbrle_encode/all3");
BENCHMARK(encodePlane)->Arg(1)->Name("tbrle_encode/mixed");

BENCHMARK_MAIN();
