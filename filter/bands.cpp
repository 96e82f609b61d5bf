#include "filter/bands.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "channel/hdc.h"
#include "channel/messages.h"
#include "compress/tbrle.h"
#include "filter/pagestream.h"
#include "settings/jobsettings.h"

std::array<CachedBand, kBandsPerImage> gCacheBands;
uint32_t gCacheBandIndex = 0;
std::atomic<bool> gBandOutputFailed{false};

namespace {

ByteSink gSink = hdcWrite;

// Every block of a band is coded with the flat quantiser (near-lossless).
constexpr uint8_t kFlatBlockType = 3;

void clearCache() {
    for (CachedBand& band : gCacheBands)
        band = CachedBand{};
    gCacheBandIndex = 0;
}

// Compresses one band into `out`; returns false (reported) on a coder error.
bool compressBand(WicketSettings* settings, HuffmanState* coder, uint32_t firstLine, uint32_t width,
                  uint32_t pixels, const uint8_t* Y, const uint8_t* Cb, const uint8_t* Cr,
                  const uint8_t* raw, std::vector<uint8_t>* out) {
    setHuffman(coder);
    // The restart markers of the bands joined into one image run RST0..RST7
    // cyclically without a break.
    coder->restartIndex = static_cast<int32_t>(gCacheBandIndex % 8);
    int32_t status = initialize(coder);
    setWicket(settings, coder, &status);
    reinitialize(settings, coder);
    // One restart interval per band (one row of 8x8 blocks).
    setRestartInterval(static_cast<int32_t>(width / 8), settings);
    // Only an image's first band announces the quantiser.
    settings->emitQMarkers = gCacheBandIndex == 0;

    const bool color = jobsetting->isColor != 0;
    const std::vector<uint8_t> map(width / 8, kFlatBlockType);
    // The coder never writes beyond its capacity; give it room for the worst
    // case of a band so that no band is ever cut.
    const int64_t worst = wicketWorstCaseBytes(static_cast<int32_t>(width), 8, color);
    const uint32_t capacity = static_cast<uint32_t>(std::max<int64_t>(int64_t{4} * pixels, worst));
    // One scratch buffer per coding thread, grown (and zeroed) once; the band
    // keeps only its coded bytes.
    thread_local std::vector<uint8_t> scratch;
    if (scratch.size() < capacity) scratch.resize(capacity);
    int32_t length = 0;
    int32_t result;
    if (color) {
        result = wicketCompressPlanes(static_cast<int32_t>(map.size()), map.data(),
                                      static_cast<int32_t>(width), static_cast<int32_t>(pixels), Y,
                                      Cb, Cr, static_cast<int32_t>(capacity), scratch.data(),
                                      &length, settings, coder);
    } else {
        setSampleType(SAMPLE_444, settings);
        result = wicketCompressMonoPlane(static_cast<int32_t>(map.size()), map.data(),
                                         static_cast<int32_t>(width), static_cast<int32_t>(pixels),
                                         raw, static_cast<int32_t>(capacity), scratch.data(),
                                         &length, settings, coder);
    }
    if (result != 0 || length <= 0 || static_cast<uint32_t>(length) > capacity) {
        msgf("ERROR: Unable to compress the band at line %u (code %d)\n", firstLine,
             static_cast<int>(result));
        return false;
    }
    out->assign(scratch.begin(), scratch.begin() + length);
    return true;
}

void writeBytes(const uint8_t* data, size_t length) {
    if (length > 0) gSink(data, static_cast<uint32_t>(length));
}

// Writes cached entries 0..last as one image.  Everything the image needs is
// allocated before its first byte goes out, so an image is never left half
// written.
bool writeImage(uint32_t last) {
    const uint32_t rows = 8 * (last + 1);
    const CachedBand& first = gCacheBands[0];
    const uint32_t tagBytes = gCacheBands[last].tagEnd;

    std::vector<uint8_t> tagPlane(tagBytes);
    for (uint32_t k = 0, at = 0; k <= last; ++k) {
        std::copy(gCacheBands[k].tagData.begin(), gCacheBands[k].tagData.end(),
                  tagPlane.begin() + at);
        at = gCacheBands[k].tagEnd;
    }
    std::vector<uint8_t> coded(2 * size_t{tagBytes}, 0);
    const uint32_t codedLength =
        tbrle_encode(static_cast<uint32_t>(coded.size()), coded.data(), tagBytes, tagPlane.data());
    if (codedLength == 0) {
        msgf("ERROR: Unable to encode the tag plane of the image at line %u\n", first.firstLine);
        return false;
    }

    const uint32_t resolution = jobsetting->resolution;
    writeImageHeader(gSink, first.firstLine, first.width, rows, resolution);
    // The joined JPEG stream: each band's bytes in order, straight from the cache.
    writeReadImageBlock(gSink, rows, eJPEGBandCompression,
                        static_cast<uint32_t>(gCacheBands[last].jpegEnd));
    for (uint32_t k = 0; k <= last; ++k) {
        writeBytes(gCacheBands[k].jpegData.data(), gCacheBands[k].jpegData.size());
    }
    writeReadImageBlock(gSink, rows, eTBRLECompression, codedLength);
    writeBytes(coded.data(), codedLength);
    writeEndImage(gSink);
    return true;
}

}  // namespace

void resetBandCache() {
    clearCache();
}

void setBandSink(ByteSink sink) {
    gSink = sink != nullptr ? sink : hdcWrite;
}

void compress_and_send(WicketSettings* settings, HuffmanState* coder, uint32_t firstLine,
                       uint32_t width, uint32_t pixels, const uint8_t* Y, const uint8_t* Cb,
                       const uint8_t* Cr, const uint8_t* raw, const uint8_t* tags, bool lastBand) {
    try {
        std::vector<uint8_t> out;
        bool coded = compressBand(settings, coder, firstLine, width, pixels, Y, Cb, Cr, raw, &out);
        if (!coded) gBandOutputFailed.store(true);

        const uint32_t i = gCacheBandIndex;
        if (coded) {
            if (i == 0) clearCache();
            CachedBand& band = gCacheBands[i];
            band.firstLine = firstLine;
            band.width = width;
            band.jpegEnd =
                static_cast<int32_t>(out.size()) + (i > 0 ? gCacheBands[i - 1].jpegEnd : 0);
            band.jpegData = std::move(out);
            band.tagData.assign(tags, tags + pixels);
            band.tagEnd = pixels + (i > 0 ? gCacheBands[i - 1].tagEnd : 0);
        }
        // A band that could not be coded is left out; the bands before it
        // still form a well-formed image.
        const bool full = coded && i == kBandsPerImage - 1;
        if (full || lastBand) {
            const uint32_t count = coded ? i + 1 : i;
            if (count > 0 && !writeImage(count - 1)) gBandOutputFailed.store(true);
            clearCache();
        } else if (coded) {
            gCacheBandIndex = i + 1;
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        msgPerror("ERROR: Unable to allocate memory!");
        gBandOutputFailed.store(true);
        clearCache();
    }
}
