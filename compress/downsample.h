// Byte planes to level-shifted integer planes, with chroma subsampling.
//
// Every output value is 4 x (sample - 128), range -512..508: the factor 4
// gives the forward DCT two extra bits of precision (see fdct.h).  Subsampled
// types average the samples they merge, rounding halves up.
#pragma once

#include <cstdint>

inline constexpr int32_t kDownsampleMissingArgument = 1;  // also: source and destination overlap
inline constexpr int32_t kDownsampleSizeError = 2;

// Sampling factors and size rules of a sample type (SAMPLE_420, SAMPLE_422,
// anything else = 4:4:4).
struct SamplingRule {
    int32_t horizontal;  // samples merged across
    int32_t vertical;    // lines merged
    int32_t widthMultiple;
    int32_t linesMultiple;
};
SamplingRule samplingRuleFor(int32_t sampleType);

// Converts `pixels` bytes of `width` samples per line (lines = pixels / width)
// into (width / horizontal) x (lines / vertical) int32 values.  capacity is the
// destination size in bytes.  0; 1 when a pointer is missing or the source and
// destination overlap; 2 when the output exceeds capacity, width or pixels is
// not positive, or width or lines break the type's multiples.
int32_t downSampleInt(int32_t width, int32_t pixels, const uint8_t* source, int32_t sampleType,
                      int32_t capacity, int32_t* destination);
