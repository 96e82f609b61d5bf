#include "compress/huffman.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "compress/huffmanbits.h"

namespace {

CodecTable& codesFor(bool chroma, HuffmanState* s) {
    return chroma ? s->chromCodes : s->lumCodes;
}

// Writes a two-byte marker unstuffed after padding the data to a byte.
int32_t writeMarker(uint32_t marker, int fillBytes, HuffmanState* s) {
    flushOutput(s);  // a failure shows again in the marker write
    const bool stuffing = clearByteStuffing(s);
    for (int i = 0; i < fillBytes; i += 2)
        huffPutBits(0xFFFF, 16, s);
    const int32_t result = huffPutBits(marker, 16, s);
    if (stuffing) setByteStuffing(s);
    return result;
}

// --- decoder internals ---

// Steps over the rest of a marker whose 0xFF (and fill bytes) were read:
// returns the marker code, or -1 when the input ends first.  Does not consume
// a marker other than 0x2B / 0x2C.
int32_t peekMarkerCode(HuffmanState* s) {
    while (s->inAvailable > 0 && s->in[0] == 0xFF) {
        s->in++;
        s->inAvailable--;
    }
    if (s->inAvailable <= 0) return -1;
    return s->in[0];
}

// The next byte of entropy-coded data, or -1 at the end of the data (end of
// input, or a marker that ends it).  A quantiser marker is handled as told
// at nextByte().
int32_t readDataByte(HuffmanState* s) {
    for (;;) {
        if (s->markerPending || s->inAvailable <= 0) return -1;
        const uint8_t b = s->in[0];
        if (b != 0xFF || !s->decodeStuffing) {
            s->in++;
            s->inAvailable--;
            s->inBytesSinceAlign++;
            return b;
        }
        // 0xFF: look at what follows without consuming a foreign marker.
        const uint8_t* const markerStart = s->in;
        const int32_t availableAtMarker = s->inAvailable;
        s->in++;
        s->inAvailable--;
        const int32_t code = peekMarkerCode(s);
        if (code == 0x00) {
            s->in++;
            s->inAvailable--;
            s->inBytesSinceAlign++;
            return 0xFF;
        }
        if (code == 0x2B || code == 0x2C) {
            s->in++;
            s->inAvailable--;
            s->quantMarkerFlat = code == 0x2B;
            if (s->inBytesSinceAlign > 0) {
                s->markerPending = true;  // data of this stretch precede it
                return -1;
            }
            s->quantMarkerSeen = true;  // before any data: step over it
            continue;
        }
        // RSTn, another marker, or a 0xFF at the very end: the data end here.
        s->in = markerStart;
        s->inAvailable = availableAtMarker;
        return -1;
    }
}

// Loads bytes until the window holds at least `need` bits (need <= 25).
// Past the end of the data it loads 1-bits and counts them as fill.
void fillWindow(int32_t need, HuffmanState* s) {
    while (s->inWindowBits < need) {
        int32_t b = readDataByte(s);
        if (b < 0) {
            b = 0xFF;
            s->inFillBits += 8;
        }
        s->inWindow |= static_cast<uint32_t>(b) << (24 - s->inWindowBits);
        s->inWindowBits += 8;
    }
}

// Consumes n bits (n <= inWindowBits); false when fill bits were consumed,
// that is when the bits ran past the data.
bool consumeBits(int32_t n, HuffmanState* s) {
    s->inWindow = n >= 32 ? 0 : s->inWindow << n;
    s->inWindowBits -= n;
    s->inBitsConsumed += n;
    return s->inWindowBits >= s->inFillBits;
}

// Forgets the loaded bits and starts reading at the current input byte.
void realign(HuffmanState* s) {
    s->inWindow = 0;
    s->inWindowBits = 0;
    s->inFillBits = 0;
    s->inBytesSinceAlign = 0;
    s->markerPending = false;
}

// Text export: a code left-aligned in `width` bits, the bits below it all the
// complement of its last bit.
uint32_t exportCode(const CodecEntry& e, int width) {
    int32_t code = e.code;
    int32_t length = e.length;
    if (e.uses == 0 || length < 1 || length > 16) {
        code = 0;
        length = 16;
    }
    const int below = width - length;
    uint32_t value = static_cast<uint32_t>(code) << below;
    if ((code & 1) == 0) value |= (uint32_t{1} << below) - 1;
    return value;
}

void exportTable(std::FILE* f, const CodecTable& t, const int32_t* acValues) {
    for (const CodecEntry& e : t.ac)
        std::fprintf(f, "%08X\n", exportCode(e, 17));
    for (int c = 0; c < 12; ++c)
        std::fprintf(f, "%08X\n", exportCode(t.dc[c], 17));
    for (int l = 1; l <= 16; ++l) {
        if (t.maxCode[l - 1] == kCodecNoCode) {
            std::fprintf(f, "%08X\n%08X\n", 0x10000u, 0u);
        } else {
            const uint32_t max = (static_cast<uint32_t>(t.maxCode[l - 1]) << (16 - l)) |
                                 ((uint32_t{1} << (16 - l)) - 1);
            const auto offset = static_cast<uint32_t>(t.valueIndex[l - 1] - t.minCode[l - 1] + 412);
            std::fprintf(f, "%08X\n%08X\n", max, offset);
        }
    }
    for (int i = 0; i < 162; i += 2) {
        std::fprintf(f, "0000%02X%02X\n", static_cast<unsigned>(acValues[i] & 0xFF),
                     static_cast<unsigned>(acValues[i + 1] & 0xFF));
    }
    std::fprintf(f, "00000000\n");
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

// --- Setup ------------------------------------------------------------------

namespace {

// categoryOf[i] grows by one each time i reaches the next power of two.
// Built once: every band starts with setHuffman(), which copies it.
struct CategoryTable {
    uint8_t values[2048];
};
constexpr CategoryTable makeCategoryTable() {
    CategoryTable t{};
    int32_t c = 0;
    for (int32_t i = 0; i < 2048; ++i) {
        if ((1 << c) <= i) ++c;
        t.values[i] = static_cast<uint8_t>(c);
    }
    return t;
}
constexpr CategoryTable kCategoryTable = makeCategoryTable();

}  // namespace

void setHuffman(HuffmanState* s) {
    if (s == nullptr) return;
    std::copy_n(kCategoryTable.values, 2048, s->categoryOf);
    std::copy_n(huffmanLuminanceDCCodes, 16, s->lumDCBits);
    std::copy_n(huffmanLuminanceDCCategory, 16, s->lumDCValues);
    std::copy_n(huffmanLuminanceACCodes, 16, s->lumACBits);
    std::copy_n(huffmanLuminanceRSValues, 162, s->lumACValues);
    std::copy_n(huffmanChromDCCodes, 16, s->chromDCBits);
    std::copy_n(huffmanChromDCCategory, 16, s->chromDCValues);
    std::copy_n(huffmanChromACCodes, 16, s->chromACBits);
    std::copy_n(huffmanChromRSValues, 162, s->chromACValues);
    s->out = nullptr;
    s->outCapacity = 0;
    s->outCount = 0;
    s->byteStuffing = false;
    s->bitBuffer = 0;
    s->bitCount = 0;
    s->in = nullptr;
    s->inTotal = 0;
    s->inAvailable = 0;
    s->inWindow = 0;
    s->inWindowBits = 0;
    s->inBitsConsumed = 0;
    s->coefPosition = 0;
    s->quantMarkerSeen = false;
    s->quantMarkerFlat = false;
    s->restartIndex = 0;
    s->decodeStuffing = false;
    s->markerPending = false;
    s->inFillBits = 0;
    s->inBytesSinceAlign = 0;
}

int32_t setTable(bool chroma, const uint8_t* dcBits, const uint8_t* dcValues, const uint8_t* acBits,
                 const uint8_t* acValues, HuffmanState* s) {
    if (dcBits == nullptr || dcValues == nullptr || acBits == nullptr || acValues == nullptr ||
        s == nullptr) {
        return kHuffMissingArgument;
    }
    std::copy_n(dcBits, 16, chroma ? s->chromDCBits : s->lumDCBits);
    std::copy_n(dcValues, 16, chroma ? s->chromDCValues : s->lumDCValues);
    std::copy_n(acBits, 16, chroma ? s->chromACBits : s->lumACBits);
    std::copy_n(acValues, 162, chroma ? s->chromACValues : s->lumACValues);
    return 0;
}

int32_t initialize(HuffmanState* s) {
    if (s == nullptr) return kHuffMissingArgument;
    const int32_t lum =
        codecInitialize(s->lumDCBits, s->lumDCValues, s->lumACBits, s->lumACValues, &s->lumCodes);
    const int32_t chrom = codecInitialize(s->chromDCBits, s->chromDCValues, s->chromACBits,
                                          s->chromACValues, &s->chromCodes);
    return lum != 0 ? lum : chrom;
}

int32_t outputBuffer(uint8_t* destination, int32_t capacity, HuffmanState* s) {
    if (destination == nullptr || s == nullptr) return kHuffMissingArgument;
    s->out = destination;
    s->outCapacity = std::max(capacity, 0);
    s->outCount = 0;
    // Normally empty here (setHuffman clears it, finishEncoding flushes it);
    // leftovers of a stream that ran out of room must not leak into this one.
    s->bitBuffer = 0;
    s->bitCount = 0;
    return 0;
}

bool setByteStuffing(HuffmanState* s) {
    const bool previous = s->byteStuffing;
    s->byteStuffing = true;
    return previous;
}

bool clearByteStuffing(HuffmanState* s) {
    const bool previous = s->byteStuffing;
    s->byteStuffing = false;
    return previous;
}

bool queryByteStuffing(const HuffmanState* s) {
    return s->byteStuffing;
}

// --- Writing ----------------------------------------------------------------

int32_t outputBits(int32_t value, int32_t n, HuffmanState* s) {
    if (n > 25) return kHuffMissingArgument;
    return huffPutBits(static_cast<uint32_t>(value), n < 0 ? 0 : n, s);
}

int32_t flushOutput(HuffmanState* s) {
    if (s->bitCount == 0) return 0;
    if (s->outCount >= s->outCapacity) return huffOutputFull(s);
    if (s->bitCount < 8) {
        // T.81 fill rule: the unused bits of the last byte are 1s.
        s->bitBuffer |= 0xFFFFFFFFu >> s->bitCount;
        s->bitCount = 8;
    }
    const int32_t result = huffEmitBytes(s);
    if (result == 0) {
        s->bitBuffer = 0;
        s->bitCount = 0;
    }
    return result;
}

int32_t dcSymbol(int32_t value, bool chroma, HuffmanState* s) {
    return huffDCSymbol(value, codesFor(chroma, s), s);
}

int32_t acSymbol(int32_t run, int32_t value, bool chroma, HuffmanState* s) {
    return huffACSymbol(run, value, codesFor(chroma, s), s);
}

int32_t zrlSymbol(bool chroma, HuffmanState* s) {
    s->coefPosition += 16;
    const CodecEntry& e = codesFor(chroma, s).ac[kCodecZRLIndex];
    return huffPutBits(static_cast<uint32_t>(e.code), e.length, s);
}

int32_t eobSymbol(bool chroma, HuffmanState* s) {
    const CodecEntry& e = codesFor(chroma, s).ac[kCodecEOBIndex];
    return huffPutBits(static_cast<uint32_t>(e.code), e.length, s);
}

int32_t restartMarker(HuffmanState* s) {
    const int32_t n = s->restartIndex & 7;
    s->restartIndex = s->restartIndex > 6 ? 0 : s->restartIndex + 1;
    return writeMarker(0xFFD0u + static_cast<uint32_t>(n), 0, s);
}

int32_t quantizationTableMarker(bool flat, HuffmanState* s) {
    return writeMarker(flat ? 0xFF2Bu : 0xFF2Cu, 0, s);
}

int32_t quantizationTableMarkerPad(bool flat, HuffmanState* s) {
    return writeMarker(flat ? 0xFF2Bu : 0xFF2Cu, 20, s);
}

int32_t finishEncoding(int32_t* length, HuffmanState* s) {
    if (length == nullptr) return kHuffMissingArgument;
    const int32_t result = flushOutput(s);
    *length = s->outCount;
    return result;
}

int32_t writeTables(const char* path, HuffmanState* s) {
    if (path == nullptr || s == nullptr) return kHuffMissingArgument;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path, "wt"));
    if (!f) return kHuffCannotOpenFile;
    exportTable(f.get(), s->lumCodes, s->lumACValues);
    exportTable(f.get(), s->chromCodes, s->chromACValues);
    return 0;
}

// --- Reading ----------------------------------------------------------------

int32_t decodeData(const uint8_t* input, int32_t length, HuffmanState* s) {
    if (input == nullptr || s == nullptr) return kHuffMissingArgument;
    s->in = input;
    s->inTotal = std::max(length, 0);
    s->inAvailable = s->inTotal;
    s->inBitsConsumed = 0;
    s->decodeStuffing = s->byteStuffing;
    s->quantMarkerSeen = false;
    realign(s);
    return 0;
}

int32_t nextByte(HuffmanState* s) {
    const int32_t b = readDataByte(s);
    return b < 0 ? kHuffInputExhausted : b;
}

int32_t getCode(uint32_t* window, HuffmanState* s) {
    if (window == nullptr) return kHuffMissingArgument;
    fillWindow(16, s);
    *window = s->inWindow >> 16;
    return 0;
}

int32_t decodeVLI(int32_t n, int32_t* value, HuffmanState* s) {
    if (value == nullptr) return kHuffMissingArgument;
    if (n <= 0) {
        *value = 0;
        return 0;
    }
    if (n > 16) return kCodecNoMatch;
    fillWindow(n, s);
    int32_t v = static_cast<int32_t>(s->inWindow >> (32 - n));
    if (!consumeBits(n, s)) return kHuffInputExhausted;
    // EXTEND (T.81 F.2.2.1): a leading 0 bit marks a negative value.
    if (v < (1 << (n - 1))) v += 1 - (1 << n);
    *value = v;
    return 0;
}

int32_t decodeDCSymbol(int32_t* value, bool chroma, HuffmanState* s) {
    if (value == nullptr) return kHuffMissingArgument;
    uint32_t window = 0;
    getCode(&window, s);
    int32_t category = 0;
    int32_t length = 0;
    const int32_t result = codecDecodeDCSymbol(window, &category, &length, &codesFor(chroma, s));
    if (result != 0) return result;
    if (!consumeBits(length, s)) return kHuffInputExhausted;
    s->coefPosition = 0;
    return decodeVLI(category, value, s);
}

int32_t decodeACSymbol(int32_t* run, int32_t* value, bool chroma, HuffmanState* s) {
    if (run == nullptr || value == nullptr) return kHuffMissingArgument;
    uint32_t window = 0;
    getCode(&window, s);
    int32_t symbol = 0;
    int32_t length = 0;
    const int32_t result = codecDecodeACSymbol(window, &symbol, &length, &codesFor(chroma, s));
    if (result != 0) return result;
    if (!consumeBits(length, s)) return kHuffInputExhausted;
    if (symbol == 0x00) {
        *run = -1;
        *value = 0;
        s->coefPosition = 63;
        return 0;
    }
    if (symbol == 0xF0) {
        *run = 16;
        *value = 0;
        s->coefPosition += 16;
        return 0;
    }
    *run = symbol >> 4;
    s->coefPosition += *run + 1;
    return decodeVLI(symbol & 15, value, s);
}

int32_t checkForFlush(HuffmanState* s) {
    // A marker stands here only if what is left of the loaded data is the
    // 1-bit padding of the current byte: fewer than 8 bits, all 1s.  Data can
    // end exactly before a marker too, and no complete symbol is all 1s
    // (every code has a 0 bit), so 1s alone are padding.
    const int32_t left = s->inWindowBits - s->inFillBits;
    if (left >= 8 || !s->decodeStuffing) return 0;
    if (left > 0 && (s->inWindow >> (32 - left)) != (uint32_t{1} << left) - 1) return 0;
    if (s->markerPending) {
        // The marker ended the loaded data while the window was filled.
        realign(s);
        s->quantMarkerSeen = true;
        return 1;
    }
    if (s->inFillBits > 0 || s->inAvailable < 2 || s->in[0] != 0xFF) return 0;
    int32_t i = 1;
    while (i < s->inAvailable && s->in[i] == 0xFF)
        ++i;
    if (i >= s->inAvailable || (s->in[i] != 0x2B && s->in[i] != 0x2C)) return 0;
    s->quantMarkerFlat = s->in[i] == 0x2B;
    s->in += i + 1;
    s->inAvailable -= i + 1;
    realign(s);
    s->quantMarkerSeen = true;
    return 1;
}

int32_t decodeBitPosition(const HuffmanState* s) {
    return s->inBitsConsumed;
}

void softReset(HuffmanState* s) {
    s->quantMarkerFlat = false;
}
