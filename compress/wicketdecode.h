// Reads band streams of the wicket compressor back into quantised DCT
// coefficients.  The filter never decodes; tests and tools use this to check
// what the compressor wrote, symbol by symbol.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/wicket.h"

struct WicketDecodedPlanes {
    int32_t components = 0;  // 3 (Y, Cb, Cr) or 1 (gray)
    int32_t planeWidth[3] = {};
    int32_t planeLines[3] = {};
    // Quantised coefficients laid out as the compressor's integer planes:
    // frequency (u, v) of block (bx, by) at line 8 by + v, column 8 bx + u.
    // DC values are absolute (prediction undone).
    std::vector<int32_t> coefficients[3];
    // Per luminance block: the quantiser announced by the last marker before
    // it, 1 flat (0x2B), 0 tables (0x2C), -1 none yet.
    std::vector<int8_t> quantMarker;
    int32_t segments = 0;  // restart segments read
};

// Decodes `length` bytes holding the bands of one image: width x lines pixels,
// colour (interleaved Y/Cb/Cr with settings->sampleType 0x422 or 0x444) or
// gray.  Restart interval and DC prediction follow the settings, as when the
// stream was written.  blockTypes, when given (one byte per luminance block),
// lets the decoder reset its DC predictors at quantiser changes that wrote no
// marker.  The coder must have its codes built (setHuffman, initialize);
// byte stuffing is turned on.
// 0; 1 missing argument; 2 sizes; 4 sample type; 66 corrupt symbols;
// 67 / 68 / 69 restart errors (getSegment); decoder codes 1313, 1541.
int32_t wicketDecodeStream(const uint8_t* input, int32_t length, int32_t width, int32_t lines,
                           bool color, const uint8_t* blockTypes, WicketDecodedPlanes* out,
                           WicketSettings* settings, HuffmanState* coder);
