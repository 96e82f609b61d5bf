// The RGB to YCbCr formulas of the colour conversion, shared by the portable
// code (colorconvert.cpp) and the vector kernels (simd/kernels.cpp), which
// must compute the same integers.
//
// JFIF full-range YCbCr with the BT.601 weights, scaled by 1024:
//   Y  =  0.299 R + 0.587 G + 0.114 B            -> 306, 601, 117
//   Cb = -0.1687 R - 0.3313 G + 0.5 B + 128      -> -173, -339, 512
//   Cr =  0.5 R - 0.4187 G - 0.0813 B + 128      -> 512, -429, -83
// Each row of weights sums to 1024 (Y) or 0 (Cb, Cr), so white gives exactly
// 255, 128, 128 and grays give Y = the gray level, Cb = Cr = 128.  The +128
// before the shift rounds to nearest; the shift is arithmetic (C++20 defines
// >> of a negative int as division by 1024 rounded towards minus infinity), so
// the rounded chroma sums, which lie in -130432..130688, come out as -128..127
// before the offset.  All three results therefore lie in 0..255 without clamping.
#pragma once

#include <cstdint>

namespace qzcolor {

inline constexpr int32_t kYR = 306, kYG = 601, kYB = 117;
inline constexpr int32_t kCbR = -173, kCbG = -339, kCbB = 512;
inline constexpr int32_t kCrR = 512, kCrG = -429, kCrB = -83;
inline constexpr int32_t kRound = 128;
inline constexpr int kShift = 10;
inline constexpr int32_t kChromaOffset = 128;

inline int32_t lumaOf(int32_t r, int32_t g, int32_t b) {
    return (kYR * r + kYG * g + kYB * b + kRound) >> kShift;
}
inline int32_t blueChromaOf(int32_t r, int32_t g, int32_t b) {
    return ((kCbR * r + kCbG * g + kCbB * b + kRound) >> kShift) + kChromaOffset;
}
inline int32_t redChromaOf(int32_t r, int32_t g, int32_t b) {
    return ((kCrR * r + kCrG * g + kCrB * b + kRound) >> kShift) + kChromaOffset;
}

}  // namespace qzcolor
