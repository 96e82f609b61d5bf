// Huffman code tables for the baseline JPEG coder (ITU-T T.81 Annex C).
//
// A table set is given in the T.81 form BITS / HUFFVAL: BITS[i] is the number
// of codes of length i + 1 and the values follow in code order.  From it
// codecGenerateCodes() assigns the canonical codes: per DC category and per
// AC run/size symbol, the code and its length.  The example tables of T.81
// Annex K (K.3 to K.6) are the only ones the printer knows; they are built in.
//
// AC symbols are addressed by a dense index: EOB (0x00) is 160, ZRL (0xF0)
// 161, and RS = (run << 4) | size with size 1..10 and run 0..15 is
// (size - 1) * 16 + run; 162 indices cover every baseline AC symbol.
//
// The decoder lookups (a DC table by 8-bit prefix and an AC table by 16-bit
// window) are only needed to read a stream back.  They are built on first use
// by a decoder function, never on the encoding path, which rebuilds its codes
// before every band.
#pragma once

#include <cstdint>
#include <memory>

inline constexpr int32_t kCodecBadDCSymbol = 1537;    // DC value above 15, or a bad DC BITS
inline constexpr int32_t kCodecTooManyCodes = 1538;   // more than 162 AC codes, or bad AC BITS
inline constexpr int32_t kCodecBadACSymbol = 1539;    // not a baseline RS symbol, or defined twice
inline constexpr int32_t kCodecBadDCCategory = 1540;  // DC category above 11 requested
inline constexpr int32_t kCodecNoMatch = 1541;        // decoder: no code matches the bits
inline constexpr int32_t kCodecMissingDCBits = 1542;
inline constexpr int32_t kCodecMissingACBits = 1543;
inline constexpr int32_t kCodecMissingACValues = 1544;
inline constexpr int32_t kCodecMissingCodeOut = 1545;
inline constexpr int32_t kCodecMissingLengthOut = 1546;
inline constexpr int32_t kCodecMissingSymbolOut = 1547;  // decoder: symbol output missing
inline constexpr int32_t kCodecMissingDecodeLengthOut = 1548;

inline constexpr int kCodecDCEntries = 16;   // DC categories 0..15, of which 0..11 are usable
inline constexpr int kCodecACEntries = 162;  // AC symbol indices
inline constexpr int kCodecEOBIndex = 160;
inline constexpr int kCodecZRLIndex = 161;
inline constexpr int32_t kCodecNoCode = 0x7FFFFFFF;  // maxCode of a length without codes

struct CodecEntry {
    int32_t code = 0;
    int32_t length = 0;
    int32_t uses = 0;  // how often the table definition lists this symbol
};

struct CodecACLookupEntry {
    int32_t symbol = 0;  // run/size symbol
    int32_t length = 0;  // code length; 0 = no code begins with this window
};

// The decoder lookups of one table set (about 0.5 MiB, so kept off the coder
// state and allocated only when a stream is decoded).
struct CodecDecoderLookups {
    int32_t dcLookup[512];  // DC category by 8-bit prefix (256 used), -1 for none
    CodecACLookupEntry acLookup[65536];
};

struct CodecTable {
    CodecEntry dc[kCodecDCEntries];
    CodecEntry ac[kCodecACEntries];
    // AC codes per length L = index + 1: first code, last code (kCodecNoCode
    // when none has that length) and index of the first value.
    int32_t minCode[17] = {};
    int32_t maxCode[17] = {};
    int32_t valueIndex[17] = {};
    int32_t ready = 0;  // 1 once codes were generated without error

    // Decoder side, built lazily from the codes above.
    std::unique_ptr<CodecDecoderLookups> lookups;
    bool lookupsBuilt = false;
};

// Built-in tables: BITS and HUFFVAL of T.81 Tables K.3 (luminance DC), K.4
// (chrominance DC), K.5 (luminance AC) and K.6 (chrominance AC).
extern const int32_t huffmanLuminanceDCCodes[16];
extern const int32_t huffmanLuminanceDCCategory[16];
extern const int32_t huffmanChromDCCodes[16];
extern const int32_t huffmanChromDCCategory[16];
extern const int32_t huffmanLuminanceACCodes[16];
extern const int32_t huffmanLuminanceRSValues[162];
extern const int32_t huffmanChromACCodes[16];
extern const int32_t huffmanChromRSValues[162];

// Dense AC index of a run/size symbol, or -1 when it is not a baseline symbol.
int32_t codecCodeIndex(int32_t rs);
// Run/size symbol of an AC index, or -1.
int32_t codecRSSymbol(int32_t index);

// Canonical code assignment.  0, or 1542 / 1543 / 1544 for a missing
// dcBits / acBits / acValues, 1537 for a DC value above 15 (or a DC
// definition with more than 16 codes, or more codes of a length than the
// length can hold), 1538 for more than 162 AC codes (or an over-full AC
// length), 1539 for an AC value that is not a baseline symbol or a symbol
// defined twice.  dcValues is read only as far as dcBits asks.
int32_t codecGenerateCodes(const int32_t* dcBits, const int32_t* dcValues, const int32_t* acBits,
                           const int32_t* acValues, CodecTable* table);

// codecGenerateCodes(); the decoder lookups are rebuilt on their next use.
int32_t codecInitialize(const int32_t* dcBits, const int32_t* dcValues, const int32_t* acBits,
                        const int32_t* acValues, CodecTable* table);

// Code and length of a DC category (1540 above 11) or of an AC run/size
// symbol (1539 when not codable); 1545 / 1546 when an output is missing.
int32_t codecDCCode(int32_t category, int32_t* code, int32_t* length, const CodecTable* table);
int32_t codecACCode(int32_t rs, int32_t* code, int32_t* length, const CodecTable* table);

// Decoder: `window` holds the next 16 bits of the stream, first bit in bit 15.
// Gives the DC category (or AC run/size symbol) whose code begins the window
// and that code's length; 1541 when no code matches, 1547 / 1548 when an
// output is missing, 1 when the table holds no codes.
int32_t codecDecodeDCSymbol(uint32_t window, int32_t* category, int32_t* length, CodecTable* table);
int32_t codecDecodeACSymbol(uint32_t window, int32_t* symbol, int32_t* length, CodecTable* table);

// Copies the codes of `source` into `destination` and clears its `ready`
// field (the copy must be generated again before use); its decoder lookups are
// rebuilt on next use.  1 when either is missing.
int32_t setHuffmanCodec(const CodecTable* source, CodecTable* destination);
