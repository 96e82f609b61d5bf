// Highway compiles this file once per instruction set (foreach_target.h
// includes it again for every target); HWY_DYNAMIC_DISPATCH then calls the
// best version the processor supports.
#include "compress/simd/kernels.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "compress/colorweights.h"
#include "compress/fdct8.h"
#include "compress/quantize.h"

// The block kernels keep a block's rows in arrays of vectors and pass them by
// pointer.  Arm SVE and RISC-V V vectors are sizeless types that cannot live
// in arrays, and Highway builds SVE targets for dynamic dispatch on aarch64
// with GCC, so those targets are left out: aarch64 runs the NEON kernels.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "compress/simd/kernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace qzsimd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

const char* TargetNameHere() {
    return hwy::TargetName(HWY_TARGET);
}

// --- Colour conversion ------------------------------------------------------
//
// The formulas of colorweights.h in 32-bit lanes with arithmetic shifts; the
// results lie in 0..255, so narrowing to bytes does not saturate.
void ConvertRgbRun(const uint8_t* HWY_RESTRICT rgb, size_t count, uint8_t* HWY_RESTRICT y,
                   uint8_t* HWY_RESTRICT cb, uint8_t* HWY_RESTRICT cr) {
    size_t x = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<int32_t> d;
    const hn::Rebind<uint8_t, decltype(d)> d8;
    const size_t n = hn::Lanes(d);
    using namespace qzcolor;
    const auto round = hn::Set(d, kRound);
    const auto offset = hn::Set(d, kChromaOffset);
    // The weighted sum of one row of weights, rounded and shifted.
    auto weighted = [&](auto r, auto g, auto b, int32_t wr, int32_t wg, int32_t wb) {
        return hn::ShiftRight<kShift>(
            hn::Add(hn::Add(hn::Mul(r, hn::Set(d, wr)), hn::Mul(g, hn::Set(d, wg))),
                    hn::Add(hn::Mul(b, hn::Set(d, wb)), round)));
    };
    for (; x + n <= count; x += n) {
        hn::Vec<decltype(d8)> r8, g8, b8;
        hn::LoadInterleaved3(d8, rgb + 3 * x, r8, g8, b8);
        const auto r = hn::PromoteTo(d, r8);
        const auto g = hn::PromoteTo(d, g8);
        const auto b = hn::PromoteTo(d, b8);
        const auto yv = weighted(r, g, b, kYR, kYG, kYB);
        const auto cbv = hn::Add(weighted(r, g, b, kCbR, kCbG, kCbB), offset);
        const auto crv = hn::Add(weighted(r, g, b, kCrR, kCrG, kCrB), offset);
        hn::StoreU(hn::DemoteTo(d8, yv), d8, y + x);
        hn::StoreU(hn::DemoteTo(d8, cbv), d8, cb + x);
        hn::StoreU(hn::DemoteTo(d8, crv), d8, cr + x);
    }
#endif
    for (; x < count; ++x) {
        const int32_t r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
        y[x] = static_cast<uint8_t>(qzcolor::lumaOf(r, g, b));
        cb[x] = static_cast<uint8_t>(qzcolor::blueChromaOf(r, g, b));
        cr[x] = static_cast<uint8_t>(qzcolor::redChromaOf(r, g, b));
    }
}

size_t FirstByteNotEqual(const uint8_t* HWY_RESTRICT p, size_t n, uint8_t value) {
    size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<uint8_t> d;
    const size_t lanes = hn::Lanes(d);
    const auto v = hn::Set(d, value);
    for (; i + lanes <= n; i += lanes) {
        const intptr_t k = hn::FindFirstTrue(d, hn::Ne(hn::LoadU(d, p + i), v));
        if (k >= 0) return i + static_cast<size_t>(k);
    }
#endif
    for (; i < n; ++i) {
        if (p[i] != value) return i;
    }
    return n;
}

size_t EndOfBytesNotEqual(const uint8_t* HWY_RESTRICT p, size_t n, uint8_t value) {
    size_t end = n;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<uint8_t> d;
    const size_t lanes = hn::Lanes(d);
    const auto v = hn::Set(d, value);
    // Whole vectors from the end while they match; the byte loop below
    // finds the last mismatch within the vector that stops it.
    while (end >= lanes && hn::AllTrue(d, hn::Eq(hn::LoadU(d, p + end - lanes), v)))
        end -= lanes;
#endif
    for (; end > 0; --end) {
        if (p[end - 1] != value) return end;
    }
    return 0;
}

// --- Blocks: level shift, forward DCT, quantisation, non-zero mask ----------

#if HWY_TARGET == HWY_SCALAR
// Without vectors (the fallback target): the passes of fdct8.h on one block
// of width 8, then the same quantisation and mask.
int TransformBlocks(const uint8_t* HWY_RESTRICT source, size_t stride, size_t count, bool halve,
                    int quantShift, int32_t* HWY_RESTRICT coefficients,
                    uint32_t* HWY_RESTRICT symbols, uint64_t* HWY_RESTRICT nonZero,
                    uint8_t* HWY_RESTRICT wide) {
    const int32_t half = (1 << quantShift) >> 1;
    for (size_t i = 0; i < count; ++i) {
        int32_t* c = coefficients + 64 * i;
        for (size_t r = 0; r < 8; ++r) {
            const uint8_t* p = source + r * stride + (halve ? 16 : 8) * i;
            for (size_t x = 0; x < 8; ++x) {
                c[r * 8 + x] = halve ? 4 * ((p[2 * x] + p[2 * x + 1] - 255) >> 1) : 4 * p[x] - 512;
            }
        }
        for (size_t r = 0; r < 8; ++r)
            qzfdct::rowPass(c + 8 * r);
        for (size_t x = 0; x < 8; ++x)
            qzfdct::columnPass(c + x, 8);
        uint64_t mask = 0;
        uint8_t isWide = 0;
        for (size_t k = 0; k < 64; ++k) {
            const int32_t q = quantizeFullShift(c[k], half, quantShift);
            c[k] = q;
            mask |= uint64_t{q != 0} << k;
            const uint32_t magnitude = static_cast<uint32_t>(q < 0 ? -q : q);
            if (k > 0 && magnitude > 1023) isWide = 1;
            int size = 0;
            while ((magnitude >> size) != 0)
                ++size;
            const uint32_t amplitude =
                static_cast<uint32_t>(q < 0 ? q - 1 : q) & ((uint32_t{1} << size) - 1);
            symbols[64 * i + k] = (static_cast<uint32_t>(size) << 16) | (amplitude & 0xFFFF);
        }
        nonZero[i] = mask;
        wide[i] = isWide;
    }
    return 0;
}
#else

// Rows of a block are 8 int32 values: one vector where vectors have 8 lanes
// (AVX2, AVX-512 capped to 256 bits), two halves of 4 lanes elsewhere.
using DB = hn::CappedTag<int32_t, 8>;
using VB = hn::Vec<DB>;
constexpr size_t kLanes = hn::MaxLanes(DB());
constexpr size_t kHalves = 8 / kLanes;  // vectors per row: 1 or 2

// With 512-bit vectors two neighbouring blocks go through the transform
// together, one vector per row of both (see TransformPair).
// (This file is compiled once per target: the macro is set anew each time.)
#undef QZ_BLOCK_PAIRS
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define QZ_BLOCK_PAIRS 1
#else
#define QZ_BLOCK_PAIRS 0
#endif

// One 1-D pass of fdct8.h over eight vectors, lane by lane: the same
// operations in the same 32-bit integers, so every lane gets exactly the
// value the scalar transform8() computes.
template <int kEvenShift, int kOddShift, int32_t kOddRound, class D, class V>
HWY_INLINE void Transform8(D d, V* x) {
    using namespace qzfdct;
    const V tmp0 = hn::Add(x[0], x[7]), tmp7 = hn::Sub(x[0], x[7]);
    const V tmp1 = hn::Add(x[1], x[6]), tmp6 = hn::Sub(x[1], x[6]);
    const V tmp2 = hn::Add(x[2], x[5]), tmp5 = hn::Sub(x[2], x[5]);
    const V tmp3 = hn::Add(x[3], x[4]), tmp4 = hn::Sub(x[3], x[4]);
    const V round = hn::Set(d, kOddRound);

    const V tmp10 = hn::Add(tmp0, tmp3), tmp13 = hn::Sub(tmp0, tmp3);
    const V tmp11 = hn::Add(tmp1, tmp2), tmp12 = hn::Sub(tmp1, tmp2);
    x[0] = hn::ShiftRight<kEvenShift>(hn::Add(tmp10, tmp11));
    x[4] = hn::ShiftRight<kEvenShift>(hn::Sub(tmp10, tmp11));
    const V z1e = hn::Mul(hn::Add(tmp12, tmp13), hn::Set(d, FIX_0_541196100));
    x[2] = hn::ShiftRight<kOddShift>(
        hn::Add(hn::Add(z1e, hn::Mul(tmp13, hn::Set(d, FIX_0_765366865))), round));
    x[6] = hn::ShiftRight<kOddShift>(
        hn::Add(hn::Sub(z1e, hn::Mul(tmp12, hn::Set(d, FIX_1_847759065))), round));

    const V z1 = hn::Mul(hn::Add(tmp4, tmp7), hn::Set(d, -FIX_0_899976223));
    const V z2 = hn::Mul(hn::Add(tmp5, tmp6), hn::Set(d, -FIX_2_562915447));
    const V z3s = hn::Add(tmp4, tmp6), z4s = hn::Add(tmp5, tmp7);
    const V z5 = hn::Mul(hn::Add(z3s, z4s), hn::Set(d, FIX_1_175875602));
    const V z3 = hn::Add(hn::Mul(z3s, hn::Set(d, -FIX_1_961570560)), z5);
    const V z4 = hn::Add(hn::Mul(z4s, hn::Set(d, -FIX_0_390180644)), z5);
    const V t4 = hn::Mul(tmp4, hn::Set(d, FIX_0_298631336));
    const V t5 = hn::Mul(tmp5, hn::Set(d, FIX_2_053119869));
    const V t6 = hn::Mul(tmp6, hn::Set(d, FIX_3_072711026));
    const V t7 = hn::Mul(tmp7, hn::Set(d, FIX_1_501321110));
    x[7] = hn::ShiftRight<kOddShift>(hn::Add(hn::Add(t4, z1), hn::Add(z3, round)));
    x[5] = hn::ShiftRight<kOddShift>(hn::Add(hn::Add(t5, z2), hn::Add(z4, round)));
    x[3] = hn::ShiftRight<kOddShift>(hn::Add(hn::Add(t6, z2), hn::Add(z3, round)));
    x[1] = hn::ShiftRight<kOddShift>(hn::Add(hn::Add(t7, z1), hn::Add(z4, round)));
}

// Runs Transform8 on each of the kH interleaved sets of eight vectors.
template <int kEvenShift, int kOddShift, int32_t kOddRound, size_t kH, class D, class V>
HWY_INLINE void TransformAll(D d, V* v) {
    for (size_t h = 0; h < kH; ++h) {
        V x[8];
        for (size_t k = 0; k < 8; ++k)
            x[k] = v[k * kH + h];
        Transform8<kEvenShift, kOddShift, kOddRound>(d, x);
        for (size_t k = 0; k < 8; ++k)
            v[k * kH + h] = x[k];
    }
}

// 4x4 transposes of a, b, c, e (rows) into the same variables (columns),
// within each 128-bit block of the vectors.
template <class D, class V>
HWY_INLINE void Transpose4(D d, V& a, V& b, V& c, V& e) {
    const hn::Repartition<int64_t, D> d64;
    const V t0 = hn::InterleaveLower(d, a, b), t1 = hn::InterleaveUpper(d, a, b);
    const V t2 = hn::InterleaveLower(d, c, e), t3 = hn::InterleaveUpper(d, c, e);
    a = hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, t0), hn::BitCast(d64, t2)));
    b = hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, t0), hn::BitCast(d64, t2)));
    c = hn::BitCast(d, hn::InterleaveLower(d64, hn::BitCast(d64, t1), hn::BitCast(d64, t3)));
    e = hn::BitCast(d, hn::InterleaveUpper(d64, hn::BitCast(d64, t1), hn::BitCast(d64, t3)));
}

// Transposes eight row vectors in place, one vector per row.  With 8 lanes
// (columns 0-3 in the lower 128 bits, 4-7 in the upper) InterleaveLower /
// Upper work within each 128-bit block, which transposes the four 4x4
// quarters; the halves are then swapped across.  The same steps transpose two
// blocks A and B at once in 16 lanes laid out as A0-3 B0-3 | A4-7 B4-7 (the
// halves being 256 bits then).
template <class D, class V>
HWY_INLINE void TransposeRows(D d, V* v) {
    for (size_t r = 0; r < 8; r += 4)
        Transpose4(d, v[r], v[r + 1], v[r + 2], v[r + 3]);
    // v[0..3] hold columns 0-3 (lower half) and 4-7 (upper half) of rows
    // 0-3, v[4..7] the same of rows 4-7.
    for (size_t k = 0; k < 4; ++k) {
        const V upper = v[k], lower = v[k + 4];
        v[k] = hn::ConcatLowerLower(d, lower, upper);
        v[k + 4] = hn::ConcatUpperUpper(d, lower, upper);
    }
}

// Transposes the 8x8 block v (row r, half h at v[r * kHalves + h]) in place.
HWY_INLINE void Transpose8x8(DB d, VB* v) {
    if constexpr (kHalves == 1) {
        TransposeRows(d, v);
    } else {
        // Quarter (row block rb, column block cb) is v[(4 rb + i) * 2 + cb].
        for (size_t rb = 0; rb < 2; ++rb) {
            for (size_t cb = 0; cb < 2; ++cb) {
                Transpose4(d, v[(4 * rb + 0) * 2 + cb], v[(4 * rb + 1) * 2 + cb],
                           v[(4 * rb + 2) * 2 + cb], v[(4 * rb + 3) * 2 + cb]);
            }
        }
        // Quarters (0, 1) and (1, 0) change places.
        for (size_t i = 0; i < 4; ++i) {
            const VB t = v[i * 2 + 1];
            v[i * 2 + 1] = v[(4 + i) * 2];
            v[(4 + i) * 2] = t;
        }
    }
}

// Quantises one vector of coefficients c by 2^quantShift into *q, with their
// coding symbols in *sym (see kernels.h).  Returns the lanes that are
// non-zero and, in *over, those of magnitude above 1023.
//
// The size is the bit length of the magnitude a: converted to float (exact
// below 2^24) a has the exponent size - 1, so the biased exponent field minus
// 126 is the size, and the float with the mantissa cleared is 2^(size - 1).
// kPacked16: the symbol is instead size << 12 | amplitude, and 0 for a zero
// value (the 16-bit entries of the zig-zag layout).
template <bool kPacked16 = false, class D, class V = hn::Vec<D> >
HWY_INLINE hn::Mask<D> Quantize(D d, V c, V vHalf, int quantShift, V* q, V* sym,
                                hn::Mask<D>* over) {
    const hn::Rebind<float, D> df;
    const V sign = hn::ShiftRight<31>(c);
    const V magnitude = hn::ShiftRightSame(hn::Add(hn::Abs(c), vHalf), quantShift);
    const V value = hn::Sub(hn::Xor(magnitude, sign), sign);
    *q = value;
    const V asFloat = hn::BitCast(d, hn::ConvertTo(df, magnitude));
    const V size = hn::Sub(hn::ShiftRight<23>(asFloat), hn::Set(d, 126));
    const V topBit = hn::ConvertTo(d, hn::BitCast(df, hn::And(asFloat, hn::Set(d, 0x7F800000))));
    const V amplitude =
        hn::And(hn::Add(value, sign), hn::Sub(hn::Add(topBit, topBit), hn::Set(d, 1)));
    const auto nonZero = hn::Ne(value, hn::Zero(d));
    if constexpr (kPacked16) {
        *sym = hn::IfThenElseZero(nonZero, hn::Or(hn::ShiftLeft<12>(size), amplitude));
    } else {
        *sym = hn::Or(hn::ShiftLeft<16>(size), amplitude);
    }
    *over = hn::Gt(magnitude, hn::Set(d, 1023));
    return nonZero;
}

// The bits of a mask of up to 16 lanes, lane 0 in bit 0.
template <class D>
HWY_INLINE uint32_t MaskBits(D d, hn::Mask<D> m) {
    uint8_t bits[8] = {};
    hn::StoreMaskBits(d, m, bits);
    return uint32_t{bits[0]} | uint32_t{bits[1]} << 8;
}

// Level shift of one row of a block: 4 x (s - 128), or for 4:2:2 chroma
// 4 x ((a + b - 255) >> 1), the pair average rounded half up
// (downsample.cpp); p points at the row's first source byte, count values.
template <class D>
HWY_INLINE hn::Vec<D> LevelShift(D d, const uint8_t* p, bool halve) {
    if (halve) {
        const hn::Rebind<uint16_t, D> d16;
        uint16_t pairs[hn::MaxLanes(d)];
        std::memcpy(pairs, p, sizeof pairs);
        const auto both = hn::PromoteTo(d, hn::LoadU(d16, pairs));
        const auto sum = hn::Add(hn::And(both, hn::Set(d, 0xFF)), hn::ShiftRight<8>(both));
        return hn::ShiftLeft<2>(hn::ShiftRight<1>(hn::Sub(sum, hn::Set(d, 255))));
    }
    const hn::Rebind<uint8_t, D> d8;
    return hn::Sub(hn::ShiftLeft<2>(hn::PromoteTo(d, hn::LoadU(d8, p))), hn::Set(d, 512));
}

// A block of 64 equal values v: pass 1 turns every row into (8v, 0, ..., 0):
// the sums tmp10 + tmp11 give 8v, every difference is 0 and (0 + 4096) >> 13
// is 0.  Pass 2 then gives column 0 E0 = 64v, so DC = 64v >> 2 = 16v exactly,
// and zeros everywhere else (0 >> 15).  The transform can therefore be
// skipped: DC 16v, AC 0, quantised as any coefficient is.
HWY_INLINE void StoreFlatBlock(int32_t v, int quantShift, int32_t* coef, uint64_t* nonZero,
                               uint8_t* wide) {
    const DB d;
    const int32_t dc = quantizeFullShift(16 * v, (1 << quantShift) >> 1, quantShift);
    for (size_t k = 0; k < 64; k += kLanes)
        hn::StoreU(hn::Zero(d), d, coef + k);
    coef[0] = dc;
    *nonZero = dc != 0 ? 1 : 0;
    *wide = 0;
}

// One block (see TransformBlocks).
HWY_INLINE void TransformBlock(const uint8_t* HWY_RESTRICT source, size_t stride, bool halve,
                               int quantShift, int32_t* HWY_RESTRICT coef,
                               uint32_t* HWY_RESTRICT sym, uint64_t* nonZero, uint8_t* wide) {
    const DB d;
    const VB vHalf = hn::Set(d, (1 << quantShift) >> 1);
    VB v[8 * kHalves];
    for (size_t r = 0; r < 8; ++r) {
        for (size_t h = 0; h < kHalves; ++h) {
            v[r * kHalves + h] =
                LevelShift(d, source + r * stride + (halve ? 2 : 1) * kLanes * h, halve);
        }
    }

    const VB first = hn::Set(d, hn::GetLane(v[0]));
    auto same = hn::Eq(v[0], first);
    for (size_t k = 1; k < 8 * kHalves; ++k)
        same = hn::And(same, hn::Eq(v[k], first));
    if (hn::AllTrue(d, same)) {
        StoreFlatBlock(hn::GetLane(v[0]), quantShift, coef, nonZero, wide);
        return;
    }

    Transpose8x8(d, v);
    TransformAll<qzfdct::kRowEvenShift, qzfdct::kRowOddShift, qzfdct::kRowOddRound, kHalves>(d, v);
    Transpose8x8(d, v);
    TransformAll<qzfdct::kColumnEvenShift, qzfdct::kColumnOddShift, qzfdct::kColumnOddRound,
                 kHalves>(d, v);

    uint64_t mask = 0;
    auto tooWide = hn::Gt(hn::Zero(d), hn::Zero(d));
    for (size_t r = 0; r < 8; ++r) {
        for (size_t h = 0; h < kHalves; ++h) {
            const size_t at = r * 8 + kLanes * h;
            hn::Mask<DB> over;
            VB q, symbol;
            const auto nz = Quantize(d, v[r * kHalves + h], vHalf, quantShift, &q, &symbol, &over);
            hn::StoreU(q, d, coef + at);
            hn::StoreU(symbol, d, reinterpret_cast<int32_t*>(sym) + at);
            mask |= uint64_t{MaskBits(d, nz)} << at;
            // The DC may be wide; only the AC count.
            if (r == 0 && h == 0) over = hn::And(over, hn::Not(hn::FirstN(d, 1)));
            tooWide = hn::Or(tooWide, over);
        }
    }
    *nonZero = mask;
    *wide = hn::AllFalse(d, tooWide) ? 0 : 1;
}

#if QZ_BLOCK_PAIRS
// Rewrites one block's natural-order symbols (TransformBlock's) in the
// zig-zag layout, with its mask.
HWY_INLINE void ZigzagLayout(const int32_t* coef, const uint32_t* natural, uint8_t* out,
                             uint64_t* nonZero) {
    uint64_t mask = 0;
    for (size_t k = 0; k < 64; ++k) {
        const auto n = static_cast<size_t>(kZigzagOrder[k]);
        const uint32_t s = natural[n];
        const auto entry = static_cast<uint16_t>(coef[n] == 0 ? 0 : (s >> 16) << 12 | (s & 0xFFF));
        std::memcpy(out + 2 * k, &entry, 2);
        mask |= uint64_t{coef[n] != 0} << k;
    }
    *nonZero = mask;
}

// Two neighbouring blocks A and B in 16 lanes.  Row r of both is loaded as
// A0-7 B0-7 and rearranged to A0-3 B0-3 A4-7 B4-7, the layout in which
// TransposeRows transposes both blocks; the transform works lane by lane, so
// every lane gets the value of the one-block path.  The results are put
// back in the order A0-7 B0-7 (the same rearrangement: it is its own
// inverse) and quantised 16 at a time.  When both blocks are flat they take
// the flat shortcut; otherwise both are transformed (which gives a flat block
// the same values).
//
// The symbols leave in the zig-zag layout of kernels.h: the 16-bit entries of
// a row of both blocks are gathered into 512-bit vectors and put in order by
// two-table permutes (AVX-512 BW, which every AVX-512 target here has).
alignas(64) constexpr int16_t kPickA[32] = {  // rows 0, 1 | rows 2, 3 (+32)
    0,  1,  2,  3,  4,  5,  6,  7,  16, 17, 18, 19, 20, 21, 22, 23,
    32, 33, 34, 35, 36, 37, 38, 39, 48, 49, 50, 51, 52, 53, 54, 55};
constexpr std::array<int16_t, 32> zigzagPart(int part) {
    std::array<int16_t, 32> t{};
    for (int k = 0; k < 32; ++k)
        t[static_cast<size_t>(k)] = static_cast<int16_t>(kZigzagOrder[32 * part + k]);
    return t;
}
alignas(64) constexpr std::array<int16_t, 32> kZigzagLow = zigzagPart(0);
alignas(64) constexpr std::array<int16_t, 32> kZigzagHigh = zigzagPart(1);

HWY_INLINE void TransformPair(const uint8_t* HWY_RESTRICT source, size_t stride, bool halve,
                              int quantShift, int32_t* HWY_RESTRICT coef,
                              uint8_t* HWY_RESTRICT zigzagSymbols, uint64_t* nonZero,
                              uint8_t* wide) {
    using DP = hn::CappedTag<int32_t, 16>;
    using VP = hn::Vec<DP>;
    const DP d;
    const hn::Half<DP> dh;
    alignas(64) static constexpr int32_t kSwapMiddle[16] = {0, 1, 2, 3, 8,  9,  10, 11,
                                                            4, 5, 6, 7, 12, 13, 14, 15};
    const auto swapMiddle = hn::SetTableIndices(d, kSwapMiddle);
    VP v[8];
    for (size_t r = 0; r < 8; ++r)
        v[r] = hn::TableLookupLanes(LevelShift(d, source + r * stride, halve), swapMiddle);

    // Lane 0 (A's first sample) to A's lanes, lane 4 (B's) to B's.
    alignas(64) static constexpr int32_t kFirsts[16] = {0, 0, 0, 0, 4, 4, 4, 4,
                                                        0, 0, 0, 0, 4, 4, 4, 4};
    const VP first = hn::TableLookupLanes(v[0], hn::SetTableIndices(d, kFirsts));
    auto same = hn::Eq(v[0], first);
    for (size_t k = 1; k < 8; ++k)
        same = hn::And(same, hn::Eq(v[k], first));
    if (hn::AllTrue(d, same)) {
        const int32_t a = hn::GetLane(v[0]);
        const int32_t b = hn::ExtractLane(v[0], 4);
        StoreFlatBlock(a, quantShift, coef, nonZero, wide);
        StoreFlatBlock(b, quantShift, coef + 64, nonZero + 1, wide + 1);
        return;
    }

    TransposeRows(d, v);
    TransformAll<qzfdct::kRowEvenShift, qzfdct::kRowOddShift, qzfdct::kRowOddRound, 1>(d, v);
    TransposeRows(d, v);
    TransformAll<qzfdct::kColumnEvenShift, qzfdct::kColumnOddShift, qzfdct::kColumnOddRound, 1>(d,
                                                                                                v);

    const VP vHalf = hn::Set(d, (1 << quantShift) >> 1);
    uint32_t wideBits = 0;
    __m256i packed[8];  // row r of A, then of B, 16-bit entries
    for (size_t r = 0; r < 8; ++r) {
        hn::Mask<DP> over;
        VP q, symbol;
        Quantize<true>(d, hn::TableLookupLanes(v[r], swapMiddle), vHalf, quantShift, &q, &symbol,
                       &over);
        // The DCs (lanes 0 and 8 of row 0) may be wide; only the AC count.
        wideBits |= MaskBits(d, over) & (r == 0 ? ~0x0101u : ~0u);
        hn::StoreU(hn::LowerHalf(dh, q), dh, coef + 8 * r);
        hn::StoreU(hn::UpperHalf(dh, q), dh, coef + 64 + 8 * r);
        packed[r] = _mm512_cvtepi32_epi16(symbol.raw);
    }
    wide[0] = (wideBits & 0xFF) != 0 ? 1 : 0;
    wide[1] = (wideBits >> 8) != 0 ? 1 : 0;

    // Rows 2j and 2j + 1 of both blocks: A 2j, B 2j, A 2j+1, B 2j+1.
    __m512i rows[4];
    for (size_t j = 0; j < 4; ++j) {
        rows[j] = _mm512_inserti64x4(_mm512_castsi256_si512(packed[2 * j]), packed[2 * j + 1], 1);
    }
    // Each block's rows 0-3 and 4-7 in natural order, then its entries in
    // zig-zag order; the non-zero masks follow (entries are 0 exactly for
    // zero values).
    const __m512i pickA = _mm512_load_si512(kPickA);
    const __m512i picks[2] = {pickA, _mm512_add_epi16(pickA, _mm512_set1_epi16(8))};
    const __m512i zigzagLow = _mm512_load_si512(kZigzagLow.data());
    const __m512i zigzagHigh = _mm512_load_si512(kZigzagHigh.data());
    for (size_t b = 0; b < 2; ++b) {
        const __m512i top = _mm512_permutex2var_epi16(rows[0], picks[b], rows[1]);
        const __m512i bottom = _mm512_permutex2var_epi16(rows[2], picks[b], rows[3]);
        const __m512i low = _mm512_permutex2var_epi16(top, zigzagLow, bottom);
        const __m512i high = _mm512_permutex2var_epi16(top, zigzagHigh, bottom);
        _mm512_storeu_si512(zigzagSymbols + 256 * b, low);
        _mm512_storeu_si512(zigzagSymbols + 256 * b + 64, high);
        nonZero[b] = uint64_t{_mm512_test_epi16_mask(low, low)} |
                     uint64_t{_mm512_test_epi16_mask(high, high)} << 32;
    }
}
#endif

int TransformBlocks(const uint8_t* HWY_RESTRICT source, size_t stride, size_t count, bool halve,
                    int quantShift, int32_t* HWY_RESTRICT coefficients,
                    uint32_t* HWY_RESTRICT symbols, uint64_t* HWY_RESTRICT nonZero,
                    uint8_t* HWY_RESTRICT wide) {
    const size_t step = halve ? 16 : 8;  // source bytes per block and row
    size_t i = 0;
#if QZ_BLOCK_PAIRS
    uint8_t* const bytes = reinterpret_cast<uint8_t*>(symbols);
    for (; i + 2 <= count; i += 2) {
        TransformPair(source + step * i, stride, halve, quantShift, coefficients + 64 * i,
                      bytes + 256 * i, nonZero + i, wide + i);
    }
    if (i < count) {
        // An odd last block: the one-block path, its symbols rearranged.
        alignas(64) uint32_t natural[64];
        TransformBlock(source + step * i, stride, halve, quantShift, coefficients + 64 * i, natural,
                       nonZero + i, wide + i);
        ZigzagLayout(coefficients + 64 * i, natural, bytes + 256 * i, nonZero + i);
    }
    return 1;
#else
    for (; i < count; ++i) {
        TransformBlock(source + step * i, stride, halve, quantShift, coefficients + 64 * i,
                       symbols + 64 * i, nonZero + i, wide + i);
    }
    return 0;
#endif
}
#endif  // HWY_TARGET == HWY_SCALAR

}  // namespace HWY_NAMESPACE
}  // namespace qzsimd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qzsimd {

HWY_EXPORT(TargetNameHere);
HWY_EXPORT(ConvertRgbRun);
HWY_EXPORT(TransformBlocks);
HWY_EXPORT(FirstByteNotEqual);
HWY_EXPORT(EndOfBytesNotEqual);

namespace {
// -1: not read yet; 0: vector kernels; 1: portable scalar path.
std::atomic<int> gForceScalar{-1};
}  // namespace

bool scalarPathForced() {
    int state = gForceScalar.load(std::memory_order_relaxed);
    if (state < 0) {
        const char* value = std::getenv("QZ_FORCE_SCALAR");
        const int fromEnvironment =
            value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0 ? 1 : 0;
        int expected = -1;
        gForceScalar.compare_exchange_strong(expected, fromEnvironment);
        state = gForceScalar.load(std::memory_order_relaxed);
    }
    return state == 1;
}

void forceScalarPath(bool scalar) {
    gForceScalar.store(scalar ? 1 : 0, std::memory_order_relaxed);
}

const char* kernelTargetName() {
    return HWY_DYNAMIC_DISPATCH(TargetNameHere)();
}

void convertRgbRun(const uint8_t* rgb, size_t count, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    HWY_DYNAMIC_DISPATCH(ConvertRgbRun)(rgb, count, y, cb, cr);
}

size_t firstByteNotEqual(const uint8_t* p, size_t n, uint8_t value) {
    return HWY_DYNAMIC_DISPATCH(FirstByteNotEqual)(p, n, value);
}

size_t endOfBytesNotEqual(const uint8_t* p, size_t n, uint8_t value) {
    return HWY_DYNAMIC_DISPATCH(EndOfBytesNotEqual)(p, n, value);
}

bool transformBlocks(const uint8_t* source, size_t stride, size_t count, bool halve, int quantShift,
                     int32_t* coefficients, uint32_t* symbols, uint64_t* nonZero, uint8_t* wide) {
    return HWY_DYNAMIC_DISPATCH(TransformBlocks)(source, stride, count, halve, quantShift,
                                                 coefficients, symbols, nonZero, wide) != 0;
}

}  // namespace qzsimd
#endif  // HWY_ONCE
