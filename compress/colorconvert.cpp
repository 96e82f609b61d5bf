#include "compress/colorconvert.h"

#include <cstddef>
#include <cstring>

#include "compress/colorweights.h"
#include "compress/simd/kernels.h"

namespace {

// The weights, rounding and offset of the formulas (colorweights.h).
using namespace qzcolor;

constexpr uint8_t kWhiteY = 255;
constexpr uint8_t kWhiteChroma = 128;

// The band loop computes all three sums of a pixel with three 64-bit
// multiplications instead of nine 32-bit ones: each weight vector is packed into
// one word as three 21-bit lanes (Y at bit 0, Cb at bit 21, Cr at bit 42), so
//   R * laneR + G * laneG + B * laneB + bias
// is the three sums side by side.  Negative weights borrow from the lane above,
// but the arithmetic is modulo 2^64 and linear, so the word is exact as soon as
// every final lane value lies in 0 .. 2^21 - 1.  The bias makes it so: the Y
// lane gets the rounding 128 (weighted sums 0 .. 261120 become 128 .. 261248),
// the chroma lanes get the rounding 128 plus 128 * 1024 (weighted sums
// -130560 .. 130560 become 640 .. 261760), which also adds the chroma offset
// after the shift, since 128 * 1024 >> 10 is exactly 128 and shifting a
// non-negative value rounds down as the arithmetic shift does.  Every lane
// stays below 2^18, so lane >> 10 is 0 .. 255 and no lane spills into the
// next; the top lane ends below bit 60.  The results equal those of the
// single-pixel formulas of colorweights.h for all 2^24 colours.
constexpr uint64_t packLanes(int64_t y, int64_t cb, int64_t cr) {
    return static_cast<uint64_t>(y) + (static_cast<uint64_t>(cb) << 21) +
           (static_cast<uint64_t>(cr) << 42);
}
constexpr uint64_t kLaneR = packLanes(kYR, kCbR, kCrR);
constexpr uint64_t kLaneG = packLanes(kYG, kCbG, kCrG);
constexpr uint64_t kLaneB = packLanes(kYB, kCbB, kCrB);
constexpr int64_t kChromaBias = kRound + (kChromaOffset << kShift);
constexpr uint64_t kLaneBias = packLanes(kRound, kChromaBias, kChromaBias);
constexpr int kYLane = kShift, kCbLane = 21 + kShift, kCrLane = 42 + kShift;

// Converts `count` pixels of `rgb` into the three planes.
void convertRun(const uint8_t* __restrict rgb, size_t count, uint8_t* __restrict y,
                uint8_t* __restrict cb, uint8_t* __restrict cr) {
    for (size_t x = 0; x < count; ++x) {
        const uint64_t sums =
            rgb[3 * x] * kLaneR + rgb[3 * x + 1] * kLaneG + rgb[3 * x + 2] * kLaneB + kLaneBias;
        y[x] = static_cast<uint8_t>(sums >> kYLane);
        cb[x] = static_cast<uint8_t>(sums >> kCbLane);
        cr[x] = static_cast<uint8_t>(sums >> kCrLane);
    }
}

}  // namespace

uint32_t RGBTripleToCrCbYDword(const uint8_t* pixel) {
    const int32_t r = pixel[0];
    const int32_t g = pixel[1];
    const int32_t b = pixel[2];
    return static_cast<uint32_t>(qzcolor::lumaOf(r, g, b)) |
           static_cast<uint32_t>(qzcolor::blueChromaOf(r, g, b)) << 8 |
           static_cast<uint32_t>(qzcolor::redChromaOf(r, g, b)) << 16;
}

// A pixel is white when all three of its bytes are 255, so the white pixels at
// either end of a line are exactly the pixels covered by the 0xFF bytes at that
// end; the byte scans of the kernels find them (on any path: a scan gives the
// same offset however it looks at the bytes).
uint32_t stripTrail(const uint8_t* line, uint32_t pixelCount) {
    // The last non-0xFF byte at offset k belongs to pixel k / 3; with
    // end = k + 1 that pixel's index plus one is (end + 2) / 3.
    const size_t end = qzsimd::endOfBytesNotEqual(line, size_t{pixelCount} * 3, 0xFF);
    return static_cast<uint32_t>((end + 2) / 3);
}

int32_t rgbtoYCbCr(uint32_t bytesPerLine, uint32_t inputBytes, const uint8_t* input,
                   uint32_t stride, uint32_t planeSize, uint8_t* y, uint8_t* cb, uint8_t* cr,
                   bool planesFilled) {
    if (input == nullptr || y == nullptr || cb == nullptr || cr == nullptr) {
        return kColorMissingBuffer;
    }
    if (uint64_t{planeSize} * 3 < inputBytes || inputBytes < 24 || bytesPerLine == 0 ||
        bytesPerLine % 3 != 0) {
        return kColorBadSize;
    }
    const uint32_t lines = inputBytes / bytesPerLine;
    const uint32_t pixelsPerLine = bytesPerLine / 3;
    // Every line must land inside the planes, and lines must not overlap; with
    // stride equal to the pixels per line (the usual call) the check above
    // already guarantees this.
    if (lines > 1 && stride < pixelsPerLine) return kColorBadSize;
    if (lines > 0 && uint64_t{lines - 1} * stride + pixelsPerLine > planeSize) {
        return kColorBadSize;
    }

    if (!planesFilled) {
        std::memset(y, kWhiteY, planeSize);
        std::memset(cb, kWhiteChroma, planeSize);
        std::memset(cr, kWhiteChroma, planeSize);
    }

    // The vector kernel computes the same formulas; QZ_FORCE_SCALAR=1 keeps
    // the portable loop below.
    const bool vectors = !qzsimd::scalarPathForced();
    bool ink = false;
    for (uint32_t i = 0; i < lines; ++i) {
        const uint8_t* line = input + size_t{i} * bytesPerLine;
        const uint32_t end = stripTrail(line, pixelsPerLine);
        if (end == 0) continue;  // all white: the planes already hold white here
        // Pixel end - 1 is not white, so the scan stops inside the line.
        const size_t begin = qzsimd::firstByteNotEqual(line, size_t{end} * 3, 0xFF) / 3;
        const size_t offset = size_t{i} * stride + begin;
        if (vectors) {
            qzsimd::convertRgbRun(line + 3 * begin, end - begin, y + offset, cb + offset,
                                  cr + offset);
        } else {
            convertRun(line + 3 * begin, end - begin, y + offset, cb + offset, cr + offset);
        }
        ink = true;
    }
    return ink ? kColorInk : kColorNoInk;
}
