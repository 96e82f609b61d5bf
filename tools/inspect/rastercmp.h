// Comparing the printed page sides of a job with the CUPS raster it was made
// from.
//
// The filter prints each raster page once, and with uncollated copies it
// repeats pages itself: in simplex every page `copies` times in a row; in
// duplex every sheet (front and back page) `copies` times, and a lone last
// front page alternately with a white back side, so that each copy of it
// starts a new sheet (copies 3: P W P W P).  The comparer expects exactly that
// sequence, reads the raster forward only (keeping just the pages still to be
// compared), and checks each printed side: a raster page by PSNR over the
// raster's cupsWidth x cupsHeight area (the printed page is padded to a
// multiple of 16 pixels wide and 8 high), a white back side as all white.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/inspect/inspect.h"

namespace inspect {

inline constexpr int kWhiteSide = -1;

// Raster page (0-based) of each printed side, kWhiteSide for a white back side.
std::vector<int> expectedPageSequence(int rasterPages, int copies, bool duplex);

struct SideComparison {
    size_t index = 0;    // printed side, 0-based
    int rasterPage = 0;  // expected raster page (0-based), kWhiteSide, or -2 when none
    bool ok = false;
    double psnr = 0;      // raster pages only
    std::string message;  // what did not match, or a note
};

struct RasterComparison {
    std::string path;
    int rasterPages = 0;
    int copies = 1;
    bool duplex = false;
    double minPsnr = 0;
    size_t expectedSides = 0;
    size_t printedSides = 0;
    std::vector<SideComparison> sides;
    std::vector<std::string> errors;  // not tied to one side

    bool ok() const;
};

// One raster page as 8-bit samples: gray (1 channel) or RGB (3).
struct RasterPage {
    uint32_t width = 0, height = 0;
    int channels = 1;
    std::vector<uint8_t> pixels;
};

class RasterComparer {
  public:
    RasterComparer(std::string path, int copies, bool duplex, double minPsnr,
                   uint64_t maxPagePixels = uint64_t{160} << 20);
    ~RasterComparer();
    RasterComparer(const RasterComparer&) = delete;
    RasterComparer& operator=(const RasterComparer&) = delete;

    // Counts the raster pages and checks their headers; false when the file
    // cannot be read as a supported raster (see result().errors).
    bool open();
    // Compares printed side `index` (calls must come in order 0, 1, 2, ...).
    void compare(size_t index, const PageImage& printed);
    // Closes the comparison after `printedSides` sides.
    const RasterComparison& finish(size_t printedSides);
    const RasterComparison& result() const { return result_; }

  private:
    struct Reader;
    bool readUpTo(int page);

    RasterComparison result_;
    uint64_t maxPagePixels_;
    std::vector<int> sequence_;
    std::vector<size_t> lastUse_;  // per raster page: last printed side that needs it
    std::unique_ptr<Reader> reader_;
    int pagesRead_ = 0;
    std::map<int, RasterPage> cache_;
    bool usable_ = false;
};

}  // namespace inspect
