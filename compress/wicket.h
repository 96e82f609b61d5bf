// Wicket plane compressor: one band of raster data to a headerless baseline
// JPEG scan.
//
// The compressor takes byte planes (Y, Cb, Cr or one gray plane), converts
// them to level-shifted integers (downsampling chroma for 4:2:2 / 4:2:0),
// transforms and quantises them, and drives the Huffman coder over the
// blocks in MCU order: entropy-coded data, RSTn every restartInterval
// luminance blocks, and the private quantiser-switch markers (0xFF 0x2B flat,
// 0xFF 0x2C tables) where consecutive blocks change quantiser.
//
// Two paths give the same bytes.  When every block is fully quantised by a
// power-of-two flat quantiser (the filter's bands), the band is worked
// through a few block columns at a time with the vector kernels of
// compress/simd and flat blocks skip the transform.  Otherwise, or
// with QZ_FORCE_SCALAR=1 in the environment, whole int32 planes are
// transformed and quantised first, in portable C++.
//
// A per-block type map (one byte per 8x8 luminance block, block rows in
// order) chooses the treatment of each block:
//   0 blank: no transform; DC white (8128) when the top-left sample is set,
//     else 0; DC quantised by entry 0 of the table;
//   1: full DCT, every coefficient by the quantisation table;
//   2 uniform: full DCT, only DC quantised, by the flat quantiser;
//   3: full DCT, every coefficient by the flat quantiser;
//   4..255: full DCT, the flat quantiser when bit 1 is set, else the table.
// Bit 1 (flat) is what the markers announce.  Where chroma is subsampled, a
// chroma block takes the OR of the types of the luminance blocks it covers and
// those luminance blocks are coded with that OR type too.
//
// Per band the filter calls: setHuffman, restartIndex = band mod 8,
// initialize, setWicket, reinitialize, setRestartInterval(width / 8),
// emitQMarkers = first band of the image, then wicketCompressPlanes (colour,
// 4:2:2) or setSampleType(SAMPLE_444) and wicketCompressMonoPlane (gray),
// with every block type 3 and an output of wicketWorstCaseBytes() bytes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "compress/huffman.h"

inline constexpr int32_t SAMPLE_420 = 0x420;
inline constexpr int32_t SAMPLE_422 = 0x422;
inline constexpr int32_t SAMPLE_444 = 0x444;

inline constexpr int32_t kWicketMissingArgument = 1;    // also: failed allocation (interleaved)
inline constexpr int32_t kWicketSizeError = 2;          // capacity, sizes, failed writes
inline constexpr int32_t kWicketBadValue = 4;           // sample type or quality out of range
inline constexpr int32_t kWicketAllocationFailed = 15;  // separated mode
inline constexpr int32_t kWicketCorruptData = 66;       // decoder: symbols that make no block
inline constexpr int32_t kWicketNoRestartMarker = 67;
inline constexpr int32_t kWicketNoRestartInterval = 68;
inline constexpr int32_t kWicketBadRestart = 69;  // wrong RSTn, or odd interval with 4:2:2

inline constexpr int32_t kWicketDefaultQuality = 80;

// Worst case of one block at the flat quantiser, stuffing counted as 8 bits
// per stuffed byte, and per-interval / per-band marker bytes (wicket.cpp).
inline constexpr int64_t kWicketWorstLumBlockBits = 1713;
inline constexpr int64_t kWicketWorstChromBlockBits = 1579;
inline constexpr int64_t kWicketWorstIntervalBytes = 4;  // padding byte, its stuffing, RSTn
inline constexpr int64_t kWicketWorstBandBytes = 22;     // quantiser marker with fill bytes

struct WicketSettings {
    // Per component: offset from a block's top-left coefficient to the
    // coefficient of zig-zag index k, in that component's plane.
    int32_t zigzagOffsets[3][64] = {};
    int32_t prevDC[3] = {};  // DC predictors (Y, Cb, Cr)
    // Blocks between restart markers (luminance blocks in the interleaved
    // mode, blocks of the plane in the separated mode); 0 = none.
    int32_t restartInterval = 0;
    int32_t restartMcuCount = 0;  // blocks since the last restart marker
    int32_t sampleType = SAMPLE_422;
    int32_t segmentCount = 0;      // decoder: restart segments read
    int32_t segmentRemaining = 0;  // decoder: input bytes left
    int32_t initStatus = 0;        // initialize() result; non-zero blocks compression
    bool padQMarker = false;       // twenty 0xFF fill bytes before quantiser markers
    bool useDeltaDC = true;        // T.81 DC prediction
    // Plane width (and two keys, always 1) each component's offsets were built for.
    int32_t zigzagWidth[3] = {};
    int32_t zigzagDivisor[3] = {};
    int32_t zigzagMode[3] = {};
    int32_t lumQuant[64] = {};  // natural order, x8
    int32_t chromQuant[64] = {};
    int32_t lumQFactor = kWicketDefaultQuality;
    int32_t chromQFactor = kWicketDefaultQuality;
    int32_t flatQuant = 8;
    const uint8_t* segmentInput = nullptr;  // decoder: next input byte
    // Quantiser-switch markers are written at all.  The owner sets it before
    // each call (true only for the first band of an image).
    bool emitQMarkers = false;

    // Working memory reused from call to call: integer planes (or the
    // block-column pipeline's coefficient and symbol arrays) and the two
    // block type map copies.
    std::vector<int32_t> workPlanes;
    std::vector<uint8_t> workMaps;
};

// --- Settings ---------------------------------------------------------------

// Stores *initStatus (1 when it is missing), sets the defaults: flat quantiser
// 8, quality 80 for both tables, SAMPLE_422, no restart interval, pad off,
// delta DC on; turns the coder's stuffing on when the status is 0.
void setWicket(WicketSettings* settings, HuffmanState* coder, const int32_t* initStatus);
// Rebuilds the coder's tables when initStatus is non-zero, then the same
// defaults as setWicket.  Keeps the zig-zag cache and the DC predictors.
void reinitialize(WicketSettings* settings, HuffmanState* coder);

int32_t setQFactor2(int32_t lumQuality, int32_t chromQuality, WicketSettings* settings);  // 4
int32_t setQFactor(int32_t quality, WicketSettings* settings);  // 1..100, else 4
// lumQFactor when both factors are equal, else lumQFactor x 256 + chromQFactor.
int32_t queryQFactor(const WicketSettings* settings);

// 0x420, 0x422, 0x444 are stored; any other value stores 0x444 and gives 4.
int32_t setSampleType(int32_t type, WicketSettings* settings);
int32_t querySampleType(const WicketSettings* settings);

int32_t setRestartInterval(int32_t interval, WicketSettings* settings);  // previous value
int32_t queryRestartInterval(const WicketSettings* settings);
void clearRestartMcuCount(WicketSettings* settings);

bool setPadQMarker(WicketSettings* settings);
bool clearPadQMarker(WicketSettings* settings);
bool queryPadQMarker(const WicketSettings* settings);
bool setUseDeltaDC(WicketSettings* settings);
bool clearUseDeltaDC(WicketSettings* settings);
bool queryUseDeltaDC(const WicketSettings* settings);

bool wicketSetByteStuffing(HuffmanState* coder);
bool wicketClearByteStuffing(HuffmanState* coder);
bool wicketQueryByteStuffing(const HuffmanState* coder);

// Builds the zig-zag offsets of a component (0..2) for a plane width, unless
// they were already built for that width.
void wicketSetPlanarZigZag(int32_t component, int32_t planeWidth, WicketSettings* settings);

// --- Output size ------------------------------------------------------------

// The most bytes one band can take at the flat quantiser (every block type
// 3, as the filter codes it), markers, stuffing and padding included, with a
// restart interval of one block row (or none); see wicket.cpp for the
// derivation.  width and lines are the band's size in pixels; colour = 4:2:2
// Y/Cb/Cr, else one gray plane.  About 6.43 bytes per pixel for colour and
// 3.35 for gray.  0 for sizes the compressor refuses anyway.
int64_t wicketWorstCaseBytes(int32_t width, int32_t lines, bool color);

// --- Compression ------------------------------------------------------------

// Codes Y, Cb, Cr interleaved into one stream (MCU = Y Y Cb Cr for 4:2:2,
// Y Cb Cr for 4:4:4).  mapLength = (width / 8) x (lines / 8) entries; pixels
// = width x lines; capacity >= 3 x pixels.  *outLength = bytes written.
// 0; initStatus; 1 missing argument or failed allocation; 2 capacity below 3 x
// pixels, sizes not fitting the sample type or the map, or the output filled
// up (the bytes that fitted are kept in *outLength); 4 SAMPLE_420; 69 odd
// restart interval with SAMPLE_422; codes of downSampleInt / fDCTransform /
// quantizePlane.
int32_t wicketCompressPlanes(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                             int32_t pixels, const uint8_t* yPlane, const uint8_t* cbPlane,
                             const uint8_t* crPlane, int32_t capacity, uint8_t* output,
                             int32_t* outLength, WicketSettings* settings, HuffmanState* coder);

// Codes each plane as a stream of its own into its own output of `capacity`
// bytes (>= pixels).  The six chroma arguments are all present (three planes)
// or all absent (Y alone).  0; initStatus; 1 missing or mixed arguments; 2
// capacity, sizes or any failed write (the call stops; that plane's length
// stays 0); 15 failed allocation; per plane i, a transform error e adds
// e << (8 x i) and that plane gets no stream.
int32_t wicketCompressSeparatedPlanes(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                                      int32_t pixels, const uint8_t* yPlane, const uint8_t* cbPlane,
                                      const uint8_t* crPlane, int32_t capacity, uint8_t* yOutput,
                                      uint8_t* cbOutput, uint8_t* crOutput, int32_t* yLength,
                                      int32_t* cbLength, int32_t* crLength,
                                      WicketSettings* settings, HuffmanState* coder);

// wicketCompressSeparatedPlanes with one plane.
int32_t wicketCompressMonoPlane(int32_t mapLength, const uint8_t* blockTypes, int32_t width,
                                int32_t pixels, const uint8_t* plane, int32_t capacity,
                                uint8_t* output, int32_t* outLength, WicketSettings* settings,
                                HuffmanState* coder);

// --- Decoding side ----------------------------------------------------------

// Starts reading restart segments from `length` bytes of input.
void setSegmentInput(const uint8_t* input, int32_t length, WicketSettings* settings);

// Finds the next restart segment for `remaining` blocks still expected:
// *segmentBlocks = restartInterval, or all remaining when the interval is 0
// or not smaller; points the coder's decoder at the segment's bytes (up to
// the RSTn) and moves past the marker.  0; 1 missing argument; 67 no RSTn
// before the end; 68 interval 0 after a first segment; 69 a RSTn out of
// sequence.
int32_t getSegment(int32_t remaining, int32_t* segmentBlocks, WicketSettings* settings,
                   HuffmanState* coder);
