#include "compress/quantize.h"

#include <cstddef>

const int32_t S_aiLumStdQuantTable[64] = {16, 11, 10, 16, 24,  40,  51,  61,   //
                                          12, 12, 14, 19, 26,  58,  60,  55,   //
                                          14, 13, 16, 24, 40,  57,  69,  56,   //
                                          14, 17, 22, 29, 51,  87,  80,  62,   //
                                          18, 22, 37, 56, 68,  109, 103, 77,   //
                                          24, 35, 55, 64, 81,  104, 113, 92,   //
                                          49, 64, 78, 87, 103, 121, 120, 101,  //
                                          72, 92, 95, 98, 112, 100, 103, 99};

const int32_t S_aiChromStdQuantTable[64] = {17, 18, 24, 47, 99, 99, 99, 99,  //
                                            18, 21, 26, 66, 99, 99, 99, 99,  //
                                            24, 26, 56, 99, 99, 99, 99, 99,  //
                                            47, 66, 99, 99, 99, 99, 99, 99,  //
                                            99, 99, 99, 99, 99, 99, 99, 99,  //
                                            99, 99, 99, 99, 99, 99, 99, 99,  //
                                            99, 99, 99, 99, 99, 99, 99, 99,  //
                                            99, 99, 99, 99, 99, 99, 99, 99};

namespace {

// Rounds c / q half away from zero; C++ division truncates toward zero.
inline int32_t quantizeFull(int32_t c, int32_t q) {
    const int32_t half = q / 2;
    return c >= 0 ? (c + half) / q : (c - half) / q;
}

// DC of types 0 and 2: the half step is added whatever the sign, then the
// quotient truncates toward zero (so -5 by 8 gives 0, -12 by 8 gives -1).
inline int32_t quantizeDCOnly(int32_t c, int32_t q) {
    return (c + q / 2) / q;
}

int log2IfPowerOfTwo(int32_t q) {
    if (q <= 0 || (q & (q - 1)) != 0) return -1;
    int shift = 0;
    while ((1 << shift) < q)
        ++shift;
    return shift;
}

}  // namespace

int32_t quantizePlane(int32_t planeWidth, int32_t lines, int32_t* plane, int32_t chroma,
                      const uint8_t* blockTypes, int32_t flatQuant, const int32_t* chromTable,
                      const int32_t* lumTable) {
    const int32_t* table = chroma == 1 ? chromTable : lumTable;
    if (plane == nullptr || blockTypes == nullptr || table == nullptr) {
        return kQuantizeMissingArgument;
    }
    if (planeWidth <= 0 || lines <= 0 || planeWidth % 8 != 0 || lines % 8 != 0) {
        return kQuantizeSizeError;
    }
    // A quantiser of 0 would divide by zero; check the ones that can be used.
    if (flatQuant < 1) return kQuantizeSizeError;
    for (int i = 0; i < 64; ++i) {
        if (table[i] < 1) return kQuantizeSizeError;
    }

    const int32_t blocksPerRow = planeWidth / 8;
    const int flatShift = log2IfPowerOfTwo(flatQuant);
    const int32_t flatHalf = flatQuant / 2;

    for (int32_t y = 0; y < lines; ++y) {
        int32_t* line = plane + static_cast<ptrdiff_t>(y) * planeWidth;
        const uint8_t* types = blockTypes + static_cast<ptrdiff_t>(y / 8) * blocksPerRow;
        const int32_t* tableRow = table + (y % 8) * 8;
        for (int32_t bx = 0; bx < blocksPerRow; ++bx) {
            int32_t* c = line + 8 * bx;
            const uint8_t t = types[bx];
            if (t == 0 || t == 2) {
                if (y % 8 == 0) c[0] = quantizeDCOnly(c[0], t == 0 ? table[0] : flatQuant);
            } else if ((t & 2) != 0) {
                if (flatShift >= 0) {
                    for (int j = 0; j < 8; ++j)
                        c[j] = quantizeFullShift(c[j], flatHalf, flatShift);
                } else {
                    for (int j = 0; j < 8; ++j)
                        c[j] = quantizeFull(c[j], flatQuant);
                }
            } else {
                for (int j = 0; j < 8; ++j)
                    c[j] = quantizeFull(c[j], tableRow[j]);
            }
        }
    }
    return 0;
}

void scaleQuantTable(const int32_t* standard, int32_t* destination, int32_t quality,
                     int32_t multiplier) {
    if (standard == nullptr || destination == nullptr) return;
    int32_t scale;
    if (quality <= 0) {
        scale = 10000;
    } else if (quality <= 49) {
        scale = 5000 / quality;
    } else {
        scale = 200 - 2 * quality;
    }
    for (int i = 0; i < 64; ++i) {
        int32_t v = (standard[i] * scale + 50) / 100;
        if (v > 255) v = 255;
        if (v <= 0) v = 1;
        destination[i] = multiplier * v;
    }
}

void scaleTable(int32_t quality, int32_t which, int32_t* chromDestination,
                const int32_t* chromStandard, int32_t* lumDestination, const int32_t* lumStandard,
                int32_t* flatQuant, int32_t* qFactor) {
    if (flatQuant != nullptr) *flatQuant = kFlatQuantizer;
    if (qFactor != nullptr) *qFactor = quality;
    if (which == 1) {
        scaleQuantTable(chromStandard, chromDestination, quality, kFlatQuantizer);
    } else {
        scaleQuantTable(lumStandard, lumDestination, quality, kFlatQuantizer);
    }
}
