// Vector kernels of the band coder, chosen at run time for the processor
// (SSSE3 / SSE4 / AVX2 / AVX-512 on x86-64, NEON on aarch64, a portable
// 128-bit emulation elsewhere) through Highway's dynamic dispatch.
//
// Every kernel computes exactly the integers of the portable code it
// replaces (colorconvert.cpp, downsample.cpp, fdct.cpp, quantize.cpp): the
// same formulas in 32-bit lanes, so the bytes of a job do not depend on the
// processor or on which path ran.
//
// Setting the environment variable QZ_FORCE_SCALAR=1 (read once, at the first
// use) makes the compressor and the colour conversion take their portable
// scalar path instead: whole-plane downsampling, transform and quantisation,
// and the per-pixel conversion.  The tests run both paths and compare bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qzsimd {

// True when the portable scalar path is to be used: QZ_FORCE_SCALAR set to
// anything but "" or "0" at the first call, or forceScalarPath(true) since.
bool scalarPathForced();
// Overrides the environment for this process (tests and benchmarks).
void forceScalarPath(bool scalar);
// Name of the instruction set the dispatcher chose ("AVX2", "NEON", ...).
const char* kernelTargetName();

// Converts `count` RGB pixels (3 bytes each) into the Y, Cb and Cr planes
// with the 10-bit fixed-point JFIF formulas of colorconvert.cpp.
void convertRgbRun(const uint8_t* rgb, size_t count, uint8_t* y, uint8_t* cb, uint8_t* cr);

// Offset of the first of the n bytes at p that differs from value, or n.
size_t firstByteNotEqual(const uint8_t* p, size_t n, uint8_t value);
// One past the offset of the last of the n bytes at p that differs from
// value, or 0.
size_t endOfBytesNotEqual(const uint8_t* p, size_t n, uint8_t value);

// T.81 zig-zag order (Figure A.6): kZigzagOrder[k] is the row-major index
// within a block of the coefficient coded k-th.
inline constexpr int32_t kZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Turns `count` 8x8 blocks of a byte plane into quantised DCT coefficients.
// Block i covers lines 0..7 (`stride` bytes apart) and columns 8i..8i+7 of
// `source`, or columns 16i..16i+15 averaged in pairs when `halve` is set
// (4:2:2 chroma).  Every coefficient is quantised by 2^quantShift, rounding
// half away from zero (the flat quantiser of quantize.cpp).
//
// Per block i:
//   coefficients[64 i ..]: the quantised coefficients in natural row-major
//     order (index r * 8 + c for row r, column c, the layout of one block of
//     fDCTransform's plane of width 8);
//   wide[i]: 1 when an AC coefficient has a magnitude of 1024 or more, else 0;
//   symbols[64 i ..] and nonZero[i] in one of two layouts, the same for
//     every block of a call.  For each non-zero AC coefficient of magnitude
//     below 1024 they give its entropy-coding size s (bits of the magnitude)
//     and its s amplitude bits (the value, or value - 1 when negative, T.81
//     F.1.2.1); symbols of other coefficients, and all of them in a wide
//     block, are unspecified.
//     - natural (the call returns false): symbols[64 i + n] for coefficient
//       n holds s in bits 16..20 and the amplitude bits in bits 0..15;
//       nonZero[i] has bit n set when coefficient n is non-zero;
//     - zig-zag (the call returns true; the 512-bit kernels): the 256 bytes
//       at symbols + 64 i hold 64 16-bit entries (native byte order), entry
//       k for coefficient kZigzagOrder[k] with s in bits 12..15 and the
//       amplitude bits in bits 0..11; nonZero[i] has bit k set when that
//       coefficient is non-zero.
// A block whose 64 samples are equal skips the transform: its coefficients
// are computed directly (see kernels.cpp); its AC are all zero.
bool transformBlocks(const uint8_t* source, size_t stride, size_t count, bool halve, int quantShift,
                     int32_t* coefficients, uint32_t* symbols, uint64_t* nonZero, uint8_t* wide);

}  // namespace qzsimd
