// One band (8 lines of 5104 pixels) through the filter's per-band JPEG
// sequence: setHuffman, restart index, initialize, setWicket, reinitialize,
// restart interval, then wicketCompressPlanes (colour, 4:2:2) or
// wicketCompressMonoPlane (gray), every block type 3.  Items are pixels.
// Each case runs on the vector kernels and on the scalar path
// (QZ_FORCE_SCALAR); anchorBand codes the same band with libjpeg-turbo
// (quality 100, 4:2:2, JDCT_ISLOW, a restart marker per MCU row) from the
// same Y, Cb, Cr planes, for comparison; JSIMD_FORCENONE=1 in the environment
// gives its plain C code.
#include <benchmark/benchmark.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "compress/huffman.h"
#include "compress/simd/kernels.h"
#include "compress/wicket.h"

#include <jpeglib.h>

namespace {

constexpr int kWidth = 5104;
constexpr int kPixels = kWidth * 8;
constexpr int kBandsPerImage = 32;

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

void compressBand(benchmark::State& state, Content content, bool color, bool scalar) {
    qzsimd::forceScalarPath(scalar);
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
    state.SetLabel(scalar ? "scalar" : qzsimd::kernelTargetName());
}

// libjpeg-turbo on the same band: one 5104 x 256 image per iteration (the
// band 32 times, so that its per-image setup weighs as little as in a page),
// Y, Cb, Cr interleaved as its input (no colour conversion on either side).
void anchorBand(benchmark::State& state, Content content, bool color) {
    const std::vector<uint8_t> planes[3] = {makePlane(content, 0), makePlane(content, 1),
                                            makePlane(content, 2)};
    const int components = color ? 3 : 1;
    std::vector<uint8_t> pixels(static_cast<size_t>(kPixels) * components);
    for (size_t i = 0; i < static_cast<size_t>(kPixels); ++i) {
        for (int c = 0; c < components; ++c)
            pixels[i * components + c] = planes[c][i];
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    for (auto _ : state) {
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = kWidth;
        cinfo.image_height = 8 * kBandsPerImage;
        cinfo.input_components = components;
        cinfo.in_color_space = color ? JCS_YCbCr : JCS_GRAYSCALE;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 100, TRUE);
        cinfo.dct_method = JDCT_ISLOW;
        cinfo.restart_in_rows = 1;
        if (color) {
            cinfo.comp_info[0].h_samp_factor = 2;
            cinfo.comp_info[0].v_samp_factor = 1;
        }
        jpeg_start_compress(&cinfo, TRUE);
        JSAMPROW rows[8];
        for (int y = 0; y < 8; ++y)
            rows[y] = pixels.data() + static_cast<size_t>(y) * kWidth * components;
        for (int band = 0; band < kBandsPerImage; ++band)
            jpeg_write_scanlines(&cinfo, rows, 8);
        jpeg_finish_compress(&cinfo);
        benchmark::DoNotOptimize(size);
    }
    state.counters["band_bytes"] = static_cast<double>(size) / kBandsPerImage;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPixels * kBandsPerImage);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
}

}  // namespace

BENCHMARK_CAPTURE(compressBand, color_white, kWhite, true, false);
BENCHMARK_CAPTURE(compressBand, color_text, kText, true, false);
BENCHMARK_CAPTURE(compressBand, color_photo, kPhoto, true, false);
BENCHMARK_CAPTURE(compressBand, gray_white, kWhite, false, false);
BENCHMARK_CAPTURE(compressBand, gray_text, kText, false, false);
BENCHMARK_CAPTURE(compressBand, gray_photo, kPhoto, false, false);
BENCHMARK_CAPTURE(compressBand, color_white_scalar, kWhite, true, true);
BENCHMARK_CAPTURE(compressBand, color_text_scalar, kText, true, true);
BENCHMARK_CAPTURE(compressBand, color_photo_scalar, kPhoto, true, true);
BENCHMARK_CAPTURE(compressBand, gray_white_scalar, kWhite, false, true);
BENCHMARK_CAPTURE(compressBand, gray_text_scalar, kText, false, true);
BENCHMARK_CAPTURE(compressBand, gray_photo_scalar, kPhoto, false, true);
BENCHMARK_CAPTURE(anchorBand, color_white, kWhite, true);
BENCHMARK_CAPTURE(anchorBand, color_text, kText, true);
BENCHMARK_CAPTURE(anchorBand, color_photo, kPhoto, true);
BENCHMARK_CAPTURE(anchorBand, gray_white, kWhite, false);
BENCHMARK_CAPTURE(anchorBand, gray_text, kText, false);
BENCHMARK_CAPTURE(anchorBand, gray_photo, kPhoto, false);

BENCHMARK_MAIN();
