#include "compress/wicketdecode.h"

#include <cstddef>

namespace {

// Reads one block into `block` (already zero): DC difference, then AC run /
// size symbols until EOB or the 63rd coefficient.
int32_t decodeBlock(int32_t* block, int32_t component, WicketSettings* s, HuffmanState* coder) {
    const bool chroma = component > 0;
    int32_t dc = 0;
    int32_t r = decodeDCSymbol(&dc, chroma, coder);
    if (r != 0) return r;
    if (s->useDeltaDC) {
        dc += s->prevDC[component];
        s->prevDC[component] = dc;
    }
    block[0] = dc;
    const int32_t* zigzag = s->zigzagOffsets[component];
    int32_t k = 1;
    while (k < 64) {
        int32_t run = 0;
        int32_t value = 0;
        r = decodeACSymbol(&run, &value, chroma, coder);
        if (r != 0) return r;
        if (run < 0) break;  // EOB
        if (run == 16 && value == 0) {
            k += 16;  // ZRL
            if (k > 64) return kWicketCorruptData;
            continue;
        }
        k += run;
        if (k > 63 || value == 0) return kWicketCorruptData;
        block[zigzag[k]] = value;
        ++k;
    }
    return 0;
}

void clearPredictors(WicketSettings* s) {
    s->prevDC[0] = s->prevDC[1] = s->prevDC[2] = 0;
}

}  // namespace

int32_t wicketDecodeStream(const uint8_t* input, int32_t length, int32_t width, int32_t lines,
                           bool color, const uint8_t* blockTypes, WicketDecodedPlanes* out,
                           WicketSettings* s, HuffmanState* coder) {
    if (input == nullptr || out == nullptr || s == nullptr || coder == nullptr) {
        return kWicketMissingArgument;
    }
    *out = WicketDecodedPlanes{};
    int32_t h = 1;
    if (color) {
        if (s->sampleType == SAMPLE_422) {
            h = 2;
        } else if (s->sampleType != SAMPLE_444) {
            return kWicketBadValue;
        }
    }
    if (width <= 0 || lines <= 0 || width % (8 * h) != 0 || lines % 8 != 0) return kWicketSizeError;
    if (int64_t{width} * lines > INT32_MAX / 3) return kWicketSizeError;

    out->components = color ? 3 : 1;
    for (int32_t c = 0; c < out->components; ++c) {
        out->planeWidth[c] = c == 0 ? width : width / h;
        out->planeLines[c] = lines;
        out->coefficients[c].assign(
            static_cast<size_t>(out->planeWidth[c]) * static_cast<size_t>(lines), 0);
        wicketSetPlanarZigZag(c, out->planeWidth[c], s);
    }
    const int32_t blocksPerRow = width / 8;
    const int32_t totalBlocks = blocksPerRow * (lines / 8);
    out->quantMarker.assign(static_cast<size_t>(totalBlocks), -1);

    setByteStuffing(coder);
    setSegmentInput(input, length, s);
    clearPredictors(s);
    int8_t marker = -1;
    bool prevBit =
        blockTypes != nullptr && ((blockTypes[0] | (h == 2 ? blockTypes[1] : 0)) & 2) == 0;
    int32_t index = 0;
    while (index < totalBlocks) {
        int32_t segmentBlocks = 0;
        int32_t r = getSegment(totalBlocks - index, &segmentBlocks, s, coder);
        if (r != 0) return r;
        out->segments++;
        clearPredictors(s);
        for (int32_t j = 0; j < segmentBlocks && index < totalBlocks; ++j, ++index) {
            checkForFlush(coder);
            if (coder->quantMarkerSeen) {
                coder->quantMarkerSeen = false;
                marker = coder->quantMarkerFlat ? 1 : 0;
                clearPredictors(s);
            }
            if (blockTypes != nullptr) {
                // The compressor resets its predictors at every quantiser
                // change, with or without a marker.
                uint8_t t = blockTypes[index];
                if (h == 2) t |= blockTypes[index ^ 1];  // the MCU's pair shares one type
                const bool bit = (t & 2) != 0;
                if (bit != prevBit) clearPredictors(s);
                prevBit = bit;
            }
            out->quantMarker[static_cast<size_t>(index)] = marker;
            const int32_t bx = index % blocksPerRow;
            const int32_t by = index / blocksPerRow;
            const ptrdiff_t lumAt = static_cast<ptrdiff_t>(by) * 8 * width + 8 * bx;
            r = decodeBlock(out->coefficients[0].data() + lumAt, 0, s, coder);
            if (r != 0) return r;
            if (!color || (h == 2 && (bx & 1) == 0)) continue;
            const ptrdiff_t chromAt =
                h == 2 ? static_cast<ptrdiff_t>(by) * 8 * (width / 2) + 8 * ((bx - 1) / 2) : lumAt;
            for (int32_t c = 1; c < 3; ++c) {
                r = decodeBlock(out->coefficients[c].data() + chromAt, c, s, coder);
                if (r != 0) return r;
            }
        }
    }
    return 0;
}
