// Band output: compresses each band of 8 lines into one restart interval of a
// headerless JPEG scan, caches up to 32 bands, and writes them as one PCL XL
// image (a JPEG block and a TBRLE-coded tag block) when the cache is full or
// the page's last band has come.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "compress/huffman.h"
#include "compress/wicket.h"
#include "printstream/pclxl.h"

// Bands joined into one image (256 rows).
inline constexpr uint32_t kBandsPerImage = 32;

struct CachedBand {
    uint32_t firstLine = 0;
    uint32_t width = 0;
    std::vector<uint8_t> jpegData;  // this band's compressed bytes
    int32_t jpegEnd = 0;            // compressed bytes of entries 0 to this one
    std::vector<uint8_t> tagData;   // copy of this band's tag plane
    uint32_t tagEnd = 0;            // tag bytes of entries 0 to this one
};

// Used by the image thread only.
extern std::array<CachedBand, kBandsPerImage> gCacheBands;
extern uint32_t gCacheBandIndex;

// Set when band output could not do its work (memory, a coder error); the job
// then fails.  Reported with an "ERROR: " line where it happens.
extern std::atomic<bool> gBandOutputFailed;

// Empties the cache (start of a job; tests).
void resetBandCache();

// The sink images are written to (hdcWrite in a job; tests capture).
void setBandSink(ByteSink sink);

// One band: `pixels` = 8 x `width`.  Y, Cb and Cr are the colour planes (null
// for gray jobs, which pass the gray bytes in `raw`); `tags` holds one byte per
// pixel.  `lastBand` closes the page's last image.  The caller keeps its
// buffers.  Colour or gray comes from the job record (`isColor`), the
// resolution too.
void compress_and_send(WicketSettings* settings, HuffmanState* coder, uint32_t firstLine,
                       uint32_t width, uint32_t pixels, const uint8_t* Y, const uint8_t* Cb,
                       const uint8_t* Cr, const uint8_t* raw, const uint8_t* tags, bool lastBand);
