#include "tests/pages/pagejob.h"

#include "compress/colorconvert.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <sstream>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace pagetest {
namespace {

// A libjpeg fatal error jumps back to the call that set `jump`.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

// Encodes rows of width x channels samples (RGB, YCbCr or gray); empty on a
// libjpeg error.
std::vector<uint8_t> encodeQ100(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height,
                                int channels, J_COLOR_SPACE space) {
    jpeg_compress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = channels;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    if (channels == 3) {
        // 4:2:2: luma at full resolution, chroma halved horizontally.
        cinfo.comp_info[0].h_samp_factor = 2;
        cinfo.comp_info[0].v_samp_factor = 1;
        for (int c = 1; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
    }
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = size_t{width} * static_cast<size_t>(channels);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    free(buffer);
    return out;
}

// Decodes a JPEG file to rows of samples; empty on a libjpeg error.
std::vector<uint8_t> decode(const std::vector<uint8_t>& file, int channels) {
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    std::vector<uint8_t> pixels;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t{cinfo.output_width} * static_cast<size_t>(channels);
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

double psnrOf(uint64_t squaredError, double samples) {
    if (squaredError == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * samples / static_cast<double>(squaredError));
}

}  // namespace

harness::PageSpec smallPage(harness::Pattern pattern, bool color) {
    harness::PageSpec page;
    page.width = 400;
    page.height = 300;
    page.resX = page.resY = 300;
    page.pattern = pattern;
    if (!color) {
        page.colorSpace = CUPS_CSPACE_W;
        page.bitsPerPixel = 8;
    }
    return page;
}

std::string mirrorPpdText() {
    const std::vector<uint8_t> base = harness::readFile(harness::minimalPpdPath());
    std::string text(base.begin(), base.end());
    text +=
        "\n*OpenUI *ZemMirror/Mirror Image: Boolean\n"
        "*OrderDependency: 10 AnySetup *ZemMirror\n"
        "*DefaultZemMirror: False\n"
        "*ZemMirror True/On: \"\"\n"
        "*ZemMirror False/Off: \"\"\n"
        "*CloseUI: *ZemMirror\n";
    return text;
}

std::string JobResult::issues() const {
    std::ostringstream text;
    for (const inspect::Issue& e : job.errors)
        text << "error at " << e.offset << ": " << e.message << "\n";
    for (const inspect::Issue& w : job.warnings)
        text << "warning at " << w.offset << ": " << w.message << "\n";
    return text.str();
}

std::vector<std::string> JobResult::errLines(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::istringstream in(run.err);
    for (std::string line; std::getline(in, line);) {
        // Several messages may share a line when one of them has no line feed.
        const size_t at = line.find(prefix);
        if (at != std::string::npos) lines.push_back(line.substr(at));
    }
    return lines;
}

JobResult runJob(const harness::TempDir& dir, const harness::RasterSpec& spec,
                 harness::FilterRunOptions o, bool keepSides) {
    JobResult r;
    static int serial = 0;
    r.rasterPath = dir.path() + "/job" + std::to_string(++serial) + ".ras";
    if (!harness::writeRaster(spec, r.rasterPath)) {
        r.run.err = "the raster could not be written";
        return r;
    }
    o.raster.reset();
    o.rasterFile = r.rasterPath;
    if (!o.ppd) o.ppd = harness::minimalPpdPath();
    if (!o.deviceUri) o.deviceUri = "file:///dev/null";
    r.run = harness::runFilter(o);

    inspect::InspectOptions options;
    if (keepSides) {
        options.onPage = [&r](size_t, const inspect::PageInfo&, const inspect::PageImage& image) {
            r.sides.push_back(image);
        };
    }
    r.job = inspect::inspectJob(r.run.out, options);
    return r;
}

harness::FilterRunOptions withEnv(std::vector<std::pair<std::string, std::string>> env,
                                  const std::string& copies, const std::string& ticket) {
    harness::FilterRunOptions o;
    o.args = harness::filterArgs(copies, ticket);
    o.extraEnv = std::move(env);
    return o;
}

size_t countLines(const JobResult& r, const std::string& prefix) {
    return r.errLines(prefix).size();
}

void expectClosedSession(const JobResult& r, bool warningsAllowed) {
    EXPECT_TRUE(r.job.complete) << r.run.describe();
    if (warningsAllowed) {
        EXPECT_TRUE(r.job.ok()) << r.issues();
    } else {
        EXPECT_EQ(r.issues(), "");
    }
    for (const inspect::PageInfo& page : r.job.pages)
        EXPECT_TRUE(page.complete);
}

double psnrOverRaster(const inspect::PageImage& printed, const std::vector<uint8_t>& raster,
                      uint32_t width, uint32_t height, int channels) {
    if (printed.channels != channels || printed.width < width || printed.height < height ||
        raster.size() < size_t{width} * height * static_cast<size_t>(channels)) {
        return 0.0;
    }
    const size_t row = size_t{width} * static_cast<size_t>(channels);
    const size_t printedRow = size_t{printed.width} * static_cast<size_t>(channels);
    uint64_t sum = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* a = raster.data() + y * row;
        const uint8_t* b = printed.pixels.data() + y * printedRow;
        for (size_t i = 0; i < row; ++i) {
            const int d = int{a[i]} - int{b[i]};
            sum += static_cast<uint64_t>(d * d);
        }
    }
    return psnrOf(sum, static_cast<double>(row) * height);
}

double libjpegReferencePsnr(const std::vector<uint8_t>& raster, uint32_t width, uint32_t height,
                            int channels, bool sameConversion) {
    std::vector<uint8_t> file;
    if (channels == 1) {
        file = encodeQ100(raster, width, height, 1, JCS_GRAYSCALE);
    } else if (!sameConversion) {
        file = encodeQ100(raster, width, height, 3, JCS_RGB);
    } else {
        // The filter's own RGB to YCbCr conversion, interleaved for libjpeg.
        const size_t pixels = size_t{width} * height;
        std::vector<uint8_t> y(pixels), cb(pixels), cr(pixels), ycc(3 * pixels);
        rgbtoYCbCr(3 * width, static_cast<uint32_t>(3 * pixels), raster.data(), width,
                   static_cast<uint32_t>(pixels), y.data(), cb.data(), cr.data(), false);
        for (size_t i = 0; i < pixels; ++i) {
            ycc[3 * i] = y[i];
            ycc[3 * i + 1] = cb[i];
            ycc[3 * i + 2] = cr[i];
        }
        file = encodeQ100(ycc, width, height, 3, JCS_YCbCr);
    }
    if (file.empty()) return 0.0;
    inspect::PageImage decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.channels = channels;
    decoded.pixels = decode(file, channels);
    if (decoded.pixels.size() != raster.size()) return 0.0;
    return psnrOverRaster(decoded, raster, width, height, channels);
}

bool allAtLeast(const inspect::PageImage& image, uint8_t minimum) {
    return !image.pixels.empty() && std::all_of(image.pixels.begin(), image.pixels.end(),
                                                [minimum](uint8_t v) { return v >= minimum; });
}

std::string sideSequence(const std::vector<inspect::PageImage>& sides,
                         const harness::PageSpec& markerPage) {
    std::string text;
    for (const inspect::PageImage& side : sides) {
        if (!text.empty()) text += ' ';
        // JPEG rounding may leave white a few steps below 255.
        if (allAtLeast(side, 250)) {
            text += 'W';
            continue;
        }
        const int marker =
            harness::readPageMarker(markerPage, side.pixels.data(), side.width, side.height,
                                    static_cast<unsigned>(side.channels));
        text += marker < 0 ? "?" : "P" + std::to_string(marker);
    }
    return text;
}

std::string sequenceText(const std::vector<int>& pages) {
    std::string text;
    for (int p : pages) {
        if (!text.empty()) text += ' ';
        text += p == inspect::kWhiteSide ? "W" : "P" + std::to_string(p + 1);
    }
    return text;
}

}  // namespace pagetest
