// One band (8 lines of 5104 pixels) through the filter's per-band JPEG
// sequence: setHuffman, restart index, initialize, setWicket, reinitialize,
// restart interval, then wicketCompressPlanes (colour, 4:2:2) or
// wicketCompressMonoPlane (gray), every block type 3.  Items are pixels.
// Each case runs on the vector kernels and on the scalar path
// (QZ_FORCE_SCALAR); anchorBand codes the same band with libjpeg-turbo
// (quality 100, 4:2:2, JDCT_ISLOW, a restart marker per MCU row) from the
// same Y, Cb, Cr planes, for comparison; JSIMD_FORCENONE=1 in the environment
// gives its plain C code.
//
// With QZ_BENCH_RASTER naming a CUPS raster (8-bit RGB or gray, for instance
// one that bench/compare-anchor renders), compressPage and anchorPage code
// its first page band by band, read into memory once: the filter's colour
// conversion and band coder against libjpeg-turbo coding the page as one
// JPEG from the same RGB or gray lines.
#include <benchmark/benchmark.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "compress/colorconvert.h"
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

// Starts one baseline JPEG as the anchor codes it: quality 100 (every
// quantiser 1), JDCT_ISLOW, a restart marker every MCU row, 4:2:2 for colour.
void startAnchorImage(jpeg_compress_struct& cinfo, uint32_t width, uint32_t height, int components,
                      J_COLOR_SPACE space) {
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.restart_in_rows = 1;
    if (components == 3) {
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
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
        startAnchorImage(cinfo, kWidth, 8 * kBandsPerImage, components,
                         color ? JCS_YCbCr : JCS_GRAYSCALE);
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

// The first page of QZ_BENCH_RASTER, padded with white to whole blocks as
// the filter pads it.
struct RasterPage {
    bool color = false;
    uint32_t width = 0;  // a multiple of 16
    uint32_t lines = 0;  // a multiple of 8
    std::vector<uint8_t> pixels;
};

const RasterPage& rasterPage() {
    static const RasterPage page = [] {
        RasterPage p;
        const char* path = std::getenv("QZ_BENCH_RASTER");
        if (path == nullptr) return p;
        const int fd = open(path, O_RDONLY);
        if (fd < 0) return p;
        cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h;
        if (ras != nullptr && cupsRasterReadHeader2(ras, &h) && h.cupsBitsPerColor == 8 &&
            (h.cupsBitsPerPixel == 8 || h.cupsBitsPerPixel == 24)) {
            p.color = h.cupsBitsPerPixel == 24;
            p.width = (h.cupsWidth + 15) / 16 * 16;
            p.lines = (h.cupsHeight + 7) / 8 * 8;
            const size_t lineBytes = size_t{p.width} * (p.color ? 3 : 1);
            p.pixels.assign(lineBytes * p.lines, 0xFF);
            for (uint32_t y = 0; y < h.cupsHeight; ++y)
                cupsRasterReadPixels(ras, p.pixels.data() + y * lineBytes, h.cupsBytesPerLine);
        }
        if (ras != nullptr) cupsRasterClose(ras);
        close(fd);
        return p;
    }();
    return page;
}

// The filter's per-band work on the page: colour conversion into Y, Cb, Cr
// planes filled with white, then the band coder.
void compressPage(benchmark::State& state, bool scalar) {
    const RasterPage& page = rasterPage();
    if (page.lines == 0) {
        state.SkipWithError("QZ_BENCH_RASTER names no usable raster");
        return;
    }
    qzsimd::forceScalarPath(scalar);
    const uint32_t width = page.width;
    const uint32_t count = 8 * width;
    const uint32_t lineBytes = width * (page.color ? 3 : 1);
    const std::vector<uint8_t> map(width / 8, 3);
    std::vector<uint8_t> planes(size_t{3} * count);
    std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(
        wicketWorstCaseBytes(static_cast<int32_t>(width), 8, page.color), int64_t{4} * count)));
    HuffmanState coder;
    WicketSettings settings;
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (uint32_t band = 0; band < page.lines / 8; ++band) {
            const uint8_t* raw = page.pixels.data() + size_t{band} * 8 * lineBytes;
            setHuffman(&coder);
            coder.restartIndex = static_cast<int32_t>(band % 8);
            int32_t status = initialize(&coder);
            setWicket(&settings, &coder, &status);
            reinitialize(&settings, &coder);
            setRestartInterval(static_cast<int32_t>(width / 8), &settings);
            settings.emitQMarkers = band % 32 == 0;
            int32_t length = 0;
            const auto capacity = static_cast<int32_t>(out.size());
            if (page.color) {
                uint8_t* y = planes.data();
                std::memset(y, 0xFF, count);
                std::memset(y + count, 0x80, size_t{2} * count);
                rgbtoYCbCr(lineBytes, 8 * lineBytes, raw, width, count, y, y + count,
                           y + 2 * size_t{count}, true);
                wicketCompressPlanes(static_cast<int32_t>(width / 8), map.data(),
                                     static_cast<int32_t>(width), static_cast<int32_t>(count), y,
                                     y + count, y + 2 * size_t{count}, capacity, out.data(),
                                     &length, &settings, &coder);
            } else {
                setSampleType(SAMPLE_444, &settings);
                wicketCompressMonoPlane(static_cast<int32_t>(width / 8), map.data(),
                                        static_cast<int32_t>(width), static_cast<int32_t>(count),
                                        raw, capacity, out.data(), &length, &settings, &coder);
            }
            bytes += length;
        }
        benchmark::DoNotOptimize(bytes);
        benchmark::ClobberMemory();
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width * page.lines);
    state.SetLabel(scalar ? "scalar" : qzsimd::kernelTargetName());
}

// libjpeg-turbo on the same page from the same RGB or gray lines, 8 at a call.
void anchorPage(benchmark::State& state) {
    const RasterPage& page = rasterPage();
    if (page.lines == 0) {
        state.SkipWithError("QZ_BENCH_RASTER names no usable raster");
        return;
    }
    const int components = page.color ? 3 : 1;
    const size_t lineBytes = size_t{page.width} * components;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    for (auto _ : state) {
        jpeg_mem_dest(&cinfo, &buffer, &size);
        startAnchorImage(cinfo, page.width, page.lines, components,
                         page.color ? JCS_RGB : JCS_GRAYSCALE);
        for (uint32_t y = 0; y < page.lines; y += 8) {
            JSAMPROW rows[8];
            for (uint32_t i = 0; i < 8; ++i)
                rows[i] = const_cast<uint8_t*>(page.pixels.data()) + (y + i) * lineBytes;
            jpeg_write_scanlines(&cinfo, rows, 8);
        }
        jpeg_finish_compress(&cinfo);
        benchmark::DoNotOptimize(size);
    }
    state.counters["page_bytes"] = static_cast<double>(size);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * page.width * page.lines);
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

BENCHMARK_CAPTURE(compressPage, vector, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(compressPage, scalar, true)->Unit(benchmark::kMillisecond);
BENCHMARK(anchorPage)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
