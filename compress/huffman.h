// Baseline JPEG entropy coder (ITU-T T.81, sequential DCT, Huffman coding).
//
// The coder turns quantised DCT coefficients into Huffman-coded bits in a
// byte buffer that the caller supplies, and writes restart markers RSTn and
// two private markers that announce a change of quantiser to the printer:
// 0xFF 0x2B (the following blocks use the flat quantiser) and 0xFF 0x2C (they
// use the quantisation tables).  No JPEG header is ever written; the printer
// uses the example tables of T.81 Annex K.
//
// Writing one stream: setHuffman(), initialize() (after setTable() when the
// tables are replaced), outputBuffer(), setByteStuffing(), symbols and
// markers, finishEncoding().  A further stream on the same state starts again
// at outputBuffer(); restartIndex carries over unless the owner sets it.
//
// Bits gather in a 32-bit accumulator, left-aligned (the next bit to leave is
// bit 31), and leave in whole bytes.  With stuffing on, every 0xFF data byte
// is followed by 0x00 (T.81 B.1.1.5); a byte and its stuffing zero are written
// only when both fit.  Once a write finds the buffer full it returns 1312 and
// the buffer counts as full from then on: nothing more is written to it.
//
// The decoder functions read such a stream back (tests and tools; the filter
// never decodes).  They never read outside the input they are given.
#pragma once

#include <cstdint>

#include "compress/huffmancodec.h"

inline constexpr int32_t kHuffMissingArgument = 1;
inline constexpr int32_t kHuffOutputFull = 1312;
inline constexpr int32_t kHuffInputExhausted = 1313;
inline constexpr int32_t kHuffValueTooLarge = 1314;
inline constexpr int32_t kHuffCannotOpenFile = 1317;

// Largest magnitude a DC difference or AC coefficient may have (category 11).
inline constexpr int32_t kHuffMaxMagnitude = 2047;

struct HuffmanState {
    // categoryOf[m] = number of significant bits of m (the T.81 SSSS category).
    uint8_t categoryOf[2048] = {};

    // Encoder output.
    uint8_t* out = nullptr;   // next byte to write
    int32_t outCapacity = 0;  // bytes the destination may take
    int32_t outCount = 0;     // bytes written since outputBuffer()
    bool byteStuffing = false;
    uint32_t bitBuffer = 0;  // pending bits, left-aligned
    int32_t bitCount = 0;    // pending bits; 0..7 between writes while room remains

    // Decoder input.
    const uint8_t* in = nullptr;  // next input byte
    int32_t inTotal = 0;          // bytes given to decodeData()
    int32_t inAvailable = 0;      // bytes not yet read
    uint32_t inWindow = 0;        // loaded bits, left-aligned
    int32_t inWindowBits = 0;     // bits in inWindow
    int32_t inBitsConsumed = 0;   // bits consumed since decodeData()

    // Zig-zag index of the last coefficient coded or decoded in the block.
    int32_t coefPosition = 0;

    // Decoder markers: a quantiser marker was seen and not yet acted on, and
    // whether it was the flat one (0x2B).
    bool quantMarkerSeen = false;
    bool quantMarkerFlat = false;

    // Number n of the next restart marker RSTn to write (0..7).
    int32_t restartIndex = 0;

    // Decoder modes: input read with byte stuffing (0xFF 0x00 is a data 0xFF
    // and markers are recognised); a quantiser marker stops the input until
    // checkForFlush() steps over it.
    bool decodeStuffing = false;
    bool markerPending = false;
    // Decoder bookkeeping: fill bits (not from the input) at the bottom of
    // inWindow, and input bytes loaded since the last realignment.
    int32_t inFillBits = 0;
    int32_t inBytesSinceAlign = 0;

    // Table definitions in T.81 form (BITS, HUFFVAL).
    int32_t lumDCBits[16] = {};
    int32_t lumDCValues[16] = {};
    int32_t lumACBits[16] = {};
    int32_t lumACValues[162] = {};
    int32_t chromDCBits[16] = {};
    int32_t chromDCValues[16] = {};
    int32_t chromACBits[16] = {};
    int32_t chromACValues[162] = {};

    CodecTable lumCodes;
    CodecTable chromCodes;
};

// --- Setup ------------------------------------------------------------------

// Fills categoryOf, loads the Annex K table definitions, zeroes the output,
// accumulator, restart index and decoder fields, turns stuffing off.  Builds
// no codes.
void setHuffman(HuffmanState* state);

// Replaces the luminance (chroma false) or chrominance table definition; 1 when
// an array is missing.  Run initialize() afterwards.
int32_t setTable(bool chroma, const uint8_t* dcBits, const uint8_t* dcValues, const uint8_t* acBits,
                 const uint8_t* acValues, HuffmanState* state);

// Builds the luminance and then the chrominance codes; the first error, or 0.
int32_t initialize(HuffmanState* state);

// Starts a stream into `destination` of `capacity` bytes (negative counts as
// 0).  1 when destination is missing.  Pending bits of an earlier stream that
// could not be written are discarded.
int32_t outputBuffer(uint8_t* destination, int32_t capacity, HuffmanState* state);

// Set / clear return the previous setting.
bool setByteStuffing(HuffmanState* state);
bool clearByteStuffing(HuffmanState* state);
bool queryByteStuffing(const HuffmanState* state);

// --- Writing ----------------------------------------------------------------

// Appends the low n bits of value (n 0..16; up to 25 is accepted, larger is
// refused with 1).  1312 when the buffer is full.
int32_t outputBits(int32_t value, int32_t n, HuffmanState* state);

// Pads pending bits to a byte with 1-bits (T.81 fill rule) and writes it.
// Nothing pending: 0.  1312 when the byte does not fit.
int32_t flushOutput(HuffmanState* state);

// One DC value (a difference when DC prediction is on): its category code and
// amplitude bits.  1314 (nothing written) when |value| > 2047.
int32_t dcSymbol(int32_t value, bool chroma, HuffmanState* state);

// One non-zero AC coefficient after `run` zeros (0..15).  1314 when
// |value| > 2047, 1539 when (run, size) is not a baseline symbol (size above
// 10, run outside 0..15); nothing is written then.
int32_t acSymbol(int32_t run, int32_t value, bool chroma, HuffmanState* state);

int32_t zrlSymbol(bool chroma, HuffmanState* state);  // sixteen zeros
int32_t eobSymbol(bool chroma, HuffmanState* state);  // end of block

// Flushes and writes RSTn (unstuffed) with n = restartIndex, which then moves
// on to the next of RST0..RST7.
int32_t restartMarker(HuffmanState* state);

// Flushes and writes 0xFF 0x2B (flat) or 0xFF 0x2C (tables), unstuffed; the
// Pad variant writes twenty 0xFF fill bytes before the marker.
int32_t quantizationTableMarker(bool flat, HuffmanState* state);
int32_t quantizationTableMarkerPad(bool flat, HuffmanState* state);

// Flushes and stores the bytes written in *length (also when the flush
// failed); returns the flush result, 1 when length is missing.
int32_t finishEncoding(int32_t* length, HuffmanState* state);

// Text export of both code tables (one "%08X" value per line); 1 when path is
// missing, 1317 when the file cannot be opened.
int32_t writeTables(const char* path, HuffmanState* state);

// --- Reading ----------------------------------------------------------------

// Points the decoder at `length` bytes; byte stuffing and marker recognition
// follow the state's byteStuffing.  1 when input is missing.
int32_t decodeData(const uint8_t* input, int32_t length, HuffmanState* state);

// The next data byte (0..255), or 1313 when the input is exhausted.  Fill
// bytes 0xFF before a marker are collapsed, the 0x00 after a stuffed 0xFF is
// dropped.  A quantiser marker met before any data byte since the last
// realignment is stepped over and recorded; one met after data bytes is held
// pending and 0xFF is supplied until checkForFlush() acts on it.  Any other
// marker ends the input.
int32_t nextByte(HuffmanState* state);

// The next 16 bits (bit 15 first) without consuming them; past the end of the
// input the window is filled with 1-bits.  1 when window is missing.
int32_t getCode(uint32_t* window, HuffmanState* state);

// Reads n amplitude bits (0..16) and restores the sign (T.81 EXTEND).
// 1313 when the bits run past the input.
int32_t decodeVLI(int32_t n, int32_t* value, HuffmanState* state);

// One DC value (category code and amplitude); sets coefPosition to 0.
int32_t decodeDCSymbol(int32_t* value, bool chroma, HuffmanState* state);

// One AC symbol: *run = zeros before *value; ZRL gives run 16 and value 0, EOB
// run -1 and value 0 (coefPosition then 63).  Advances coefPosition.
int32_t decodeACSymbol(int32_t* run, int32_t* value, bool chroma, HuffmanState* state);

// Called between blocks: when a quantiser marker stands at the current
// position (after the 1-bit padding of the current byte), steps over it,
// records it in quantMarkerSeen / quantMarkerFlat and returns 1; else 0.
int32_t checkForFlush(HuffmanState* state);

// Bits consumed since decodeData().
int32_t decodeBitPosition(const HuffmanState* state);

// Forgets the flat-marker flag.
void softReset(HuffmanState* state);
