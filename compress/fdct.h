// Forward 8x8 DCT on an integer plane, in place.
//
// The transform is the Loeffler-Ligtenberg-Moschytz factorisation with 13-bit
// fixed-point constants (the accurate integer method of the Independent JPEG
// Group's library), scaled so that, for inputs 4 x (sample - 128), every
// coefficient is 8 times the orthonormal 2-D DCT of the level-shifted samples.
// That is why every quantiser downstream carries a factor of 8.  A block's
// coefficients replace its samples: horizontal frequency u and vertical
// frequency v sit at line 8 x by + v, column 8 x bx + u.
#pragma once

#include <cstdint>

inline constexpr int32_t kFdctMissingArgument = 1;
inline constexpr int32_t kFdctSizeError = 2;

// DC of a block whose samples are all 255 (inputs 508): 8 x 8 x 127 = 8128.
inline constexpr int32_t kFdctWhiteDC = 8128;

// Transforms every 8x8 block of `plane` (planeWidth x lines int32 values).
// blockTypes, when present, holds one byte per block (planeWidth / 8 per block
// row); type 0 blocks are not transformed: they become DC 8128 when their
// top-left value is non-zero, else 0, and all AC 0.
// With capacity 0 and no output the transform is done in place; with an
// output plane (capacity in bytes) the result goes there and plane is kept.
// 0; 1 when plane is missing or a non-zero capacity comes without output;
// 2 when the output is too small or planeWidth / lines are not positive
// multiples of 8.
int32_t fDCTransform(int32_t* plane, int32_t planeWidth, int32_t lines, const uint8_t* blockTypes,
                     int32_t capacity, int32_t* output);
