// Quantisation of transformed planes and quality scaling of the tables.
//
// The transform leaves coefficients at 8 times the orthonormal DCT, so every
// quantiser here carries a factor of 8: the flat quantiser 8 is one step per
// unit (quantiser 1 in ITU-T T.81 terms), and the tables are the T.81 Annex K
// tables scaled for a quality and multiplied by 8.
#pragma once

#include <cstdint>

inline constexpr int32_t kQuantizeMissingArgument = 1;
inline constexpr int32_t kQuantizeSizeError = 2;  // also: a quantiser below 1

// The flat quantiser: one quantisation step in the x8-scaled transform.
inline constexpr int32_t kFlatQuantizer = 8;

// T.81 Table K.1 (luminance) and K.2 (chrominance), natural row-major order.
extern const int32_t S_aiLumStdQuantTable[64];
extern const int32_t S_aiChromStdQuantTable[64];

// c / 2^shift rounded half away from zero (half = 2^shift / 2), without a
// division: truncation toward zero of a negative value is the negated shift of
// its magnitude.  The flat quantiser of quantizePlane and of the band kernels.
inline int32_t quantizeFullShift(int32_t c, int32_t half, int shift) {
    return c >= 0 ? (c + half) >> shift : -((half - c) >> shift);
}

// Quantises a transformed plane in place by the block type map (one byte per
// block, planeWidth / 8 per block row):
//   type 0: DC only, by table[0];  type 2: DC only, by flatQuant;
//     DC = (DC + q / 2) / q, truncating toward zero whatever the sign;
//   other types: every coefficient, by flatQuant when bit 1 is set, else by
//     the table entry of its position, rounding half away from zero.
// table = chromTable when chroma is 1, else lumTable.  0; 1 when the plane,
// the types or the selected table is missing; 2 when planeWidth or lines is
// not a positive multiple of 8 or a quantiser in use is below 1.
int32_t quantizePlane(int32_t planeWidth, int32_t lines, int32_t* plane, int32_t chroma,
                      const uint8_t* blockTypes, int32_t flatQuant, const int32_t* chromTable,
                      const int32_t* lumTable);

// destination[i] = multiplier x clamp((standard[i] x scale + 50) / 100, 1, 255)
// with scale 10000 for quality <= 0, 5000 / quality up to 49, 200 - 2 x
// quality from 50 on (the IJG quality curve).
void scaleQuantTable(const int32_t* standard, int32_t* destination, int32_t quality,
                     int32_t multiplier);

// Sets *flatQuant to 8 and *qFactor to quality, and scales the chrominance
// (which = 1) or the luminance table (otherwise) for quality, times 8.
void scaleTable(int32_t quality, int32_t which, int32_t* chromDestination,
                const int32_t* chromStandard, int32_t* lumDestination, const int32_t* lumStandard,
                int32_t* flatQuant, int32_t* qFactor);
