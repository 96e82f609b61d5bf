// TBRLE: the run-length code of the printer's object-tag planes.
//
// A tag plane carries one 2-bit value per pixel, packed four to a byte: the
// first pixel in bits 0-1, the second in bits 2-3, the third in bits 4-5, the
// fourth in bits 6-7.  Runs of one value are long, so the code spends its effort
// on runs of the four uniform packed bytes and stores everything else literally.
//
// Uniform packed bytes and their classes:
//   class 1: 0x00 (value 0)   class 2: 0x55 (value 1)
//   class 3: 0xAA (value 2)   class 4: 0xFF (value 3)
//
// The stream is a sequence of items, each led by a control byte b:
//   0x00-0x7F  literal run: b + 1 packed bytes (1..128) follow as they are.
//   0x80-0xFF  repeat piece: bits 6-5 = class - 1, bits 4-3 = unit code
//              (1, 8, 64 or 512 packed bytes), bits 2-0 = units - 1 (1..8).
//              It stands for units * unit copies of the class's uniform byte;
//              consecutive pieces of one class add up to one run.
// A stream of exactly one byte stands for the whole plane filled with that byte
// (the byte itself, not a control byte).
//
// The decoder is meant for data of unknown origin as well: it never reads past
// the stream, never writes past the output or past the expected length, and
// reports malformed streams with 0.
#pragma once

#include <array>
#include <cstdint>

namespace tbrle_detail {

constexpr std::array<uint8_t, 256> makeDecompressable() {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0x80; b < 256; ++b)
        t[b] = static_cast<uint8_t>(((b >> 5) & 3) + 1);
    return t;
}
constexpr std::array<uint8_t, 256> makeCountTable() {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = static_cast<uint8_t>((b & 7) + 1);
    return t;
}
constexpr std::array<uint8_t, 256> makeCompressable() {
    std::array<uint8_t, 256> t{};
    t[0x00] = 1;
    t[0x55] = 2;
    t[0xAA] = 3;
    t[0xFF] = 4;
    return t;
}

}  // namespace tbrle_detail

// Class (1-4) of a control byte; 0 for the literal lengths 0x00-0x7F.
inline constexpr std::array<uint8_t, 256> decompressable = tbrle_detail::makeDecompressable();
// Packed bytes per unit, indexed by the unit code (control byte bits 4-3).
inline constexpr std::array<uint16_t, 4> size_table = {1, 8, 64, 512};
// Units of a repeat piece: (b & 7) + 1.
inline constexpr std::array<uint8_t, 256> count_table = tbrle_detail::makeCountTable();
// Uniform byte of each class; entry 0 is never used.
inline constexpr std::array<uint8_t, 5> byte_table = {0x77, 0x00, 0x55, 0xAA, 0xFF};
// Class (1-4) of a packed byte when it is uniform, else 0.
inline constexpr std::array<uint8_t, 256> compressable = tbrle_detail::makeCompressable();

// Writes the repeat pieces for a run of `count` uniform bytes of class
// classMinus1 + 1 (classMinus1 is taken modulo 4) to `output`, with falling
// units, each piece as long as possible: pieces of 512 (the first taking
// ((count / 512 - 1) mod 8) + 1 units, the others 8), then at most one piece each
// of 64, 8 and 1.  Writes whole pieces only and never more than spaceLeft bytes;
// returns the number of bytes written (0 for a count of 0).
uint32_t encode_pattern(uint8_t* output, uint32_t spaceLeft, uint32_t classMinus1, uint32_t count);

// Number of bytes encode_pattern writes for a run of `count` when space allows.
uint32_t encode_pattern_length(uint32_t count);

// Encodes a tag plane given one byte per pixel into `output` (capacity bytes).
// Input bytes: 1, 2, 3 are the values 1, 2, 3; 4 is the value 0; 0 repeats the
// value of the pixel before, and 0s at the very start take the value of the
// first non-0 pixel.  Other bytes count as their value modulo 4.  The length
// should be a multiple of 4; the pixels missing from a last partial group of
// four repeat the group's last value (as if they were 0).
//
// An input that is all 0 (or empty) encodes as the single byte 0x00, and an
// input that is one run of one uniform byte as that byte alone.
//
// Returns the stream length, or 0 when output is null, or the input is null
// with a non-zero length, or the whole stream does not fit in capacity.  The
// encoder never writes past capacity; tbrle_max_encoded_size() is always enough.
uint32_t tbrle_encode(uint32_t capacity, uint8_t* output, uint32_t inputLength,
                      const uint8_t* input);

// Upper bound of the stream length for an input of inputLength bytes: with
// P = ceil(inputLength / 4) packed bytes, literal runs of one byte between runs
// of one byte cost 3 bytes per 2 packed bytes, so P + (P + 1) / 2 (at least 1).
uint32_t tbrle_max_encoded_size(uint32_t inputLength);

// Output bytes spanned by `count` packed bytes laid out in lines of
// bytesPerLine bytes placed lineStride bytes apart (packed byte k at
// (k / bytesPerLine) * lineStride + k % bytesPerLine): the offset after the last
// one.  A bytesPerLine of 0 means one unbroken line (the extent is count).
// Meaningful for lineStride >= bytesPerLine only.
uint64_t tbrle_decoded_extent(uint32_t count, uint32_t bytesPerLine, uint32_t lineStride);

// Decodes `stream` (streamLength bytes) into expectedLength packed bytes, stored
// line by line as described for tbrle_decoded_extent().  bytesPerLine 0 stores
// them contiguously and ignores lineStride.  `output` holds outputCapacity
// bytes; bytes between lines are left as they are.
//
// Returns the offset after the last byte written (the extent of the bytes
// decoded), which is tbrle_decoded_extent(expectedLength, ...) for a complete
// plane; a stream that ends early gives the smaller extent of what it held.  A
// one-byte stream fills the whole plane with its byte.
//
// Returns 0, with the output possibly partly written, when:
//   - output or stream is null, or streamLength is 0;
//   - lineStride < bytesPerLine (lines would overlap);
//   - the extent of expectedLength bytes exceeds outputCapacity;
//   - a run (all directly consecutive pieces of one class) or a literal run
//     exceeds what is left of expectedLength (also any item after the plane is
//     complete);
//   - a literal run's bytes are missing from the end of the stream.
uint32_t tbrle_decode(uint32_t expectedLength, uint8_t* output, uint32_t outputCapacity,
                      uint32_t streamLength, const uint8_t* stream, uint32_t bytesPerLine,
                      uint32_t lineStride);
