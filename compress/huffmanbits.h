// Inline bit writer shared by the public symbol writers of huffman.cpp and the
// block loop of wicket.cpp, so that coding a coefficient costs two table reads
// and one accumulator write without a call per bit group.
#pragma once

#include <cstdint>

#include "compress/huffman.h"

// Marks the destination full: from now on nothing more is written to it.
inline int32_t huffOutputFull(HuffmanState* s) {
    s->outCapacity = s->outCount;
    return kHuffOutputFull;
}

// Moves whole bytes from the accumulator to the destination, each 0xFF
// followed by 0x00 while stuffing is on, a byte and its zero only together.
inline int32_t huffEmitBytes(HuffmanState* s) {
    while (s->bitCount > 7) {
        const uint8_t byte = static_cast<uint8_t>(s->bitBuffer >> 24);
        if (byte == 0xFF && s->byteStuffing) {
            if (s->outCapacity - s->outCount < 2) return huffOutputFull(s);
            s->out[0] = 0xFF;
            s->out[1] = 0x00;
            s->out += 2;
            s->outCount += 2;
        } else {
            if (s->outCount >= s->outCapacity) return huffOutputFull(s);
            *s->out++ = byte;
            s->outCount++;
        }
        s->bitBuffer <<= 8;
        s->bitCount -= 8;
    }
    return 0;
}

// Appends the low n bits of value, 0 <= n <= 25.  With at most 7 bits pending
// (always so while the buffer has room) they fit the 32-bit accumulator;
// after the buffer filled up, bits that no longer fit are dropped.
inline int32_t huffPutBits(uint32_t value, int32_t n, HuffmanState* s) {
    if (n > 0) {
        if (s->bitCount + n > 32) return kHuffOutputFull;
        s->bitCount += n;
        s->bitBuffer |= (value & ((uint32_t{1} << n) - 1)) << (32 - s->bitCount);
    }
    return huffEmitBytes(s);
}

// Amplitude bits of a non-zero value of category `size`: the value itself when
// positive, value - 1 (its one's complement in `size` bits) when negative
// (T.81 F.1.2.1).
inline uint32_t huffAmplitude(int32_t value) {
    return static_cast<uint32_t>(value < 0 ? value - 1 : value);
}

// Code and amplitude of one entry in a single write when they fit together.
inline int32_t huffPutCodeAndBits(const CodecEntry& entry, int32_t value, int32_t size,
                                  HuffmanState* s) {
    if (entry.length + size <= 25) {
        const uint32_t bits = (static_cast<uint32_t>(entry.code) << size) |
                              (huffAmplitude(value) & ((uint32_t{1} << size) - 1));
        return huffPutBits(bits, entry.length + size, s);
    }
    huffPutBits(static_cast<uint32_t>(entry.code), entry.length, s);
    return huffPutBits(huffAmplitude(value), size, s);
}

// dcSymbol() and acSymbol() of huffman.h, inline for the block loop.
inline int32_t huffDCSymbol(int32_t value, const CodecTable& codes, HuffmanState* s) {
    if (value > kHuffMaxMagnitude || value < -kHuffMaxMagnitude) return kHuffValueTooLarge;
    const int32_t size = s->categoryOf[value < 0 ? -value : value];
    s->coefPosition = 0;
    return huffPutCodeAndBits(codes.dc[size], value, size, s);
}

inline int32_t huffACSymbol(int32_t run, int32_t value, const CodecTable& codes, HuffmanState* s) {
    s->coefPosition += run + 1;
    if (value > kHuffMaxMagnitude || value < -kHuffMaxMagnitude) return kHuffValueTooLarge;
    const int32_t size = s->categoryOf[value < 0 ? -value : value];
    // Dense index of RS = (run << 4) | size (see huffmancodec.h); size 0 is
    // EOB for run 0 and ZRL for run 15, as codecCodeIndex() says.
    int32_t index;
    if (size >= 1 && size <= 10 && run >= 0 && run <= 15) {
        index = (size - 1) * 16 + run;
    } else {
        index = codecCodeIndex(run < 0 || run > 15 ? -1 : (run << 4) | size);
        if (index < 0) return kCodecBadACSymbol;
    }
    return huffPutCodeAndBits(codes.ac[index], value, size, s);
}
