// Which document page each printed side of a job shows.
//
// Tests that print through the spooler cannot know the raster the filter was
// given (pdftopdf may have repeated the document in it), so they name the
// printed sides instead: each side of the job is matched against the pages
// of a reference raster of the document printed once, and comes out as its
// page number (1-based), "W" for a white side, or "?" when no page matches.
// A job of two collated copies of a three-page document then reads
// "1 2 3 1 2 3", uncollated "1 1 2 2 3 3".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/inspect/inspect.h"

namespace pageseq {

// One reference page, kept at a reduced size (every `step`-th sample in both
// directions) so that a 600 dpi document fits in a few megabytes.
struct RefPage {
    uint32_t width = 0, height = 0;  // of the raster page, full size
    int channels = 1;
    int step = 1;
    std::vector<uint8_t> samples;  // ceil(width/step) x ceil(height/step) pixels
};

// Reads every page of a CUPS raster file (8-bit gray or RGB, chunky).
// Returns false with a message when the file cannot be read as such.
bool readReference(const std::string& path, int step, std::vector<RefPage>& pages,
                   std::string& message);

// PSNR of a printed side against a reference page over the reference's
// area (the printed side may be padded wider and higher), at the reference's
// reduced grid.  -1 when the two cannot be compared (colour against gray, or
// the printed side is smaller).
double psnr(const RefPage& ref, const inspect::PageImage& printed);

// Whether every sample of the side is white up to JPEG rounding.
bool isWhite(const inspect::PageImage& printed);

// The token of one printed side: the best-matching reference page if its
// PSNR reaches `minPsnr` and no other page comes within 3 dB of it, else "W"
// for a white side, else "?".
std::string identify(const std::vector<RefPage>& refs, const inspect::PageImage& printed,
                     double minPsnr);

}  // namespace pageseq
