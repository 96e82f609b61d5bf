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

// Turns `count` 8x8 blocks of a byte plane into quantised DCT coefficients.
// Block i covers lines 0..7 (`stride` bytes apart) and columns 8i..8i+7 of
// `source`, or columns 16i..16i+15 averaged in pairs when `halve` is set
// (4:2:2 chroma).  Every coefficient is quantised by 2^quantShift, rounding
// half away from zero (the flat quantiser of quantize.cpp).
//
// Per block i, all in natural row-major order (index r * 8 + c for row r,
// column c, the layout of one block of fDCTransform's plane of width 8):
//   coefficients[64 i ..]: the quantised coefficients;
//   symbols[64 i ..]: for each non-zero AC coefficient of magnitude below
//     1024, its entropy-coding size s (bits of the magnitude) in bits 16..20
//     and its s amplitude bits (the value, or value - 1 when negative, T.81
//     F.1.2.1) in bits 0..15; other entries are unspecified;
//   nonZero[i]: bit r * 8 + c set when that coefficient is non-zero;
//   wide[i]: 1 when an AC coefficient has a magnitude of 1024 or more (its
//     symbol entry is then not valid), else 0.
// A block whose 64 samples are equal skips the transform: its coefficients
// are computed directly (see kernels.cpp); its AC are all zero.
void transformBlocks(const uint8_t* source, size_t stride, size_t count, bool halve, int quantShift,
                     int32_t* coefficients, uint32_t* symbols, uint64_t* nonZero, uint8_t* wide);

}  // namespace qzsimd
