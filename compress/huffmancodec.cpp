#include "compress/huffmancodec.h"

#include <algorithm>
#include <new>

// T.81 Table K.3: luminance DC, BITS and HUFFVAL (categories 0..11; the last
// four entries pad the array to 16).
const int32_t huffmanLuminanceDCCodes[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const int32_t huffmanLuminanceDCCategory[16] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                8, 9, 10, 11, 12, 13, 14, 15};

// T.81 Table K.4: chrominance DC.
const int32_t huffmanChromDCCodes[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const int32_t huffmanChromDCCategory[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// T.81 Table K.5: luminance AC.
const int32_t huffmanLuminanceACCodes[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
const int32_t huffmanLuminanceRSValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52,
    0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
    0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3,
    0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8,
    0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

// T.81 Table K.6: chrominance AC.
const int32_t huffmanChromACCodes[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const int32_t huffmanChromRSValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33,
    0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18,
    0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4,
    0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA,
    0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
    0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

namespace {

// Builds the decoder lookups from generated codes.  Every 8-bit prefix (DC)
// or 16-bit window (AC) that begins with a code maps to that code's symbol.
bool buildLookups(CodecTable* table) {
    if (!table->lookups) {
        try {
            table->lookups = std::make_unique<CodecDecoderLookups>();
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    CodecDecoderLookups& l = *table->lookups;
    std::fill(std::begin(l.dcLookup), std::end(l.dcLookup), -1);
    for (int32_t c = 0; c < kCodecDCEntries; ++c) {
        const CodecEntry& e = table->dc[c];
        if (e.uses == 0 || e.length < 1) continue;
        if (e.length <= 8) {
            const int32_t first = e.code << (8 - e.length);
            const int32_t last = first | ((1 << (8 - e.length)) - 1);
            for (int32_t p = first; p <= last; ++p)
                l.dcLookup[p] = c;
        } else if (e.length == 9) {
            l.dcLookup[255] = c;  // longer codes are found by search
        }
    }
    for (CodecACLookupEntry& a : l.acLookup)
        a = CodecACLookupEntry{};
    for (int32_t i = 0; i < kCodecACEntries; ++i) {
        const CodecEntry& e = table->ac[i];
        if (e.uses == 0 || e.length < 1 || e.length > 16) continue;
        const int32_t first = e.code << (16 - e.length);
        const int32_t last = first | ((1 << (16 - e.length)) - 1);
        for (int32_t w = first; w <= last; ++w)
            l.acLookup[w] = {codecRSSymbol(i), e.length};
    }
    table->lookupsBuilt = true;
    return true;
}

bool ensureLookups(CodecTable* table) {
    if (table->ready != 1) return false;
    return table->lookupsBuilt || buildLookups(table);
}

bool codeMatches(const CodecEntry& e, uint32_t window) {
    return e.uses > 0 && e.length >= 1 && e.length <= 16 &&
           static_cast<int32_t>((window & 0xFFFF) >> (16 - e.length)) == e.code;
}

}  // namespace

int32_t codecCodeIndex(int32_t rs) {
    if (rs == 0x00) return kCodecEOBIndex;
    if (rs == 0xF0) return kCodecZRLIndex;
    if (rs < 0 || rs > 0xFF) return -1;
    const int32_t size = rs & 15;
    const int32_t run = rs >> 4;
    if (size < 1 || size > 10) return -1;
    return (size - 1) * 16 + run;
}

int32_t codecRSSymbol(int32_t index) {
    if (index == kCodecEOBIndex) return 0x00;
    if (index == kCodecZRLIndex) return 0xF0;
    if (index < 0 || index > 159) return -1;
    return ((index & 15) << 4) | ((index >> 4) + 1);
}

int32_t codecGenerateCodes(const int32_t* dcBits, const int32_t* dcValues, const int32_t* acBits,
                           const int32_t* acValues, CodecTable* table) {
    if (dcBits == nullptr) return kCodecMissingDCBits;
    if (acBits == nullptr) return kCodecMissingACBits;
    if (acValues == nullptr) return kCodecMissingACValues;
    if (dcValues == nullptr || table == nullptr) return 1;
    table->ready = 0;
    table->lookupsBuilt = false;

    // DC codes, T.81 Figures C.1 and C.2: within a length codes count up; the
    // next length starts from the doubled successor.  A length can hold at
    // most 2^L codes, and the 16 entries of dcValues at most 16.
    for (CodecEntry& e : table->dc)
        e = CodecEntry{};
    int32_t code = 0;
    int32_t count = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        for (int32_t n = 0; n < dcBits[length - 1]; ++n) {
            if (count >= kCodecDCEntries || code >= (1 << length)) return kCodecBadDCSymbol;
            const int32_t symbol = dcValues[count++];
            if (symbol < 0 || symbol > 15) return kCodecBadDCSymbol;
            CodecEntry& e = table->dc[symbol];
            e.code = code++;
            e.length = length;
            e.uses++;
        }
        if (length < 16) code <<= 1;
    }
    for (int32_t c = 0; c < 12; ++c) {
        if (table->dc[c].uses > 1) return kCodecBadACSymbol;
    }

    // AC codes, same assignment, with the per-length ranges the decoder uses.
    for (CodecEntry& e : table->ac)
        e = CodecEntry{};
    code = 0;
    count = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        table->minCode[length - 1] = code;
        table->valueIndex[length - 1] = count;
        table->maxCode[length - 1] = kCodecNoCode;
        for (int32_t n = 0; n < acBits[length - 1]; ++n) {
            // Stop before reading past the 162 values or overfilling a length.
            if (count >= kCodecACEntries || code >= (1 << length)) return kCodecTooManyCodes;
            const int32_t index = codecCodeIndex(acValues[count]);
            if (index < 0) return kCodecBadACSymbol;
            CodecEntry& e = table->ac[index];
            e.code = code;
            e.length = length;
            e.uses++;
            table->maxCode[length - 1] = code;
            ++code;
            ++count;
        }
        if (length < 16) code <<= 1;
    }
    for (const CodecEntry& e : table->ac) {
        if (e.uses > 1) return kCodecBadACSymbol;
    }
    table->ready = 1;
    return 0;
}

int32_t codecInitialize(const int32_t* dcBits, const int32_t* dcValues, const int32_t* acBits,
                        const int32_t* acValues, CodecTable* table) {
    // The decoder lookups are not needed to encode; they are built by the
    // first decoder call after this one (ensureLookups).
    return codecGenerateCodes(dcBits, dcValues, acBits, acValues, table);
}

int32_t codecDCCode(int32_t category, int32_t* code, int32_t* length, const CodecTable* table) {
    if (code == nullptr) return kCodecMissingCodeOut;
    if (length == nullptr) return kCodecMissingLengthOut;
    if (category < 0 || category > 11 || table == nullptr) return kCodecBadDCCategory;
    *code = table->dc[category].code;
    *length = table->dc[category].length;
    return 0;
}

int32_t codecACCode(int32_t rs, int32_t* code, int32_t* length, const CodecTable* table) {
    if (code == nullptr) return kCodecMissingCodeOut;
    if (length == nullptr) return kCodecMissingLengthOut;
    const int32_t index = codecCodeIndex(rs);
    if (index < 0 || table == nullptr) return kCodecBadACSymbol;
    *code = table->ac[index].code;
    *length = table->ac[index].length;
    return 0;
}

int32_t codecDecodeDCSymbol(uint32_t window, int32_t* category, int32_t* length,
                            CodecTable* table) {
    if (category == nullptr) return kCodecMissingSymbolOut;
    if (length == nullptr) return kCodecMissingDecodeLengthOut;
    if (table == nullptr || !ensureLookups(table)) return 1;
    const int32_t c = table->lookups->dcLookup[(window >> 8) & 0xFF];
    if (c >= 0 && codeMatches(table->dc[c], window)) {
        *category = c;
        *length = table->dc[c].length;
        return 0;
    }
    // Codes longer than the prefix: search the entries (at most a few).
    for (int32_t k = 0; k < kCodecDCEntries; ++k) {
        const CodecEntry& e = table->dc[k];
        if (e.length > 8 && codeMatches(e, window)) {
            *category = k;
            *length = e.length;
            return 0;
        }
    }
    return kCodecNoMatch;
}

int32_t codecDecodeACSymbol(uint32_t window, int32_t* symbol, int32_t* length, CodecTable* table) {
    if (symbol == nullptr) return kCodecMissingSymbolOut;
    if (length == nullptr) return kCodecMissingDecodeLengthOut;
    if (table == nullptr || !ensureLookups(table)) return 1;
    const CodecACLookupEntry& e = table->lookups->acLookup[window & 0xFFFF];
    if (e.length == 0) return kCodecNoMatch;
    *symbol = e.symbol;
    *length = e.length;
    return 0;
}

int32_t setHuffmanCodec(const CodecTable* source, CodecTable* destination) {
    if (source == nullptr || destination == nullptr) return 1;
    if (source == destination) {
        destination->ready = 0;
        return 0;
    }
    std::copy(std::begin(source->dc), std::end(source->dc), std::begin(destination->dc));
    std::copy(std::begin(source->ac), std::end(source->ac), std::begin(destination->ac));
    std::copy(std::begin(source->minCode), std::end(source->minCode),
              std::begin(destination->minCode));
    std::copy(std::begin(source->maxCode), std::end(source->maxCode),
              std::begin(destination->maxCode));
    std::copy(std::begin(source->valueIndex), std::end(source->valueIndex),
              std::begin(destination->valueIndex));
    destination->ready = 0;
    destination->lookupsBuilt = false;
    return 0;
}
