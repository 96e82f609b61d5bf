// Colour conversion of raster bands into the Y, Cb and Cr planes that the JPEG
// band compressor takes.
//
// The input is a band of raster lines as the CUPS raster stream delivers them:
// 8 bits per component, red, green, blue interleaved, 3 bytes per pixel, the
// lines packed one after another.  The output is full-range YCbCr as in JFIF
// (ITU-R BT.601 weights) in 10-bit fixed point, one byte per pixel in each of
// three planes.  White (255, 255, 255) converts to exactly Y 255, Cb 128,
// Cr 128, the values the planes are filled with beforehand, so the white
// margins at the start and the end of each line are skipped, not converted.
#pragma once

#include <cstdint>

// Results of rgbtoYCbCr.
inline constexpr int32_t kColorNoInk = 0;          // every line of the band was white
inline constexpr int32_t kColorMissingBuffer = 1;  // the input or a plane is missing
inline constexpr int32_t kColorBadSize = 2;        // the sizes do not fit together
inline constexpr int32_t kColorInk = 257;          // at least one line had a non-white pixel

// Converts one pixel (red, green, blue at pixel[0..2]) into a packed sample:
// Y in bits 0-7, Cb in bits 8-15, Cr in bits 16-23, bits 24-31 zero.  Read as a
// big-endian number the three low bytes are Cr, Cb, Y.
uint32_t RGBTripleToCrCbYDword(const uint8_t* pixel);

// Number of pixels of the line `line` (pixelCount pixels of 3 bytes) that remain
// when the white pixels at its end are removed: the index of the last non-white
// pixel plus one, or 0 when the whole line is white.
uint32_t stripTrail(const uint8_t* line, uint32_t pixelCount);

// Converts the band `input` (inputBytes bytes, lines of bytesPerLine bytes)
// into the planes y, cb and cr, each planeSize bytes.  Pixel x of line i goes to
// offset i * stride + x of each plane.  When planesFilled is false the planes
// are first filled (Y with 255, Cb and Cr with 128); when it is true the caller
// has done so.  Only the part of each line between its first and its last
// non-white pixel is converted; a line that is all white is not touched.  A
// partial last line (inputBytes not a multiple of bytesPerLine) is ignored.
//
// Returns kColorMissingBuffer when the input or a plane is null; kColorBadSize
// when bytesPerLine is 0 or not a multiple of 3, inputBytes is below 24,
// 3 * planeSize is below inputBytes, the lines would overlap in the planes
// (stride below the pixels per line while the band has two lines or more) or
// the last line would end beyond planeSize; nothing is written then.
// Otherwise kColorInk when a line had a non-white pixel, else kColorNoInk.
int32_t rgbtoYCbCr(uint32_t bytesPerLine, uint32_t inputBytes, const uint8_t* input,
                   uint32_t stride, uint32_t planeSize, uint8_t* y, uint8_t* cb, uint8_t* cr,
                   bool planesFilled);
