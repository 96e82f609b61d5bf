// Decoding the two data blocks of one image: the joined JPEG band stream and
// the TBRLE-coded tag plane.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/inspect/inspect.h"

namespace inspect {

// Marker structure of a joined band stream: every band is one restart
// interval closed by RSTn, n running 0..7 cyclically from the image's first
// band; the quantiser-switch markers 0xFF 0x2B / 0xFF 0x2C may precede the
// first band's data only; 0xFF 0x00 is a stuffed data byte and 0xFF before
// a marker a fill byte.
struct BandScan {
    int restarts = 0;
    int flatMarkers = 0;
    int tableMarkers = 0;
    std::vector<Issue> problems;  // offsets are base + position in the data
};
BandScan scanBandStream(std::span<const uint8_t> data, uint64_t base, uint32_t bands);

// Decodes a TBRLE tag block for an image of width x rows pixels (one 2-bit
// tag per pixel, four to a packed byte) and counts the tag values 0..3.
// Returns false with a message when the stream does not decode to exactly
// width x rows tags.
bool decodeTagBlock(std::span<const uint8_t> data, uint32_t width, uint32_t rows,
                    std::array<uint64_t, 4>& counts, std::string& message);

// The same, keeping the tag values (one byte 0..3 per pixel, rows packed).
bool decodeTagValues(std::span<const uint8_t> data, uint32_t width, uint32_t rows,
                     std::vector<uint8_t>& values, std::string& message);

// Decodes a joined JPEG band stream of width x rows pixels into `pixels`:
// RGB triplets for colour (4:2:2 YCbCr in the stream), gray bytes otherwise.
// Returns false with a message when libjpeg refuses the data or reports
// corrupt data.
bool decodePictureBlock(std::span<const uint8_t> data, uint32_t width, uint32_t rows, bool color,
                        std::vector<uint8_t>& pixels, std::string& message);

// Peak signal-to-noise ratio in dB of two equally sized sample arrays; 99 for
// identical ones.
double psnr(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace inspect
