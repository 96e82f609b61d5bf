#include "compress/wicket.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "compress/downsample.h"
#include "compress/fdct.h"
#include "compress/huffmanbits.h"
#include "compress/quantize.h"
#include "compress/simd/kernels.h"

namespace {

// T.81 zig-zag order (Figure A.6) as row-major indices within a block.
constexpr const int32_t (&s_aiZigZagSequence)[64] = qzsimd::kZigzagOrder;

void applyDefaults(WicketSettings* s, HuffmanState* coder) {
    s->flatQuant = kFlatQuantizer;
    s->lumQFactor = kWicketDefaultQuality;
    s->chromQFactor = kWicketDefaultQuality;
    scaleQuantTable(S_aiLumStdQuantTable, s->lumQuant, kWicketDefaultQuality, kFlatQuantizer);
    scaleQuantTable(S_aiChromStdQuantTable, s->chromQuant, kWicketDefaultQuality, kFlatQuantizer);
    s->sampleType = SAMPLE_422;
    if (s->initStatus == 0 && coder != nullptr) setByteStuffing(coder);
    s->restartInterval = 0;
    s->restartMcuCount = 0;
    s->padQMarker = false;
    s->useDeltaDC = true;
}

void clearPredictors(WicketSettings* s) {
    s->prevDC[0] = s->prevDC[1] = s->prevDC[2] = 0;
}

// Grows the reusable working memory; false when it cannot be had.
bool reserveWork(WicketSettings* s, size_t planeValues, size_t mapBytes) {
    try {
        if (s->workPlanes.size() < planeValues) s->workPlanes.resize(planeValues);
        if (s->workMaps.size() < mapBytes) s->workMaps.resize(mapBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Builds the two map copies: luminance (mapLength bytes) and chrominance.
// For subsampled chroma each chroma block gets the OR of the luminance blocks
// it covers (h x v of them), and those luminance blocks get it too, so that
// all blocks of an MCU share one type.
void buildMapCopies(const uint8_t* map, int32_t blocksPerRow, int32_t blockRows, int32_t h,
                    int32_t v, uint8_t* lumMap, uint8_t* chromMap) {
    if (h == 1 && v == 1) {
        const size_t n = static_cast<size_t>(blocksPerRow) * static_cast<size_t>(blockRows);
        std::copy_n(map, n, lumMap);
        std::copy_n(map, n, chromMap);
        return;
    }
    const int32_t chromPerRow = blocksPerRow / h;
    for (int32_t cy = 0; cy < blockRows / v; ++cy) {
        for (int32_t cx = 0; cx < chromPerRow; ++cx) {
            uint8_t t = 0;
            for (int32_t dy = 0; dy < v; ++dy) {
                for (int32_t dx = 0; dx < h; ++dx) {
                    t |= map[(cy * v + dy) * blocksPerRow + cx * h + dx];
                }
            }
            chromMap[cy * chromPerRow + cx] = t;
            for (int32_t dy = 0; dy < v; ++dy) {
                for (int32_t dx = 0; dx < h; ++dx) {
                    lumMap[(cy * v + dy) * blocksPerRow + cx * h + dx] = t;
                }
            }
        }
    }
}

// The DC value to code: with prediction on, the difference from the
// component's previous DC (T.81 F.1.1.5.1), which then becomes this one.
inline int32_t predictDC(WicketSettings* s, int32_t component, int32_t dc) {
    if (!s->useDeltaDC) return dc;
    const int32_t previous = s->prevDC[component];
    s->prevDC[component] = dc;
    return dc - previous;
}

// Codes one block of quantised coefficients: DC (as a difference from the
// component's previous DC when prediction is on), then the AC in zig-zag
// order as run/size symbols, ZRL for each sixteen zeros before a non-zero
// coefficient, EOB when the block ends in zeros.  A block whose last
// coefficient is non-zero ends without EOB (T.81 F.1.2.2).
// Returns the first failing write's result, or 0.  kStopOnError: return at
// once on a failure (separated mode); otherwise every write is attempted, as
// the coder refuses writes by itself once the buffer is full.
template <bool kStopOnError>
int32_t codeBlock(int32_t* block, int32_t component, const int32_t* zigzag, WicketSettings* s,
                  HuffmanState* coder) {
    const CodecTable& codes = component == 0 ? coder->lumCodes : coder->chromCodes;
    int32_t failure = 0;
    auto note = [&failure](int32_t r) {
        if (r != 0 && failure == 0) failure = r;
        return kStopOnError && r != 0;
    };

    // The plane keeps the coded value, as the DC of the block.
    const int32_t dc = block[0] = predictDC(s, component, block[0]);
    if (note(huffDCSymbol(dc, codes, coder))) return failure;

    int32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        const int32_t c = block[zigzag[k]];
        if (c == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            coder->coefPosition += 16;
            const CodecEntry& zrl = codes.ac[kCodecZRLIndex];
            if (note(huffPutBits(static_cast<uint32_t>(zrl.code), zrl.length, coder))) {
                return failure;
            }
            run -= 16;
        }
        if (note(huffACSymbol(run, c, codes, coder))) return failure;
        run = 0;
    }
    if (run > 0) {
        const CodecEntry& eob = codes.ac[kCodecEOBIndex];
        note(huffPutBits(static_cast<uint32_t>(eob.code), eob.length, coder));
    }
    return failure;
}

// The same block with the bits gathered in a local 64-bit accumulator and
// written four bytes at a time, for when the destination has room for any
// block (kBlockRoom): no write can then run out of room, and the bytes are
// those of codeBlock().  Values the coder refuses (1314, 1539) are skipped the
// same way; the first such result is returned.
constexpr int32_t kBlockRoom = 512;  // > 2 x (7 + 22 + 63 x 26) / 8, stuffing included

struct FastBits {
    uint64_t acc;  // pending bits in the low `count` bits
    int count;
    uint8_t* out;
    bool stuffing;

    void byte(uint8_t b) {
        *out++ = b;
        if (b == 0xFF && stuffing) *out++ = 0x00;
    }
    // count + n <= 63 holds: at most 31 bits stay pending, n <= 26.
    void put(uint32_t bits, int n) {
        acc = (acc << n) | bits;
        count += n;
        if (count < 32) return;
        count -= 32;
        const auto word = static_cast<uint32_t>(acc >> count);
        // A 0xFF byte in the word needs its stuffing zero: go byte by byte.
        const uint32_t inverted = ~word;
        if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
            out[0] = static_cast<uint8_t>(word >> 24);
            out[1] = static_cast<uint8_t>(word >> 16);
            out[2] = static_cast<uint8_t>(word >> 8);
            out[3] = static_cast<uint8_t>(word);
            out += 4;
        } else {
            for (int shift = 24; shift >= 0; shift -= 8)
                byte(static_cast<uint8_t>(word >> shift));
        }
    }

    // Takes over the coder's pending bits (at most 7, left-aligned in
    // bitBuffer) at the bottom of the local accumulator.
    static FastBits from(const HuffmanState* coder) {
        return FastBits{coder->bitCount == 0 ? 0 : coder->bitBuffer >> (32 - coder->bitCount),
                        coder->bitCount, coder->out, coder->byteStuffing};
    }
    // Writes the whole bytes out and hands the rest of the bits, the output
    // position and the coefficient position back to the coder.
    void storeTo(HuffmanState* coder, int32_t position) {
        while (count >= 8) {
            count -= 8;
            byte(static_cast<uint8_t>(acc >> count));
        }
        coder->bitBuffer = count == 0 ? 0 : static_cast<uint32_t>(acc << (32 - count));
        coder->bitCount = count;
        const auto written = static_cast<int32_t>(out - coder->out);
        coder->out = out;
        coder->outCount += written;
        coder->coefPosition = position;
    }
};

// Code and length of one symbol in one word, length << 16 | code.
inline uint32_t packEntry(const CodecEntry& e) {
    return (static_cast<uint32_t>(e.length) << 16) | (static_cast<uint32_t>(e.code) & 0xFFFF);
}

// One table set of the coder with every symbol packed, AC indexed by the
// run/size byte.  Entries are copied whatever their use count, as the coder's
// own lookups read them.
struct PackedCodes {
    uint32_t dc[16];
    uint32_t ac[256];

    uint32_t dcCode(int32_t size) const { return dc[size]; }
    uint32_t acCode(uint32_t runSize) const { return ac[runSize]; }
};

// The same lookups straight from a coder table, for the plane path.
struct TableCodes {
    const CodecTable& t;

    uint32_t dcCode(int32_t size) const { return packEntry(t.dc[size]); }
    uint32_t acCode(uint32_t runSize) const {
        if (runSize == 0x00) return packEntry(t.ac[kCodecEOBIndex]);
        if (runSize == 0xF0) return packEntry(t.ac[kCodecZRLIndex]);
        return packEntry(t.ac[((runSize & 15) - 1) * 16 + (runSize >> 4)]);
    }
};

void packCodes(const CodecTable& t, PackedCodes* p) {
    for (int c = 0; c < 16; ++c)
        p->dc[c] = packEntry(t.dc[c]);
    for (int rs = 0; rs < 256; ++rs) {
        const int32_t index = codecCodeIndex(rs);
        p->ac[rs] = index < 0 ? 0 : packEntry(t.ac[index]);
    }
}

// codeBlock() with the bits gathered in FastBits: the DC value `dc` (already
// predicted), then the AC coefficients at the zig-zag positions set in
// `nonZero` (bit 0 unused), read with coefAt(k).  Same symbols, same
// refusals (skipped, the first one returned) and the same coder state
// afterwards.  Magnitudes up to 2047 take bit_width() bits, the category of
// T.81 F.1.2.1; negative values send the bits of value - 1.
template <bool kStopOnError, class Codes, class CoefAt>
int32_t codeBlockFast(int32_t dc, uint64_t nonZero, CoefAt coefAt, const Codes& codes,
                      HuffmanState* coder) {
    FastBits f = FastBits::from(coder);
    int32_t failure = 0;
    int32_t position = coder->coefPosition;
    auto finish = [&]() {
        f.storeTo(coder, position);
        return failure;
    };
    auto refuse = [&](int32_t r) {
        if (failure == 0) failure = r;
        return kStopOnError;
    };
    auto put = [&f](uint32_t entry, uint32_t amplitude, int32_t size) {
        f.put(((entry & 0xFFFF) << size) | amplitude, static_cast<int>(entry >> 16) + size);
    };

    if (dc > kHuffMaxMagnitude || dc < -kHuffMaxMagnitude) {
        if (refuse(kHuffValueTooLarge)) return finish();
    } else {
        // sign = -1 for a negative value, whose bits are value - 1.
        const int32_t sign = dc >> 31;
        const auto magnitude = static_cast<uint32_t>((dc ^ sign) - sign);
        const auto size = static_cast<int32_t>(std::bit_width(magnitude));
        position = 0;
        put(codes.dcCode(size), static_cast<uint32_t>(dc + sign) & ((uint32_t{1} << size) - 1),
            size);
    }

    // Runs of zeros are counted from the mask with one instruction rather
    // than a branch per coefficient.
    int last = 0;  // zig-zag index of the last coded coefficient
    while (nonZero != 0) {
        const int k = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int32_t run = k - last - 1;
        last = k;
        while (run > 15) {
            position += 16;
            put(codes.acCode(0xF0), 0, 0);
            run -= 16;
        }
        position += run + 1;
        const int32_t c = coefAt(k);
        const int32_t sign = c >> 31;
        const auto magnitude = static_cast<uint32_t>((c ^ sign) - sign);
        if (magnitude > static_cast<uint32_t>(kHuffMaxMagnitude)) {
            if (refuse(kHuffValueTooLarge)) return finish();
            continue;
        }
        const auto size = static_cast<int32_t>(std::bit_width(magnitude));
        if (size > 10) {
            if (refuse(kCodecBadACSymbol)) return finish();
            continue;
        }
        put(codes.acCode((static_cast<uint32_t>(run) << 4) | static_cast<uint32_t>(size)),
            static_cast<uint32_t>(c + sign) & ((uint32_t{1} << size) - 1), size);
    }
    if (last < 63) put(codes.acCode(0x00), 0, 0);
    return finish();
}

// Codes a block by the fast path when the destination has room for any block.
template <bool kStopOnError>
int32_t codeAnyBlock(int32_t* block, int32_t component, WicketSettings* s, HuffmanState* coder) {
    const int32_t* zigzag = s->zigzagOffsets[component];
    if (coder->outCapacity - coder->outCount >= kBlockRoom && coder->bitCount <= 7) {
        const int32_t dc = block[0] = predictDC(s, component, block[0]);
        uint64_t nonZero = 0;
        for (int k = 1; k < 64; ++k)
            nonZero |= uint64_t{block[zigzag[k]] != 0} << k;
        const TableCodes codes{component == 0 ? coder->lumCodes : coder->chromCodes};
        return codeBlockFast<kStopOnError>(
            dc, nonZero, [block, zigzag](int k) { return block[zigzag[k]]; }, codes, coder);
    }
    return codeBlock<kStopOnError>(block, component, zigzag, s, coder);
}

// Downsample, transform, quantise one plane and set its zig-zag offsets.
int32_t preparePlane(int32_t component, const uint8_t* source, int32_t width, int32_t pixels,
                     int32_t sampleType, int32_t* plane, int32_t planeWidth, int32_t planeLines,
                     const uint8_t* map, bool chroma, WicketSettings* s) {
    const int64_t capacity = int64_t{planeWidth} * planeLines * 4;
    int32_t r = downSampleInt(width, pixels, source, sampleType,
                              static_cast<int32_t>(std::min<int64_t>(capacity, INT32_MAX)), plane);
    if (r != 0) return r;
    r = fDCTransform(plane, planeWidth, planeLines, map, 0, nullptr);
    if (r != 0) return r;
    r = quantizePlane(planeWidth, planeLines, plane, chroma ? 1 : 0, map, s->flatQuant,
                      s->chromQuant, s->lumQuant);
    if (r != 0) return r;
    wicketSetPlanarZigZag(component, planeWidth, s);
    return 0;
}

// The size rules shared by both modes; true when width, pixels and the map
// fit the sampling factors h x v.
bool sizesFit(int32_t mapLength, int32_t width, int32_t pixels, int32_t h, int32_t v) {
    if (width <= 0 || pixels <= 0) return false;
    if (width % (8 * h) != 0) return false;
    const int64_t bandPixels = int64_t{8} * v * width;
    if (pixels % bandPixels != 0) return false;
    // Every block of the plane needs its map entry, and no more are read.
    const int64_t blocks = int64_t{width / 8} * (pixels / width / 8);
    return mapLength == blocks;
}

// The block loop shared by both modes of both paths: block rows of
// `blocksPerRow` units in order, RSTn every restartInterval units (the
// predictors reset then), a quantiser marker where bit 1 of a unit's map
// entry changes (the predictors reset too), then codeUnit(by, bx) codes the
// unit's blocks and returns their first failure.  The interleaved mode walks
// luminance blocks (an MCU's chroma coded with its second one) and resets all
// predictors; the separated mode walks one plane's blocks and resets that
// plane's.  After the last unit a due RSTn is written and every predictor
// reset.  Markers are written through writeMarker(write), which calls
// write() and returns its result (the pipeline hands its bit writer's bits
// to the coder around it).  Returns 0 or the first failure; kStopOnError:
// stops at it, else goes on (the coder refuses writes by itself once its
// buffer is full).
template <bool kStopOnError, class ResetPredictors, class CodeUnit, class WriteMarker>
int32_t walkBlocks(const uint8_t* map, int32_t blocksPerRow, int32_t blockRows,
                   ResetPredictors resetPredictors, CodeUnit codeUnit, WriteMarker writeMarker,
                   WicketSettings* s, HuffmanState* coder) {
    int32_t failure = 0;
    // Records a result; true when the walk stops here.
    auto stop = [&failure](int32_t r) {
        if (r != 0 && failure == 0) failure = r;
        return kStopOnError && r != 0;
    };
    auto restart = [coder] { return restartMarker(coder); };
    bool prevBit = (map[0] & 2) == 0;  // the first block always counts as a change
    for (int32_t by = 0; by < blockRows; ++by) {
        for (int32_t bx = 0; bx < blocksPerRow; ++bx) {
            if (s->restartInterval > 0 && s->restartMcuCount == s->restartInterval) {
                if (stop(writeMarker(restart))) return failure;
                s->restartMcuCount = 0;
                resetPredictors();
            }
            s->restartMcuCount++;
            const bool bit = (map[by * blocksPerRow + bx] & 2) != 0;
            if (bit != prevBit) {
                if (s->emitQMarkers && stop(writeMarker([s, coder, bit] {
                        return s->padQMarker ? quantizationTableMarkerPad(bit, coder)
                                             : quantizationTableMarker(bit, coder);
                    }))) {
                    return failure;
                }
                resetPredictors();
                prevBit = bit;
            }
            if (stop(codeUnit(by, bx))) return failure;
        }
    }
    if (s->restartInterval > 0 && s->restartMcuCount == s->restartInterval) {
        if (stop(writeMarker(restart))) return failure;
        s->restartMcuCount = 0;
        clearPredictors(s);
    }
    return failure;
}

// Markers written straight to the coder (the plane path).
struct DirectMarkers {
    template <class Write>
    int32_t operator()(Write write) const {
        return write();
    }
};

// --- Block-column pipeline --------------------------------------------------
//
// The path the filter takes: every block fully quantised by the flat
// quantiser, a power of two.  Rather than downsampling, transforming and
// quantising whole int32 planes and coding them afterwards (five passes over
// memory), the band is worked through kChunkBlocks luminance blocks (128
// pixels) at a time: the vector kernels of compress/simd level-shift,
// downsample, transform and quantise the chunk's blocks of all components and
// give a non-zero mask per block, and the coder codes them while they are
// still in L1.  The control flow around the blocks (restart markers,
// quantiser markers, DC predictors, refused values, room checks) is that of
// the plane-by-plane loops below, statement for statement, and the kernels
// compute the same integers, so the bytes are the same.

constexpr int32_t kChunkBlocks = 16;

// Natural-order non-zero masks to zig-zag order, four bits at a time:
// bits[t][v] has bit k set for each set bit b of v with
// s_aiZigZagSequence[k] == 4t + b.
struct ZigzagNibbles {
    uint64_t bits[16][16];
};
constexpr ZigzagNibbles makeZigzagNibbles() {
    ZigzagNibbles z{};
    int32_t position[64] = {};
    for (int k = 0; k < 64; ++k)
        position[s_aiZigZagSequence[k]] = k;
    for (int t = 0; t < 16; ++t) {
        for (int v = 0; v < 16; ++v) {
            uint64_t m = 0;
            for (int b = 0; b < 4; ++b) {
                if ((v & (1 << b)) != 0) m |= uint64_t{1} << position[4 * t + b];
            }
            z.bits[t][v] = m;
        }
    }
    return z;
}
constexpr ZigzagNibbles kZigzagNibbles = makeZigzagNibbles();

inline uint64_t zigzagMask(uint64_t natural) {
    // Flat blocks have at most their DC, which stays at bit 0.
    if (natural <= 1) return natural;
    uint64_t m = 0;
    for (int t = 0; t < 16; ++t)
        m |= kZigzagNibbles.bits[t][(natural >> (4 * t)) & 15];
    return m;
}

// codeBlockFast() for a block of the pipeline: coefficients in natural order
// (a block of width 8) and its zig-zag non-zero mask.
template <bool kStopOnError>
int32_t codeMaskedBlock(const int32_t* coef, uint64_t zigzag, int32_t component,
                        const PackedCodes& codes, WicketSettings* s, HuffmanState* coder) {
    return codeBlockFast<kStopOnError>(
        predictDC(s, component, coef[0]), zigzag & ~uint64_t{1},
        [coef](int k) { return coef[s_aiZigZagSequence[k]]; }, codes, coder);
}

// The pipeline's bit writer, kept in registers from block to block: up to 64
// pending bits in `acc` (the low 64 - free bits; higher bits are stale),
// written eight bytes at a time, byte by byte only when one of them is 0xFF
// and needs its stuffing zero.  load() takes over the coder's pending bits
// (at most 7), store() writes the whole bytes and hands the rest back, so
// that markers and the careful block writer run on the coder as usual in
// between.  The bytes are those of FastBits and huffPutBits().
struct BandBits {
    uint64_t acc = 0;
    int free = 64;
    uint8_t* out = nullptr;
    uint8_t* base = nullptr;  // coder->out at load()
    bool stuffing = false;

    bool held = false;  // the writer holds the coder's bits (else the coder keeps them)

    // A coder whose buffer filled up may keep more than 7 bits that can no
    // longer be written; those stay with it (held false), and the room check
    // sends every further block to the coder.
    void load(const HuffmanState* c) {
        out = base = c->out;
        stuffing = c->byteStuffing;
        held = c->bitCount <= 7;
        acc = !held || c->bitCount == 0 ? 0 : c->bitBuffer >> (32 - c->bitCount);
        free = held ? 64 - c->bitCount : 0;
    }
    void byte(uint8_t b) {
        *out++ = b;
        if (b == 0xFF && stuffing) *out++ = 0x00;
    }
    void store(HuffmanState* c) {
        if (!held) return;
        held = false;
        int count = 64 - free;
        while (count >= 8) {
            count -= 8;
            byte(static_cast<uint8_t>(acc >> count));
        }
        const uint64_t pending = acc & ((uint64_t{1} << count) - 1);
        c->bitBuffer = count == 0 ? 0 : static_cast<uint32_t>(pending << (32 - count));
        c->bitCount = count;
        c->outCount += static_cast<int32_t>(out - base);
        c->out = out;
        base = out;
    }
    // Bytes written since load(), as the coder will count them.
    int32_t written() const { return static_cast<int32_t>(out - base); }
    void flush64() {
        const uint64_t inverted = ~acc;
        if (!stuffing ||
            ((inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u) == 0) {
            uint64_t bigEndian = acc;
            if constexpr (std::endian::native == std::endian::little) {
                bigEndian = __builtin_bswap64(acc);
            }
            std::memcpy(out, &bigEndian, 8);
            out += 8;
        } else {
            for (int shift = 56; shift >= 0; shift -= 8)
                byte(static_cast<uint8_t>(acc >> shift));
        }
    }
    // Appends the n low bits of bits (nothing above them set), n <= 32.
    void put(uint64_t bits, int n) {
        free -= n;
        if (free >= 0) {
            acc = (acc << n) | bits;
            return;
        }
        const int over = -free;  // bits that do not fit any more
        acc = (acc << (n - over)) | (bits >> over);
        flush64();
        acc = bits;
        free += 64;
    }
};

// The coding size and amplitude bits of a coefficient, as the kernels give them.
struct Symbol {
    uint32_t size;
    uint32_t bits;
};

// Reads entry k (zig-zag index) of a block's symbols in either layout of
// qzsimd::transformBlocks().
struct NaturalSymbols {
    const uint32_t* symbols;
    Symbol at(int k) const {
        const uint32_t v = symbols[s_aiZigZagSequence[k]];
        return {v >> 16, v & 0xFFFF};
    }
};
struct ZigzagSymbols {
    const uint8_t* entries;
    Symbol at(int k) const {
        uint16_t v;
        std::memcpy(&v, entries + 2 * k, 2);
        return {static_cast<uint32_t>(v >> 12), static_cast<uint32_t>(v & 0xFFF)};
    }
};

// codeMaskedBlock() with the symbols of the kernels (no wide AC) and the
// writer above: the zig-zag non-zero mask and the symbols.  position gets the
// coder's coefPosition afterwards.
template <bool kStopOnError, class Symbols>
int32_t codeSymbolBlock(const int32_t* coef, Symbols symbols, uint64_t zigzag, int32_t component,
                        const PackedCodes& codes, WicketSettings* s, BandBits& writer,
                        int32_t* position) {
    // A local copy stays in registers; the caller's is written back at the end.
    BandBits w = writer;
    int32_t failure = 0;
    const int32_t dc = predictDC(s, component, coef[0]);
    int32_t start = 0;  // coefPosition before the AC
    if (dc > kHuffMaxMagnitude || dc < -kHuffMaxMagnitude) {
        failure = kHuffValueTooLarge;
        if (kStopOnError) return failure;
        start = *position;
    } else {
        const int32_t sign = dc >> 31;
        const auto magnitude = static_cast<uint32_t>((dc ^ sign) - sign);
        const auto size = static_cast<int32_t>(std::bit_width(magnitude));
        const uint32_t e = codes.dc[size];
        w.put(((e & 0xFFFF) << size) | (static_cast<uint32_t>(dc + sign) & ((1u << size) - 1)),
              static_cast<int>(e >> 16) + size);
    }

    uint64_t nonZero = zigzag & ~uint64_t{1};
    int last = 0;
    while (nonZero != 0) {
        const int k = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int32_t run = k - last - 1;
        last = k;
        while (run > 15) {
            const uint32_t zrl = codes.ac[0xF0];
            w.put(zrl & 0xFFFF, static_cast<int>(zrl >> 16));
            run -= 16;
        }
        const Symbol symbol = symbols.at(k);
        const uint32_t e = codes.ac[(static_cast<uint32_t>(run) << 4) | symbol.size];
        w.put(((e & 0xFFFF) << symbol.size) | symbol.bits,
              static_cast<int>((e >> 16) + symbol.size));
    }
    if (last < 63) {
        const uint32_t eob = codes.ac[0x00];
        w.put(eob & 0xFFFF, static_cast<int>(eob >> 16));
    }
    *position = start + last;
    writer = w;
    return failure;
}

// Shift of the flat quantiser when the block-column pipeline can code this
// call, else -1: the vector path is not forced off, every block is fully
// quantised by the flat quantiser (bit 1 set, type not 2), that quantiser is
// a power of two, and no quantiser is below 1 (the plane path refuses those).
int32_t pipelineQuantShift(const uint8_t* map, int32_t mapLength, const WicketSettings* s) {
    if (qzsimd::scalarPathForced()) return -1;
    const int32_t q = s->flatQuant;
    if (q < 1 || (q & (q - 1)) != 0) return -1;
    for (int i = 0; i < 64; ++i) {
        if (s->lumQuant[i] < 1 || s->chromQuant[i] < 1) return -1;
    }
    for (int32_t i = 0; i < mapLength; ++i) {
        if ((map[i] & 2) == 0 || map[i] == 2) return -1;
    }
    return std::countr_zero(static_cast<uint32_t>(q));
}

// One component's blocks of a chunk, as the kernels leave them.
// The coefficients and symbols (8 KiB) live in the settings record's work
// memory, reused from band to band (reserveChunks()).
struct ChunkBlocks {
    int32_t* coefficients;  // kChunkBlocks * 64
    uint32_t* symbols;      // kChunkBlocks * 64
    uint64_t masks[kChunkBlocks];
    uint8_t wide[kChunkBlocks];
    bool zigzag;  // symbols and masks in the zig-zag layout, else natural

    void transform(const uint8_t* source, size_t stride, int32_t count, bool halve, int32_t shift) {
        zigzag = qzsimd::transformBlocks(source, stride, static_cast<size_t>(count), halve, shift,
                                         coefficients, symbols, masks, wide);
    }
    // Block i's non-zero mask in zig-zag order.
    uint64_t zigzagMaskOf(int32_t i) const { return zigzag ? masks[i] : zigzagMask(masks[i]); }
};

// Points `count` chunks at the work memory, each array on a 64-byte boundary
// for the kernels' stores; false when the memory cannot be had.
bool reserveChunks(WicketSettings* s, ChunkBlocks* chunks, int32_t count) {
    constexpr size_t kArray = kChunkBlocks * 64;
    constexpr size_t kAlign = 64 / sizeof(int32_t);
    if (!reserveWork(s, 2 * kArray * static_cast<size_t>(count) + kAlign - 1, 0)) return false;
    int32_t* p = s->workPlanes.data();
    p += (kAlign - reinterpret_cast<std::uintptr_t>(p) / sizeof(int32_t) % kAlign) % kAlign;
    for (int32_t c = 0; c < count; ++c) {
        chunks[c].coefficients = p;
        // The kernels store the symbols as int32 lanes; uint32 may alias them.
        chunks[c].symbols = reinterpret_cast<uint32_t*>(p + kArray);
        p += 2 * kArray;
    }
    return true;
}

// Codes block i of a chunk: by the symbol writer when it has room for any
// block and no AC is wide, else through the coder (codeMaskedBlock() or
// codeBlock(), as codeAnyBlock() chooses), with the writer's bits handed
// over and back.  Returns the block's failure.
template <bool kStopOnError>
int32_t codeChunkBlock(ChunkBlocks& b, int32_t i, int32_t component, const PackedCodes& codes,
                       WicketSettings* s, HuffmanState* coder, BandBits& w) {
    // Room for any block, plus the up to 8 pending bytes and their stuffing.
    const int64_t room = int64_t{coder->outCapacity} - coder->outCount - w.written();
    if (w.held && room >= kBlockRoom + 16 && b.wide[i] == 0) {
        const int32_t* coef = b.coefficients + 64 * i;
        if (b.zigzag) {
            return codeSymbolBlock<kStopOnError>(
                coef, ZigzagSymbols{reinterpret_cast<const uint8_t*>(b.symbols + 64 * i)},
                b.masks[i], component, codes, s, w, &coder->coefPosition);
        }
        return codeSymbolBlock<kStopOnError>(coef, NaturalSymbols{b.symbols + 64 * i},
                                             zigzagMask(b.masks[i]), component, codes, s, w,
                                             &coder->coefPosition);
    }
    w.store(coder);
    int32_t r;
    if (coder->outCapacity - coder->outCount >= kBlockRoom && coder->bitCount <= 7) {
        r = codeMaskedBlock<kStopOnError>(b.coefficients + 64 * i, b.zigzagMaskOf(i), component,
                                          codes, s, coder);
    } else {
        r = codeBlock<kStopOnError>(b.coefficients + 64 * i, component, s_aiZigZagSequence, s,
                                    coder);
    }
    w.load(coder);
    return r;
}

// Markers written by the coder with the pipeline's writer's bits handed over
// and back.
struct WriterMarkers {
    BandBits& w;
    HuffmanState* coder;

    template <class Write>
    int32_t operator()(Write write) const {
        w.store(coder);
        const int32_t r = write();
        w.load(coder);
        return r;
    }
};

// wicketCompressPlanes() through the pipeline (h = 2 for 4:2:2, 1 for 4:4:4).
int32_t compressPlanesByColumns(const uint8_t* lumMap, int32_t width, int32_t blockRows, int32_t h,
                                int32_t shift, const uint8_t* const* sources, int32_t capacity,
                                uint8_t* output, int32_t* outLength, WicketSettings* s,
                                HuffmanState* coder) {
    PackedCodes codes[2];
    packCodes(coder->lumCodes, &codes[0]);
    packCodes(coder->chromCodes, &codes[1]);
    for (int32_t c = 0; c < 3; ++c)
        wicketSetPlanarZigZag(c, c > 0 ? width / h : width, s);

    // A failed allocation gives the result of the plane path's.
    ChunkBlocks chunks[3];
    if (!reserveChunks(s, chunks, 3)) return kWicketMissingArgument;
    outputBuffer(output, capacity, coder);
    BandBits w;
    w.load(coder);
    const int32_t blocksPerRow = width / 8;
    // Each chunk's blocks are transformed as its first unit comes up.
    auto codeUnit = [&](int32_t by, int32_t bx) {
        const int32_t i = bx % kChunkBlocks;
        if (i == 0) {
            const int32_t n = std::min(kChunkBlocks, blocksPerRow - bx);
            const size_t at = static_cast<size_t>(by) * 8 * static_cast<size_t>(width) +
                              8 * static_cast<size_t>(bx);
            for (int32_t c = 0; c < 3; ++c) {
                chunks[c].transform(sources[c] + at, static_cast<size_t>(width), c == 0 ? n : n / h,
                                    c > 0 && h == 2, shift);
            }
        }
        int32_t first = codeChunkBlock<false>(chunks[0], i, 0, codes[0], s, coder, w);
        if (h == 2 && (bx & 1) == 0) return first;
        const int32_t j = h == 2 ? (i - 1) / 2 : i;
        for (int32_t c = 1; c < 3; ++c) {
            const int32_t r = codeChunkBlock<false>(chunks[c], j, c, codes[1], s, coder, w);
            if (first == 0) first = r;
        }
        return first;
    };
    int32_t failure = walkBlocks<false>(
        lumMap, blocksPerRow, blockRows, [s] { clearPredictors(s); }, codeUnit,
        WriterMarkers{w, coder}, s, coder);
    w.store(coder);
    auto note = [&failure](int32_t r) {
        if (r != 0 && failure == 0) failure = r;
    };
    note(finishEncoding(outLength, coder));
    return failure == 0 ? 0 : kWicketSizeError;
}

// One plane of wicketCompressSeparatedPlanes() through the pipeline.
int32_t compressPlaneByColumns(const uint8_t* map, int32_t width, int32_t blockRows, int32_t shift,
                               const uint8_t* source, int32_t capacity, uint8_t* output,
                               int32_t* outLength, WicketSettings* s, HuffmanState* coder) {
    PackedCodes codes;
    packCodes(coder->lumCodes, &codes);
    wicketSetPlanarZigZag(0, width, s);

    ChunkBlocks chunk;
    if (!reserveChunks(s, &chunk, 1)) return kWicketAllocationFailed;
    outputBuffer(output, capacity, coder);
    BandBits w;
    w.load(coder);
    const int32_t blocksPerRow = width / 8;
    auto codeUnit = [&](int32_t by, int32_t bx) {
        const int32_t i = bx % kChunkBlocks;
        if (i == 0) {
            chunk.transform(source + static_cast<size_t>(by) * 8 * static_cast<size_t>(width) +
                                8 * static_cast<size_t>(bx),
                            static_cast<size_t>(width), std::min(kChunkBlocks, blocksPerRow - bx),
                            false, shift);
        }
        return codeChunkBlock<true>(chunk, i, 0, codes, s, coder, w);
    };
    // Any failure ends the plane; the writer's bytes are handed back first.
    const int32_t failure = walkBlocks<true>(
        map, blocksPerRow, blockRows, [s] { s->prevDC[0] = 0; }, codeUnit, WriterMarkers{w, coder},
        s, coder);
    w.store(coder);
    if (failure != 0) return kWicketSizeError;
    int32_t length = 0;
    if (finishEncoding(&length, coder) != 0) return kWicketSizeError;
    *outLength = length;
    return 0;
}

}  // namespace

// --- Settings ---------------------------------------------------------------

void setWicket(WicketSettings* s, HuffmanState* coder, const int32_t* initStatus) {
    if (s == nullptr) return;
    s->initStatus = initStatus != nullptr ? *initStatus : kWicketMissingArgument;
    applyDefaults(s, coder);
}

void reinitialize(WicketSettings* s, HuffmanState* coder) {
    if (s == nullptr) return;
    if (s->initStatus != 0) {
        s->initStatus = coder != nullptr ? initialize(coder) : kWicketMissingArgument;
    }
    applyDefaults(s, coder);
}

int32_t setQFactor2(int32_t lumQuality, int32_t chromQuality, WicketSettings* s) {
    if (lumQuality < 1 || lumQuality > 100 || chromQuality < 1 || chromQuality > 100) {
        return kWicketBadValue;
    }
    scaleTable(lumQuality, 0, s->chromQuant, S_aiChromStdQuantTable, s->lumQuant,
               S_aiLumStdQuantTable, &s->flatQuant, &s->lumQFactor);
    scaleTable(chromQuality, 1, s->chromQuant, S_aiChromStdQuantTable, s->lumQuant,
               S_aiLumStdQuantTable, &s->flatQuant, &s->chromQFactor);
    return 0;
}

int32_t setQFactor(int32_t quality, WicketSettings* s) {
    return setQFactor2(quality, quality, s);
}

int32_t queryQFactor(const WicketSettings* s) {
    if (s->lumQFactor == s->chromQFactor) return s->lumQFactor;
    return s->lumQFactor * 256 + s->chromQFactor;
}

int32_t setSampleType(int32_t type, WicketSettings* s) {
    if (type == SAMPLE_420 || type == SAMPLE_422 || type == SAMPLE_444) {
        s->sampleType = type;
        return 0;
    }
    s->sampleType = SAMPLE_444;
    return kWicketBadValue;
}

int32_t querySampleType(const WicketSettings* s) {
    return s->sampleType;
}

int32_t setRestartInterval(int32_t interval, WicketSettings* s) {
    const int32_t previous = s->restartInterval;
    s->restartInterval = interval;
    return previous;
}

int32_t queryRestartInterval(const WicketSettings* s) {
    return s->restartInterval;
}

void clearRestartMcuCount(WicketSettings* s) {
    s->restartMcuCount = 0;
}

bool setPadQMarker(WicketSettings* s) {
    return std::exchange(s->padQMarker, true);
}
bool clearPadQMarker(WicketSettings* s) {
    return std::exchange(s->padQMarker, false);
}
bool queryPadQMarker(const WicketSettings* s) {
    return s->padQMarker;
}
bool setUseDeltaDC(WicketSettings* s) {
    return std::exchange(s->useDeltaDC, true);
}
bool clearUseDeltaDC(WicketSettings* s) {
    return std::exchange(s->useDeltaDC, false);
}
bool queryUseDeltaDC(const WicketSettings* s) {
    return s->useDeltaDC;
}

bool wicketSetByteStuffing(HuffmanState* coder) {
    return setByteStuffing(coder);
}
bool wicketClearByteStuffing(HuffmanState* coder) {
    return clearByteStuffing(coder);
}
bool wicketQueryByteStuffing(const HuffmanState* coder) {
    return queryByteStuffing(coder);
}

void wicketSetPlanarZigZag(int32_t component, int32_t planeWidth, WicketSettings* s) {
    if (component < 0 || component > 2) return;
    if (s->zigzagWidth[component] == planeWidth && s->zigzagDivisor[component] == 1 &&
        s->zigzagMode[component] == 1) {
        return;
    }
    s->zigzagWidth[component] = planeWidth;
    s->zigzagDivisor[component] = 1;
    s->zigzagMode[component] = 1;
    for (int k = 0; k < 64; ++k) {
        const int32_t n = s_aiZigZagSequence[k];
        s->zigzagOffsets[component][k] = (n / 8) * planeWidth + n % 8;
    }
}

// --- Output size ------------------------------------------------------------
//
// Worst case of one band at the flat quantiser (all blocks type 3).
//
// What the coder can write at all.  It refuses a DC difference above 2047 and
// an AC coefficient of size above 10, so per block at most: DC code and 11
// amplitude bits, then 63 AC symbols of at most 16 + 10 bits.
//
// Energy.  The transform gives 8 x the orthonormal DCT and the flat quantiser
// 8 divides that back out, so a quantised block q is the orthonormal DCT of
// the level-shifted samples (each in -128..127) up to rounding.  Orthonormal
// transforms keep the sum of squares (Parseval):
//   sum of F[k]^2 = sum of samples^2 <= 64 x 128^2 = 1024^2.
// The 13-bit constants, the rounding of pass 1, the truncation of pass 2 and
// the quantiser's rounding move each q[k] by well under 1 from F[k] (at most
// 0.72 over 300000 random and extreme blocks).  Allowing 2 per coefficient
// adds at most sqrt(64) x 2 = 16 to the root of the sum:
//   sum of q[k]^2 <= 1040^2 = 1081600.
// A coefficient of size s has magnitude >= 2^(s-1), so it spends at least
// 4^(s-1) of that energy; the largest AC magnitude, from the +-128 patterns
// of the basis functions, is 1020 (a test pins it), so AC size 10 is enough.
//
// Bits and stuffing.  The most a block can take is then a knapsack: choose
// the DC category and amplitude bits freely, then a sequence of AC symbols
// (run, size, amplitude bits), ZRLs and a final EOB covering the 63 AC
// positions, each amplitude spending its magnitude squared of the energy.
// Stuffing depends on the bits themselves: a data byte 0xFF costs a second
// byte.  A dynamic program over (AC position, energy spent, bit position in
// the byte, whether the byte so far is all 1s), starting from any bit
// position, gives per block (a stuffed zero counted as 8 bits):
//   luminance   (T.81 K.3 / K.5)  1713 bits   (1161 without stuffing)
//   chrominance (T.81 K.4 / K.6)  1579 bits   (1095 without stuffing)
// (energy counted in units of 4096, rounded down, which only helps the
// adversary; finer units give the same numbers).  The test "WorstCase"
// runs the same program.  Without the energy argument the coder's own limits
// alone allow 2561 and 2184 bits.
//
// Per restart interval (one block row): the 1-bit padding of the last byte,
// possibly stuffed (2 bytes), and RSTn (2).  Once per band: the quantiser
// marker 0xFF 0x2B, with twenty fill bytes if padQMarker is set (22).
//
// So per band of W x 8 pixels:
//   colour 4:2:2 (W/8 Y blocks, W/16 Cb and W/16 Cr blocks):
//     ceil(W/8 x (1713 + 1579) / 8) + 26 = about 6.43 bytes per pixel;
//   gray (W/8 blocks): ceil(W/8 x 1713 / 8) + 26 = about 3.35 bytes per pixel.
// Four bytes per pixel therefore suffice for gray bands but not for colour
// ones: a 16 x 8 colour band found by a random search codes to 527 bytes
// (4.12 per pixel; see the tests), a 32 x 8 one to 1027, and plain random
// 0/255 colour noise already reaches 3.6 bytes per pixel.
int64_t wicketWorstCaseBytes(int32_t width, int32_t lines, bool color) {
    if (width <= 0 || lines <= 0 || width % (color ? 16 : 8) != 0 || lines % 8 != 0) return 0;
    const int64_t blockRows = lines / 8;
    const int64_t lumBlocks = int64_t{width / 8} * blockRows;
    const int64_t chromBlocks = color ? lumBlocks : 0;  // two 4:2:2 planes of half width
    const int64_t bits =
        lumBlocks * kWicketWorstLumBlockBits + chromBlocks * kWicketWorstChromBlockBits;
    return (bits + 7) / 8 + blockRows * kWicketWorstIntervalBytes + kWicketWorstBandBytes;
}

// --- Compression ------------------------------------------------------------

int32_t wicketCompressPlanes(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                             int32_t pixels, const uint8_t* yPlane, const uint8_t* cbPlane,
                             const uint8_t* crPlane, int32_t capacity, uint8_t* output,
                             int32_t* outLength, WicketSettings* s, HuffmanState* coder) {
    if (outLength == nullptr) return kWicketMissingArgument;
    *outLength = 0;
    if (s == nullptr || coder == nullptr) return kWicketMissingArgument;
    if (s->initStatus != 0) return s->initStatus;
    if (yPlane == nullptr || blockTypes == nullptr || crPlane == nullptr || cbPlane == nullptr ||
        output == nullptr) {
        return kWicketMissingArgument;
    }
    if (int64_t{capacity} < int64_t{3} * pixels) return kWicketSizeError;

    int32_t h = 1;
    if (s->sampleType == SAMPLE_420) return kWicketBadValue;
    if (s->sampleType == SAMPLE_422) {
        // An MCU is two luminance blocks; a restart between them is not possible.
        if (s->restartInterval % 2 != 0) return kWicketBadRestart;
        h = 2;
    }
    if (!sizesFit(mapLength, width, pixels, h, 1)) return kWicketSizeError;

    // With every block fully quantised by the flat quantiser, every map bit 1
    // is set, so the original map gives the same quantiser changes as the
    // copies built below.
    const int32_t shift = pipelineQuantShift(blockTypes, mapLength, s);
    if (shift >= 0) {
        const uint8_t* sources[3] = {yPlane, cbPlane, crPlane};
        return compressPlanesByColumns(blockTypes, width, mapLength / (width / 8), h, shift,
                                       sources, capacity, output, outLength, s, coder);
    }

    const size_t n = static_cast<size_t>(pixels);
    const size_t m = static_cast<size_t>(mapLength);
    if (!reserveWork(s, 3 * n, 2 * m)) return kWicketMissingArgument;
    int32_t* planes[3] = {s->workPlanes.data(), s->workPlanes.data() + n,
                          s->workPlanes.data() + 2 * n};
    uint8_t* lumMap = s->workMaps.data();
    uint8_t* chromMap = lumMap + m;
    const int32_t blocksPerRow = width / 8;
    const int32_t blockRows = mapLength / blocksPerRow;
    const int32_t lines = pixels / width;
    buildMapCopies(blockTypes, blocksPerRow, blockRows, h, 1, lumMap, chromMap);

    const int32_t chromaWidth = width / h;
    const uint8_t* sources[3] = {yPlane, cbPlane, crPlane};
    for (int32_t c = 0; c < 3; ++c) {
        const bool sub = c > 0 && h == 2;
        const int32_t r = preparePlane(
            c, sources[c], width, pixels, c == 0 ? SAMPLE_444 : s->sampleType, planes[c],
            sub ? chromaWidth : width, lines, sub ? chromMap : lumMap, c > 0, s);
        if (r != 0) return r;
    }

    outputBuffer(output, capacity, coder);
    const ptrdiff_t lumRow = static_cast<ptrdiff_t>(width) * 8;
    const ptrdiff_t chromRow = static_cast<ptrdiff_t>(chromaWidth) * 8;
    // A unit is a luminance block; with 4:2:2 the second of a pair carries
    // the MCU's chroma blocks.
    auto codeUnit = [&](int32_t by, int32_t bx) {
        int32_t first = codeAnyBlock<false>(planes[0] + by * lumRow + 8 * bx, 0, s, coder);
        if (h == 2 && (bx & 1) == 0) return first;
        const ptrdiff_t at = h == 2 ? by * chromRow + 8 * ((bx - 1) / 2) : by * lumRow + 8 * bx;
        for (int32_t c = 1; c < 3; ++c) {
            const int32_t r = codeAnyBlock<false>(planes[c] + at, c, s, coder);
            if (first == 0) first = r;
        }
        return first;
    };
    int32_t failure = walkBlocks<false>(
        lumMap, blocksPerRow, blockRows, [s] { clearPredictors(s); }, codeUnit, DirectMarkers{}, s,
        coder);
    auto note = [&failure](int32_t r) {
        if (r != 0 && failure == 0) failure = r;
    };
    note(finishEncoding(outLength, coder));
    // A refused write (full buffer, or a coefficient the baseline code cannot
    // carry) leaves a stream the printer cannot read; say so.  The bytes that
    // fitted stay in *outLength.
    return failure == 0 ? 0 : kWicketSizeError;
}

int32_t wicketCompressSeparatedPlanes(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                                      int32_t pixels, const uint8_t* yPlane, const uint8_t* cbPlane,
                                      const uint8_t* crPlane, int32_t capacity, uint8_t* yOutput,
                                      uint8_t* cbOutput, uint8_t* crOutput, int32_t* yLength,
                                      int32_t* cbLength, int32_t* crLength, WicketSettings* s,
                                      HuffmanState* coder) {
    int32_t* lengths[3] = {yLength, cbLength, crLength};
    for (int32_t* l : lengths) {
        if (l != nullptr) *l = 0;
    }
    if (s == nullptr || coder == nullptr) return kWicketMissingArgument;
    if (s->initStatus != 0) return s->initStatus;
    if (yPlane == nullptr || blockTypes == nullptr || yLength == nullptr || yOutput == nullptr) {
        return kWicketMissingArgument;
    }
    const int present = (cbPlane != nullptr) + (crPlane != nullptr) + (cbOutput != nullptr) +
                        (crOutput != nullptr) + (cbLength != nullptr) + (crLength != nullptr);
    if (present != 0 && present != 6) return kWicketMissingArgument;
    const int32_t planeCount = present == 6 ? 3 : 1;
    if (capacity < pixels) return kWicketSizeError;

    int32_t h = 1;
    int32_t v = 1;
    if (planeCount == 3 && s->sampleType == SAMPLE_420) {
        h = 2;
        v = 2;
    } else if (planeCount == 3 && s->sampleType == SAMPLE_422) {
        h = 2;
    }
    if (!sizesFit(mapLength, width, pixels, h, v)) return kWicketSizeError;

    if (planeCount == 1) {
        const int32_t shift = pipelineQuantShift(blockTypes, mapLength, s);
        if (shift >= 0) {
            return compressPlaneByColumns(blockTypes, width, mapLength / (width / 8), shift, yPlane,
                                          capacity, yOutput, yLength, s, coder);
        }
    }

    const size_t n = static_cast<size_t>(pixels);
    const size_t m = static_cast<size_t>(mapLength);
    if (!reserveWork(s, n, 2 * m)) return kWicketAllocationFailed;
    int32_t* plane = s->workPlanes.data();
    uint8_t* lumMap = s->workMaps.data();
    uint8_t* chromMap = lumMap + m;
    const int32_t blocksPerRow = width / 8;
    const int32_t blockRows = mapLength / blocksPerRow;
    const int32_t lines = pixels / width;
    buildMapCopies(blockTypes, blocksPerRow, blockRows, h, v, lumMap, chromMap);

    const uint8_t* sources[3] = {yPlane, cbPlane, crPlane};
    uint8_t* outputs[3] = {yOutput, cbOutput, crOutput};
    int32_t result = 0;
    for (int32_t i = 0; i < planeCount; ++i) {
        const bool sub = i > 0 && h == 2;
        const int32_t planeWidth = sub ? width / h : width;
        const int32_t planeLines = sub ? lines / v : lines;
        const uint8_t* map = sub ? chromMap : lumMap;
        *lengths[i] = 0;
        const int32_t r =
            preparePlane(i, sources[i], width, pixels, i == 0 ? SAMPLE_444 : s->sampleType, plane,
                         planeWidth, planeLines, map, i > 0, s);
        if (r != 0) {
            result += r << (8 * i);
            continue;
        }

        outputBuffer(outputs[i], capacity, coder);
        auto codeUnit = [&](int32_t by, int32_t bx) {
            return codeAnyBlock<true>(plane + static_cast<ptrdiff_t>(by) * 8 * planeWidth + 8 * bx,
                                      i, s, coder);
        };
        if (walkBlocks<true>(
                map, planeWidth / 8, planeLines / 8, [s, i] { s->prevDC[i] = 0; }, codeUnit,
                DirectMarkers{}, s, coder) != 0) {
            return kWicketSizeError;
        }
        int32_t length = 0;
        if (finishEncoding(&length, coder) != 0) return kWicketSizeError;
        *lengths[i] = length;
    }
    return result;
}

int32_t wicketCompressMonoPlane(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                                int32_t pixels, const uint8_t* plane, int32_t capacity,
                                uint8_t* output, int32_t* outLength, WicketSettings* s,
                                HuffmanState* coder) {
    return wicketCompressSeparatedPlanes(mapLength, blockTypes, width, pixels, plane, nullptr,
                                         nullptr, capacity, output, nullptr, nullptr, outLength,
                                         nullptr, nullptr, s, coder);
}

// --- Decoding side ----------------------------------------------------------

void setSegmentInput(const uint8_t* input, int32_t length, WicketSettings* s) {
    s->segmentInput = input;
    s->segmentRemaining = input == nullptr ? 0 : std::max(length, 0);
    s->segmentCount = 0;
}

int32_t getSegment(int32_t remaining, int32_t* segmentBlocks, WicketSettings* s,
                   HuffmanState* coder) {
    if (segmentBlocks == nullptr || s == nullptr || coder == nullptr ||
        s->segmentInput == nullptr) {
        return kWicketMissingArgument;
    }
    const int32_t interval = s->restartInterval;
    if (interval <= 0 && s->segmentCount != 0) return kWicketNoRestartInterval;
    if (interval <= 0 || interval >= remaining) {
        // The last (or only) segment: everything that is left.
        *segmentBlocks = remaining;
        decodeData(s->segmentInput, s->segmentRemaining, coder);
        s->segmentInput += s->segmentRemaining;
        s->segmentRemaining = 0;
        s->segmentCount++;
        return 0;
    }
    const uint8_t* in = s->segmentInput;
    const int32_t n = s->segmentRemaining;
    for (int32_t i = 0; i + 1 < n; ++i) {
        if (in[i] != 0xFF || in[i + 1] < 0xD0 || in[i + 1] > 0xD7) continue;
        if (in[i + 1] != 0xD0 + (s->segmentCount & 7)) return kWicketBadRestart;
        *segmentBlocks = interval;
        decodeData(in, i, coder);
        s->segmentInput = in + i + 2;
        s->segmentRemaining = n - i - 2;
        s->segmentCount++;
        return 0;
    }
    return kWicketNoRestartMarker;
}
