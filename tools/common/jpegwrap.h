// A thin wrapper around libjpeg(-turbo) for tests and tools.
//
// Our band coder writes headerless baseline JPEG: entropy-coded data with RSTn
// markers and two private quantiser-switch markers (0xFF 0x2B, 0xFF 0x2C), and
// no SOI, DQT, DHT, SOF, SOS or EOI.  The blocks are quantised with the flat
// quantiser, which is quantiser 1 in ITU-T T.81 terms, and coded with the
// example Huffman tables of T.81 Annex K.  To let an independent decoder check
// those bytes, jpegWrapBandStream() builds a standard JFIF file around them,
// and the two decode functions read such a file (or any baseline or
// progressive JPEG) with libjpeg.
//
// The decoders are meant for arbitrary, possibly hostile files: libjpeg's
// fatal errors come back as a false result with a message (never exit() or
// abort()), its warnings are counted, and images larger than kJpegMaxPixels
// or with more than 4 components are refused before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Largest image (width x height) the decoders accept.
inline constexpr uint64_t kJpegMaxPixels = uint64_t{1} << 26;

// Builds a baseline JFIF file around one joined band stream (the bytes of
// several bands, each band one restart interval of 8 lines):
//   SOI, APP0 (JFIF 1.01, no density), DQT (tables 0 and 1, every entry 1),
//   SOF0 (8-bit; colour: components 1, 2, 3 sampled 2x1, 1x1, 1x1 with tables
//   0, 1, 1 = 4:2:2 YCbCr; gray: component 1, 1x1), DHT (the four T.81 Annex K
//   tables: DC 0 = K.3, AC 0 = K.5, DC 1 = K.4, AC 1 = K.6), DRI (colour:
//   width / 16 MCUs, gray: width / 8), SOS, the data, EOI.
// The private markers 0xFF 0x2B / 0xFF 0x2C, with any 0xFF fill bytes before
// them, are removed from the data; fill bytes before other markers are dropped
// too; a lone 0xFF at the very end is dropped.  Everything else is copied.
// `height` is the number of lines (8 per band).  Returns an empty vector when
// width or height is 0 or above 65535, or width is not a multiple of 16
// (colour) or 8 (gray).
std::vector<uint8_t> jpegWrapBandStream(const uint8_t* data, size_t length, uint32_t width,
                                        uint32_t height, bool color);

// Removes the private quantiser-switch markers (and 0xFF fill bytes before
// any marker) from a band stream; the data part of jpegWrapBandStream().
std::vector<uint8_t> jpegStripPrivateMarkers(const uint8_t* data, size_t length);

// What libjpeg said besides the result.
struct JpegDiagnostics {
    int warnings = 0;     // corrupt-data warnings (bad Huffman code, lost sync, ...)
    std::string message;  // the fatal error, or else the first warning; empty when clean
};

// The quantised DCT coefficients of every component, as stored in the file.
struct JpegComponentCoefficients {
    int id = 0;  // component identifier from SOF
    int hSampling = 1, vSampling = 1;
    int quantTable = 0;
    uint32_t blocksWide = 0;  // blocks per row that carry image data
    uint32_t blocksHigh = 0;  // block rows that carry image data
    // 64 values per block in natural (row-major) order, u = column, v = row;
    // blocks row by row; DC is the absolute value (prediction undone).
    std::vector<int16_t> coefficients;
    const int16_t* block(uint32_t bx, uint32_t by) const {
        return coefficients.data() + (size_t{by} * blocksWide + bx) * 64;
    }
};

struct JpegCoefficients {
    uint32_t width = 0, height = 0;
    std::vector<JpegComponentCoefficients> components;
};

// Reads every component's coefficients with jpeg_read_coefficients().
// Returns false (and fills diag->message) on a fatal libjpeg error or an image
// beyond the limits; `out` is then empty.  `diag` may be null.
bool jpegReadCoefficients(const uint8_t* jpeg, size_t length, JpegCoefficients* out,
                          JpegDiagnostics* diag);

// Decoded pixels, one plane per output channel, each width x height bytes.
struct JpegImage {
    uint32_t width = 0, height = 0;
    std::vector<std::vector<uint8_t>> planes;
};

enum class JpegPixelFormat {
    Native,  // the file's own components, unconverted: gray -> 1 plane, YCbCr -> Y, Cb, Cr
    Rgb,     // three-component files as R, G, B; others as Native
};

// Decodes to pixel planes.  Chroma is upsampled by replication (libjpeg's
// plain upsampling, not the smoothing "fancy" one) so that each decoded chroma
// sample shows the value its block carried.  Returns false on a fatal error.
bool jpegDecodePixels(const uint8_t* jpeg, size_t length, JpegPixelFormat format, JpegImage* out,
                      JpegDiagnostics* diag);
