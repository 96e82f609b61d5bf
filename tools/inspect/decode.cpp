#include "tools/inspect/decode.h"

#include <cmath>
#include <cstdio>

#include "compress/tbrle.h"
#include "tools/common/jpegwrap.h"

namespace inspect {
namespace {

std::string markerText(uint8_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0xFF 0x%02X", code);
    return buf;
}

}  // namespace

BandScan scanBandStream(std::span<const uint8_t> data, uint64_t base, uint32_t bands) {
    BandScan scan;
    auto problem = [&](size_t at, std::string text) {
        if (scan.problems.size() < 8) scan.problems.push_back({base + at, std::move(text)});
    };
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0x2B) {
        problem(0, "picture data does not begin with the flat-quantiser marker 0xFF 0x2B");
    }
    size_t lastRestartEnd = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != 0xFF) continue;
        // Fill bytes: a run of 0xFF ends in the byte that says what it is.
        size_t j = i + 1;
        while (j < data.size() && data[j] == 0xFF)
            ++j;
        if (j >= data.size()) {
            problem(i, "picture data ends in 0xFF");
            break;
        }
        const uint8_t code = data[j];
        if (code == 0x00) {
            if (j != i + 1) problem(i, "fill bytes before a stuffed 0xFF 0x00");
        } else if (code >= 0xD0 && code <= 0xD7) {
            const int expected = scan.restarts % 8;
            if (code - 0xD0 != expected) {
                problem(i, "restart marker " + markerText(code) + " out of order, expected " +
                               markerText(static_cast<uint8_t>(0xD0 + expected)));
            }
            ++scan.restarts;
            lastRestartEnd = j + 1;
        } else if (code == 0x2B || code == 0x2C) {
            (code == 0x2B ? scan.flatMarkers : scan.tableMarkers)++;
            if (code == 0x2C) {
                // Every block of a page is coded with the flat quantiser; data
                // announced as table-quantised cannot be read back as such.
                problem(i, "table-quantiser marker 0xFF 0x2C; bands are coded flat-quantised");
            } else if (scan.restarts > 0) {
                problem(i, "quantiser marker " + markerText(code) +
                               " after the first band of the image");
            }
        } else {
            problem(i, "unexpected marker " + markerText(code) + " in picture data");
        }
        i = j;
    }
    if (scan.restarts != static_cast<int>(bands)) {
        problem(data.size(), "picture data holds " + std::to_string(scan.restarts) +
                                 " restart markers, expected one per band (" +
                                 std::to_string(bands) + ")");
    } else if (lastRestartEnd != data.size()) {
        problem(lastRestartEnd, "picture data goes on after the last band's restart marker");
    }
    return scan;
}

namespace {

// Decodes the packed tag plane: width x rows tags, four to a byte.
bool decodePacked(std::span<const uint8_t> data, uint32_t width, uint32_t rows,
                  std::vector<uint8_t>& packed, std::string& message) {
    const uint64_t tags = uint64_t{width} * rows;
    if (tags == 0 || tags % 4 != 0 || tags / 4 > UINT32_MAX) {
        message = "tag plane of " + std::to_string(width) + " x " + std::to_string(rows) +
                  " pixels cannot be packed four to a byte";
        return false;
    }
    if (data.empty() || data.size() > UINT32_MAX) {
        message = "tag data is empty";
        return false;
    }
    const auto packedBytes = static_cast<uint32_t>(tags / 4);
    packed.assign(packedBytes, 0);
    const uint32_t got = tbrle_decode(packedBytes, packed.data(), packedBytes,
                                      static_cast<uint32_t>(data.size()), data.data(), 0, 0);
    if (got != packedBytes) {
        message = got == 0 ? "tag data is not a valid TBRLE stream for " +
                                 std::to_string(packedBytes) + " packed bytes"
                           : "tag data decodes to " + std::to_string(got) + " of " +
                                 std::to_string(packedBytes) + " packed bytes";
        return false;
    }
    return true;
}

}  // namespace

bool decodeTagValues(std::span<const uint8_t> data, uint32_t width, uint32_t rows,
                     std::vector<uint8_t>& values, std::string& message) {
    std::vector<uint8_t> packed;
    if (!decodePacked(data, width, rows, packed, message)) return false;
    values.resize(packed.size() * 4);
    for (size_t k = 0; k < packed.size(); ++k) {
        // The first pixel of a group is in bits 0-1, the fourth in bits 6-7.
        for (unsigned p = 0; p < 4; ++p)
            values[k * 4 + p] = (packed[k] >> (2 * p)) & 3u;
    }
    return true;
}

bool decodeTagBlock(std::span<const uint8_t> data, uint32_t width, uint32_t rows,
                    std::array<uint64_t, 4>& counts, std::string& message) {
    counts = {};
    std::vector<uint8_t> packed;
    if (!decodePacked(data, width, rows, packed, message)) return false;
    // Count packed bytes first, then the four tags in each distinct byte.
    std::array<uint64_t, 256> histogram{};
    for (uint8_t b : packed)
        ++histogram[b];
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned p = 0; p < 4; ++p)
            counts[(b >> (2 * p)) & 3u] += histogram[b];
    }
    return true;
}

bool decodePictureBlock(std::span<const uint8_t> data, uint32_t width, uint32_t rows, bool color,
                        std::vector<uint8_t>& pixels, std::string& message) {
    const std::vector<uint8_t> jfif =
        jpegWrapBandStream(data.data(), data.size(), width, rows, color);
    if (jfif.empty()) {
        message = "an image of " + std::to_string(width) + " x " + std::to_string(rows) +
                  (color ? " colour" : " gray") + " pixels cannot hold JPEG bands";
        return false;
    }
    JpegImage image;
    JpegDiagnostics diag;
    if (!jpegDecodePixels(jfif.data(), jfif.size(), JpegPixelFormat::Rgb, &image, &diag)) {
        message = "JPEG data does not decode: " + diag.message;
        return false;
    }
    const size_t channels = color ? 3 : 1;
    if (image.width != width || image.height != rows || image.planes.size() != channels) {
        message = "JPEG data decodes to an image of the wrong shape";
        return false;
    }
    if (diag.warnings > 0) {
        message = "JPEG data is corrupt: " + diag.message;
        return false;
    }
    const size_t n = size_t{width} * rows;
    pixels.resize(n * channels);
    for (size_t i = 0; i < n; ++i) {
        for (size_t c = 0; c < channels; ++c)
            pixels[i * channels + c] = image.planes[c][i];
    }
    return true;
}

double psnr(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size() || a.empty()) return 0;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = int{a[i]} - int{b[i]};
        sum += static_cast<uint64_t>(d * d);
    }
    if (sum == 0) return 99.0;
    const double mse = static_cast<double>(sum) / static_cast<double>(a.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace inspect
