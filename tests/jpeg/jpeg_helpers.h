// Helpers for the JPEG band coder tests: expected bytes spelled as bit
// strings, synthetic band content, and the filter's per-band calling sequence.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "compress/downsample.h"
#include "compress/fdct.h"
#include "compress/huffman.h"
#include "compress/quantize.h"
#include "compress/wicket.h"

namespace jpegtest {

// Entropy-coded bytes from groups of '0'/'1' characters: joined, padded to a
// byte with 1-bits, each 0xFF followed by 0x00 when stuffed.
inline std::vector<uint8_t> codedBits(std::initializer_list<std::string> groups,
                                      bool stuffing = true) {
    std::string all;
    for (const std::string& g : groups)
        all += g;
    while (all.size() % 8 != 0)
        all += '1';
    std::vector<uint8_t> out;
    for (size_t i = 0; i < all.size(); i += 8) {
        const auto byte = static_cast<uint8_t>(std::stoi(all.substr(i, 8), nullptr, 2));
        out.push_back(byte);
        if (byte == 0xFF && stuffing) out.push_back(0x00);
    }
    return out;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// --- Band content -----------------------------------------------------------

enum class Content { White, Text, Photo, Noise, BinaryNoise };

inline const char* contentName(Content c) {
    switch (c) {
        case Content::White:
            return "white";
        case Content::Text:
            return "text";
        case Content::Photo:
            return "photo";
        case Content::Noise:
            return "noise";
        case Content::BinaryNoise:
            return "binarynoise";
    }
    return "?";
}

inline void PrintTo(Content c, std::ostream* os) {
    *os << contentName(c);
}

// One plane of `width` x `lines` samples.  Text: white page with dark glyph
// strokes of a few pixels; photo: smooth gradients with mild grain; noise:
// uniform random bytes; binary noise: random 0 / 255.
inline std::vector<uint8_t> makePlane(Content content, int width, int lines, uint32_t seed,
                                      int plane = 0) {
    std::mt19937 rng(seed * 7919u + static_cast<uint32_t>(plane));
    std::vector<uint8_t> p(static_cast<size_t>(width) * static_cast<size_t>(lines));
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t v = 0;
            switch (content) {
                case Content::White:
                    v = plane == 0 ? 255 : 128;
                    break;
                case Content::Text: {
                    const bool ink = ((x / 3 + y / 2) % 11 == 0) || ((x * 5 + y * 3) % 37 < 3);
                    v = plane == 0 ? (ink ? 20 : 255) : (ink && (x / 64) % 3 == 1 ? 90 : 128);
                    break;
                }
                case Content::Photo: {
                    const int g = 128 + static_cast<int>(
                                            100.0 * std::sin(x * 0.013 + y * 0.021 + plane * 1.7));
                    v = static_cast<uint8_t>(
                        std::clamp(g + static_cast<int>(rng() % 9) - 4, 0, 255));
                    break;
                }
                case Content::Noise:
                    v = static_cast<uint8_t>(rng());
                    break;
                case Content::BinaryNoise:
                    v = (rng() & 1) != 0 ? 255 : 0;
                    break;
            }
            p[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = v;
        }
    }
    return p;
}

// The three planes (Y, Cb, Cr) or one gray plane of an image.
struct Image {
    int width = 0;
    int lines = 0;
    bool color = false;
    std::vector<uint8_t> planes[3];
};

inline Image makeImage(Content content, int width, int lines, bool color, uint32_t seed) {
    Image img;
    img.width = width;
    img.lines = lines;
    img.color = color;
    for (int c = 0; c < (color ? 3 : 1); ++c)
        img.planes[c] = makePlane(content, width, lines, seed, c);
    return img;
}

// Rows [8 band, 8 band + 8) of a plane.
inline const uint8_t* bandRows(const std::vector<uint8_t>& plane, int width, int band) {
    return plane.data() + static_cast<size_t>(band) * 8 * static_cast<size_t>(width);
}

// --- The filter's calling sequence ------------------------------------------

// One coder state and settings record reused from band to band, as the
// image thread keeps them.
struct BandCoder {
    HuffmanState coder;
    WicketSettings settings;

    // Compresses band `index` of its image (0..31) the way the filter does:
    // every block type 3, one restart interval, quantiser marker on the first
    // band only.  capacity < 0: wicketWorstCaseBytes().
    int32_t encode(const Image& img, int band, int indexInImage, std::vector<uint8_t>* out,
                   int64_t capacity = -1) {
        const int width = img.width;
        const int pixels = width * 8;
        setHuffman(&coder);
        coder.restartIndex = indexInImage % 8;
        int32_t status = initialize(&coder);
        setWicket(&settings, &coder, &status);
        reinitialize(&settings, &coder);
        setRestartInterval(width / 8, &settings);
        settings.emitQMarkers = indexInImage == 0;
        const std::vector<uint8_t> map(static_cast<size_t>(width / 8), 3);
        if (capacity < 0) capacity = wicketWorstCaseBytes(width, 8, img.color);
        out->assign(static_cast<size_t>(capacity), 0);
        int32_t length = 0;
        int32_t result;
        if (img.color) {
            result = wicketCompressPlanes(
                width / 8, map.data(), width, pixels, bandRows(img.planes[0], width, band),
                bandRows(img.planes[1], width, band), bandRows(img.planes[2], width, band),
                static_cast<int32_t>(capacity), out->data(), &length, &settings, &coder);
        } else {
            setSampleType(SAMPLE_444, &settings);
            result = wicketCompressMonoPlane(
                width / 8, map.data(), width, pixels, bandRows(img.planes[0], width, band),
                static_cast<int32_t>(capacity), out->data(), &length, &settings, &coder);
        }
        out->resize(static_cast<size_t>(length));
        return result;
    }

    // All bands of an image joined, as one picture block of a PCL XL image.
    std::vector<uint8_t> encodeImage(const Image& img) {
        std::vector<uint8_t> joined;
        std::vector<uint8_t> band;
        for (int b = 0; b < img.lines / 8; ++b) {
            encode(img, b, b, &band);
            joined.insert(joined.end(), band.begin(), band.end());
        }
        return joined;
    }
};

// What the compressor codes for a plane: level shift (and 4:2:2 averaging),
// transform and flat quantisation, every block type 3.  Natural order within
// each block; planeWidth values per line.
inline std::vector<int32_t> referenceCoefficients(const std::vector<uint8_t>& plane, int width,
                                                  int lines, bool subsampled) {
    const int planeWidth = subsampled ? width / 2 : width;
    std::vector<int32_t> out(static_cast<size_t>(planeWidth) * static_cast<size_t>(lines));
    const std::vector<uint8_t> map(out.size() / 64, 3);
    downSampleInt(width, width * lines, plane.data(), subsampled ? SAMPLE_422 : SAMPLE_444,
                  static_cast<int32_t>(out.size() * 4), out.data());
    fDCTransform(out.data(), planeWidth, lines, map.data(), 0, nullptr);
    quantizePlane(planeWidth, lines, out.data(), 0, map.data(), kFlatQuantizer,
                  S_aiChromStdQuantTable, S_aiLumStdQuantTable);
    return out;
}

}  // namespace jpegtest
