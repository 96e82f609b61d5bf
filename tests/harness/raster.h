// Synthetic CUPS raster for whole-filter tests.
//
// A RasterSpec describes a raster stream page by page: the page header fields
// the filter reads, and a content pattern that is a pure function of (page
// spec, page number, line), so a test can always ask for the exact pixels it
// wrote.  writeRaster() writes the stream through libcupsimage (the same
// library the filter reads it with); RawV3 mode writes the uncompressed v3
// format by hand so that headers libcupsimage would refuse can be sent too.
//
// Example:
//
//     harness::PageSpec page;                    // 2550 x 3300 RGB 8-bit, 300 dpi
//     page.pattern = harness::Pattern::Text;
//     harness::RasterSpec spec = harness::RasterSpec::uniform(page, 3);
//     spec.pages[1].duplex = true;               // per-page override
//     spec.endMidPage = harness::EndMidPage{3, 100};  // stream stops after line 100 of page 3
//     ASSERT_TRUE(harness::writeRaster(spec, dir + "/in.ras"));
//     std::vector<uint8_t> p2 = harness::expectedPagePixels(spec, 2);
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace harness {

// What the page shows.  Every pattern except White and Solid varies along
// both axes, so a shifted, mirrored or swapped line shows up in a comparison.
enum class Pattern {
    White,     // every pixel white
    Solid,     // PageSpec::color everywhere
    Gradient,  // red rises left to right, green top to bottom, blue falls left to right
    Text,      // black (and some blue) glyph-like strokes in lines, on white, half-inch margins
    Photo,     // smooth colour noise (bilinear value noise), like a photograph
    Noise,     // independent random bytes per sample, the worst case for compression
    Stripes,   // eight vertical colour bars: white yellow cyan green magenta red blue black
};

// One page: the header fields the filter reads, and the content.
struct PageSpec {
    unsigned width = 2550;                  // cupsWidth, pixels
    unsigned height = 3300;                 // cupsHeight, pixels
    unsigned resX = 300, resY = 300;        // HWResolution
    unsigned colorSpace = CUPS_CSPACE_RGB;  // any cups_cspace_t value, also unsupported ones
    unsigned bitsPerColor = 8;
    unsigned bitsPerPixel = 24;
    // cupsBytesPerLine; 0 means (width * bitsPerPixel + 7) / 8.
    unsigned bytesPerLine = 0;

    bool duplex = false;
    bool tumble = false;
    bool collate = false;
    unsigned numCopies = 1;
    std::string mediaType;     // MediaType, e.g. "Plain"
    std::string outputType;    // OutputType, e.g. "DRAFT"
    std::string pageSizeName;  // cupsPageSizeName, e.g. "Letter"
    unsigned mediaPosition = 0;
    unsigned rowStep = 0;  // cupsRowStep
    bool mirrorPrint = false;
    unsigned margins[2] = {0, 0};  // Margins, points
    // PageSize and ImagingBoundingBox in points; all zero means "from the
    // pixel size and resolution" (the whole page imageable).
    unsigned pageSize[2] = {0, 0};
    unsigned imagingBox[4] = {0, 0, 0, 0};

    Pattern pattern = Pattern::Gradient;
    uint32_t color = 0x3060C0;  // 0xRRGGBB for Pattern::Solid
    uint32_t seed = 1;          // for Text, Photo and Noise
    // Draw the page number as a large seven-segment figure at the top left
    // (see readPageMarker); skipped on pages too small to hold it.
    bool pageMarker = true;

    // Last word on the header: called after every field above is filled in.
    std::function<void(cups_page_header2_t&)> adjustHeader;
};

// Stop the stream after `line` lines of page `page` (1-based page number).
// line 0 writes the header only.  Nothing follows, not even a later page.
struct EndMidPage {
    int page = 1;
    unsigned line = 0;
};

enum class RasterFormat {
    Uncompressed,  // CUPS_RASTER_WRITE ("3SaR" on little-endian): what pdftoraster writes with a
                   // PPD
    Compressed,    // CUPS_RASTER_WRITE_COMPRESSED (v2, run-length coded)
    Pwg,           // CUPS_RASTER_WRITE_PWG: what pdftoraster writes without a PPD
    RawV3,         // uncompressed v3 written by hand: any header, no validation
};

struct RasterSpec {
    std::vector<PageSpec> pages;
    std::optional<EndMidPage> endMidPage;
    RasterFormat format = RasterFormat::Uncompressed;

    // `count` copies of `page`; change pages[i] afterwards for per-page overrides.
    static RasterSpec uniform(const PageSpec& page, int count);
};

// The page header written for `page` (page numbers are 1-based).
cups_page_header2_t makeHeader(const PageSpec& page);

// cupsBytesPerLine of the page's header.
unsigned bytesPerLine(const PageSpec& page);

// One raster line exactly as written: bytesPerLine(page) bytes.
std::vector<uint8_t> expectedLine(const PageSpec& page, int pageNumber, unsigned y);

// All lines of page `pageNumber` (1-based) of `spec` as written, including
// lines a truncated stream never delivers (use linesWritten() for those).
std::vector<uint8_t> expectedPagePixels(const RasterSpec& spec, int pageNumber);

// How many lines of page `pageNumber` the stream carries (less than its
// height on a truncated page, 0 for pages after the cut).
unsigned linesWritten(const RasterSpec& spec, int pageNumber);

// Byte sink for the stream: returns false to stop writing.
using RasterSink = std::function<bool(const uint8_t* data, size_t length)>;

// Returns false when the sink fails or libcupsimage refuses a header.  The
// library formats cannot carry a zero depth or width (libcupsimage 2.4
// divides by zero on them); use RawV3 for such headers.  Note that
// libcupsimage's reader refuses headers whose cupsBytesPerLine is not
// (cupsWidth * cupsBitsPerPixel + 7) / 8, or whose depth or size is zero: a
// filter reading with it never sees those pages.  The Compressed and Pwg
// formats hold back a repeated line until the next differs, so a stream cut
// mid-page may end a few lines before EndMidPage::line.
bool writeRaster(const RasterSpec& spec, const RasterSink& sink);
bool writeRaster(const RasterSpec& spec, int fd);
bool writeRaster(const RasterSpec& spec, const std::string& path);
// The whole stream in memory; empty when writeRaster() would fail.
std::vector<uint8_t> rasterBytes(const RasterSpec& spec);

// A raster stream as libcupsimage reads it back.
struct RasterDump {
    struct Page {
        cups_page_header2_t header;
        std::vector<uint8_t> pixels;  // the lines that could be read
        unsigned linesRead = 0;
    };
    std::vector<Page> pages;
    bool opened = false;
    uint32_t syncWord = 0;  // first four bytes, little-endian
};
RasterDump readRaster(const std::vector<uint8_t>& bytes);
std::optional<RasterDump> readRasterFile(const std::string& path);

// Reads the three-digit seven-segment page number that PageSpec::pageMarker
// draws (page number modulo 1000) from a page image: `rows` lines of `stride`
// pixels (a decoded page may be wider than cupsWidth), `channels` 8-bit
// samples per pixel (1 gray, 3 RGB), 0 dark.  `page` gives the geometry the
// marker was drawn with.  Returns -1 when no marker is found.
int readPageMarker(const PageSpec& page, const uint8_t* pixels, unsigned stride, unsigned rows,
                   unsigned channels);

// Sets one PageSpec field from a command-line style key and value ("width",
// "1200"; "color", "rgb"; "pattern", "text"; "duplex", "1").  Returns an
// error text, empty on success.  Keys: see pageOptionHelp().
std::string applyPageOption(PageSpec& page, const std::string& key, const std::string& value);
const char* pageOptionHelp();

}  // namespace harness
