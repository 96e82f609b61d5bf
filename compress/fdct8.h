// The 1-D pass of the forward DCT on eight values, shared by the plane
// transform (fdct.cpp) and the non-vector target of the band kernels
// (simd/kernels.cpp); the vector kernels use the same constants and
// operations lane by lane.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qzfdct {

// The twelve constants, each a coefficient of the factorisation times 2^13,
// rounded to the nearest integer.
inline constexpr int32_t FIX_0_298631336 = 2446;
inline constexpr int32_t FIX_0_390180644 = 3196;
inline constexpr int32_t FIX_0_541196100 = 4433;
inline constexpr int32_t FIX_0_765366865 = 6270;
inline constexpr int32_t FIX_0_899976223 = 7373;
inline constexpr int32_t FIX_1_175875602 = 9633;
inline constexpr int32_t FIX_1_501321110 = 12299;
inline constexpr int32_t FIX_1_847759065 = 15137;
inline constexpr int32_t FIX_1_961570560 = 16069;
inline constexpr int32_t FIX_2_053119869 = 16819;
inline constexpr int32_t FIX_2_562915447 = 20995;
inline constexpr int32_t FIX_3_072711026 = 25172;

inline constexpr int kConstBits = 13;

// Shifts and rounding of the two passes (see transform8).
inline constexpr int kRowEvenShift = 0, kRowOddShift = kConstBits;
inline constexpr int32_t kRowOddRound = 1 << (kConstBits - 1);
inline constexpr int kColumnEvenShift = 2, kColumnOddShift = kConstBits + 2;
inline constexpr int32_t kColumnOddRound = 0;

// One 1-D transform of d[0], d[stride], ..., d[7 * stride] in place.  The even
// outputs 0 and 4 are plain sums (scale 1 per pass); the others carry the
// 2^13 of the constants.  EvenShift / OddShift / OddRound set how each pass
// brings them back:
//   pass 1 (rows):    out0, out4 unscaled;  others (E + 2^12) >> 13, rounded;
//   pass 2 (columns): out0, out4 = E >> 2;  others E >> 15, truncated.
// For 8-bit samples times 4 every intermediate stays below 2^31: pass-1
// outputs are at most 8 x 512 = 4096 in magnitude (about 5800 for the odd
// ones), and the largest pass-2 product sum stays near 1.6 x 10^9.
template <int EvenShift, int OddShift, int32_t OddRound>
inline void transform8(int32_t* d, ptrdiff_t stride) {
    const int32_t d0 = d[0], d1 = d[stride], d2 = d[2 * stride], d3 = d[3 * stride];
    const int32_t d4 = d[4 * stride], d5 = d[5 * stride], d6 = d[6 * stride];
    const int32_t d7 = d[7 * stride];

    int32_t tmp0 = d0 + d7, tmp7 = d0 - d7;
    int32_t tmp1 = d1 + d6, tmp6 = d1 - d6;
    int32_t tmp2 = d2 + d5, tmp5 = d2 - d5;
    int32_t tmp3 = d3 + d4, tmp4 = d3 - d4;

    // Even part: a 4-point DCT of the sums, rotation by sqrt(2) cos(6 pi / 16).
    const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    const int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    d[0] = (tmp10 + tmp11) >> EvenShift;
    d[4 * stride] = (tmp10 - tmp11) >> EvenShift;
    const int32_t z1e = (tmp12 + tmp13) * FIX_0_541196100;
    d[2 * stride] = (z1e + tmp13 * FIX_0_765366865 + OddRound) >> OddShift;
    d[6 * stride] = (z1e - tmp12 * FIX_1_847759065 + OddRound) >> OddShift;

    // Odd part (Loeffler et al. figure 8, with the IJG's constant naming).
    int32_t z1 = tmp4 + tmp7, z2 = tmp5 + tmp6, z3 = tmp4 + tmp6, z4 = tmp5 + tmp7;
    const int32_t z5 = (z3 + z4) * FIX_1_175875602;  // sqrt(2) * c3
    tmp4 *= FIX_0_298631336;                         // sqrt(2) * (-c1 + c3 + c5 - c7)
    tmp5 *= FIX_2_053119869;                         // sqrt(2) * ( c1 + c3 - c5 + c7)
    tmp6 *= FIX_3_072711026;                         // sqrt(2) * ( c1 + c3 + c5 - c7)
    tmp7 *= FIX_1_501321110;                         // sqrt(2) * ( c1 + c3 - c5 - c7)
    z1 *= -FIX_0_899976223;                          // sqrt(2) * ( c7 - c3)
    z2 *= -FIX_2_562915447;                          // sqrt(2) * (-c1 - c3)
    z3 *= -FIX_1_961570560;                          // sqrt(2) * (-c3 - c5)
    z4 *= -FIX_0_390180644;                          // sqrt(2) * ( c5 - c3)
    z3 += z5;
    z4 += z5;
    d[7 * stride] = (tmp4 + z1 + z3 + OddRound) >> OddShift;
    d[5 * stride] = (tmp5 + z2 + z4 + OddRound) >> OddShift;
    d[3 * stride] = (tmp6 + z2 + z3 + OddRound) >> OddShift;
    d[1 * stride] = (tmp7 + z1 + z4 + OddRound) >> OddShift;
}

// Pass 1: rows, odd outputs rounded to the 2^13 scale removed.
inline void rowPass(int32_t* row) {
    transform8<kRowEvenShift, kRowOddShift, kRowOddRound>(row, 1);
}

// Pass 2: columns, arithmetic shifts without rounding; the extra 2 bits take
// out the factor 4 of the inputs (8 x 8 x 4 / 4 = 8 x orthonormal).
inline void columnPass(int32_t* column, ptrdiff_t stride) {
    transform8<kColumnEvenShift, kColumnOddShift, kColumnOddRound>(column, stride);
}

}  // namespace qzfdct
