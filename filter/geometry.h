// The job geometry: checks the raster the filter is handed and derives the
// padded page size and buffer sizes used for the whole job from the first page.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <string>

#include "settings/jobsettings.h"

// Largest padded page.  The PCL XL image fields would take widths up to 65535
// (16-bit SourceWidth, DestinationSize), but a standard JPEG decoder (libjpeg's
// JPEG_MAX_DIMENSION) reads no image wider than 65500 pixels, so the width is
// the largest multiple of 16 below that.  Image rows start at a signed 16-bit y.
inline constexpr uint32_t kMaxJpegDimension = 65500;
inline constexpr uint32_t kMaxPixWid = kMaxJpegDimension / 16 * 16;  // 65488
inline constexpr uint32_t kMaxPixHt = 32760;
// Largest raster line the filter reads (a later page may be wider than the first).
inline constexpr uint32_t kMaxRasterLineBytes = 3 * 65535;

struct JobGeometry {
    uint32_t bytesPerPixel = 0;  // 3 colour, 1 gray
    uint32_t pixWid = 0;         // padded line width in pixels
    uint32_t pixHt = 0;          // padded page height in lines
    uint32_t lineBytes = 0;      // pixWid * bytesPerPixel
    uint32_t blockBytes = 0;     // one raster block: head, 8 lines, 8 tag lines
};

// Brings a page header into the forms the filter handles, or refuses it.
// Bits per colour 0 means 8; bits per pixel 0 means 24 for colour and 8 for
// gray.  Gray and sGray become plain gray (colour space 0); RGB, sRGB and
// Adobe RGB become RGB (1).  Anything else (other colour spaces, bit depths,
// planar data, empty or oversized pages, line lengths that don't match the
// width) is refused: the function returns false and `why` says what is wrong.
bool normalizeRasterHeader(cups_page_header2_t* header, std::string* why);

// Geometry of the job from its first (normalized) header and its settings:
// the line width is the custom padded width for custom sizes, otherwise the
// raster width rounded up to 16; the height is rounded up to 8.  Returns false
// with `why` set when the result cannot be printed.
bool computeJobGeometry(const cups_page_header2_t& header, const JobSetting& settings,
                        JobGeometry* geometry, std::string* why);
