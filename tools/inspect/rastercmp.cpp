#include "tools/inspect/rastercmp.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace inspect {
namespace {

// A printed white back side may differ from 255 by JPEG rounding at most.
constexpr int kWhiteMinimum = 250;

std::string pageName(int page) {
    return page == kWhiteSide ? "a white back side" : "raster page " + std::to_string(page + 1);
}

}  // namespace

std::vector<int> expectedPageSequence(int rasterPages, int copies, bool duplex) {
    std::vector<int> seq;
    if (rasterPages <= 0) return seq;
    if (copies < 1) copies = 1;
    if (copies == 1) {
        for (int p = 0; p < rasterPages; ++p)
            seq.push_back(p);
        return seq;
    }
    if (!duplex) {
        for (int p = 0; p < rasterPages; ++p)
            seq.insert(seq.end(), static_cast<size_t>(copies), p);
        return seq;
    }
    int p = 0;
    for (; p + 1 < rasterPages; p += 2) {
        for (int c = 0; c < copies; ++c) {
            seq.push_back(p);
            seq.push_back(p + 1);
        }
    }
    if (p < rasterPages) {
        // A lone last front page: every further copy starts a new sheet, so a
        // white back side goes before it.
        seq.push_back(p);
        for (int c = 1; c < copies; ++c) {
            seq.push_back(kWhiteSide);
            seq.push_back(p);
        }
    }
    return seq;
}

bool RasterComparison::ok() const {
    if (!errors.empty() || printedSides != expectedSides) return false;
    return std::all_of(sides.begin(), sides.end(), [](const auto& s) { return s.ok; });
}

struct RasterComparer::Reader {
    int fd = -1;
    cups_raster_t* raster = nullptr;

    ~Reader() {
        if (raster) cupsRasterClose(raster);
        if (fd >= 0) ::close(fd);
    }
    bool open(const std::string& path) {
        fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return false;
        raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
        return raster != nullptr;
    }
    // Reads the next page header and checks that its pixels are a format we
    // compare (8-bit gray or 8-bit RGB, chunked) of a sane size; `why` says
    // what is wrong.  False with an empty `why` at the end of the raster.
    bool header(RasterPage& page, unsigned& lineBytes, uint64_t maxPixels, std::string& why) {
        cups_page_header2_t h;
        if (!cupsRasterReadHeader2(raster, &h)) return false;
        page = RasterPage{};
        if (h.cupsBitsPerColor != 8 || (h.cupsBitsPerPixel != 8 && h.cupsBitsPerPixel != 24) ||
            h.cupsColorOrder != CUPS_ORDER_CHUNKED) {
            why = "unsupported pixel format (" + std::to_string(h.cupsBitsPerPixel) +
                  " bits per pixel, " + std::to_string(h.cupsBitsPerColor) +
                  " per colour); 8-bit gray or RGB is compared";
            return false;
        }
        page.channels = h.cupsBitsPerPixel == 24 ? 3 : 1;
        if (h.cupsWidth == 0 || h.cupsWidth > 65535 || h.cupsHeight == 0 ||
            uint64_t{h.cupsWidth} * h.cupsHeight > maxPixels) {
            why = "unsupported size " + std::to_string(h.cupsWidth) + " x " +
                  std::to_string(h.cupsHeight);
            return false;
        }
        if (h.cupsBytesPerLine != h.cupsWidth * static_cast<unsigned>(page.channels)) {
            why = "cupsBytesPerLine " + std::to_string(h.cupsBytesPerLine) + " does not match " +
                  std::to_string(h.cupsWidth) + " pixels";
            return false;
        }
        page.width = h.cupsWidth;
        page.height = h.cupsHeight;
        lineBytes = h.cupsBytesPerLine;
        return true;
    }
};

RasterComparer::RasterComparer(std::string path, int copies, bool duplex, double minPsnr,
                               uint64_t maxPagePixels)
    : maxPagePixels_(maxPagePixels) {
    result_.path = std::move(path);
    result_.copies = copies;
    result_.duplex = duplex;
    result_.minPsnr = minPsnr;
}

RasterComparer::~RasterComparer() = default;

bool RasterComparer::open() {
    // First pass: count the pages and check every header and every line.
    {
        Reader scan;
        if (!scan.open(result_.path)) {
            result_.errors.push_back("cannot read " + result_.path + " as a CUPS raster");
            return false;
        }
        RasterPage page;
        unsigned lineBytes = 0;
        std::string why;
        std::vector<uint8_t> line;
        while (scan.header(page, lineBytes, maxPagePixels_, why)) {
            line.resize(lineBytes);
            for (uint32_t y = 0; y < page.height; ++y) {
                if (cupsRasterReadPixels(scan.raster, line.data(), lineBytes) != lineBytes) {
                    result_.errors.push_back(
                        "raster page " + std::to_string(result_.rasterPages + 1) + " ends after " +
                        std::to_string(y) + " of " + std::to_string(page.height) + " lines");
                    return false;
                }
            }
            ++result_.rasterPages;
        }
        if (!why.empty()) {
            result_.errors.push_back("raster page " + std::to_string(result_.rasterPages + 1) +
                                     ": " + why);
            return false;
        }
    }
    if (result_.rasterPages == 0) {
        result_.errors.push_back(result_.path + " holds no raster pages");
        return false;
    }
    sequence_ = expectedPageSequence(result_.rasterPages, result_.copies, result_.duplex);
    result_.expectedSides = sequence_.size();
    lastUse_.assign(static_cast<size_t>(result_.rasterPages), 0);
    for (size_t i = 0; i < sequence_.size(); ++i) {
        if (sequence_[i] >= 0) lastUse_[static_cast<size_t>(sequence_[i])] = i;
    }
    reader_ = std::make_unique<Reader>();
    if (!reader_->open(result_.path)) {
        result_.errors.push_back("cannot read " + result_.path + " again");
        return false;
    }
    usable_ = true;
    return true;
}

bool RasterComparer::readUpTo(int wanted) {
    while (pagesRead_ <= wanted) {
        RasterPage page;
        unsigned lineBytes = 0;
        std::string why;
        if (!reader_->header(page, lineBytes, maxPagePixels_, why)) return false;
        page.pixels.resize(size_t{lineBytes} * page.height);
        for (uint32_t y = 0; y < page.height; ++y) {
            if (cupsRasterReadPixels(reader_->raster, page.pixels.data() + size_t{y} * lineBytes,
                                     lineBytes) != lineBytes) {
                return false;
            }
        }
        cache_[pagesRead_++] = std::move(page);
    }
    return true;
}

void RasterComparer::compare(size_t index, const PageImage& printed) {
    if (!usable_) return;
    SideComparison side;
    side.index = index;
    const auto done = [&] { result_.sides.push_back(std::move(side)); };
    if (index >= sequence_.size()) {
        side.rasterPage = -2;
        side.message =
            "not expected: the raster gives " + std::to_string(sequence_.size()) + " page sides";
        return done();
    }
    const int want = sequence_[index];
    side.rasterPage = want;
    if (printed.width == 0 || printed.height == 0) {
        side.message = "the printed side has no decoded image to compare with " + pageName(want);
        return done();
    }
    const size_t samples = printed.pixels.size();
    if (want == kWhiteSide) {
        const uint8_t darkest =
            samples ? *std::min_element(printed.pixels.begin(), printed.pixels.end()) : 255;
        side.ok = darkest >= kWhiteMinimum;
        if (!side.ok) side.message = "not white: darkest sample " + std::to_string(darkest);
        return done();
    }
    if (!readUpTo(want) || !cache_.count(want)) {
        side.message = "raster page " + std::to_string(want + 1) + " cannot be read";
        return done();
    }
    const RasterPage& source = cache_.at(want);
    if (printed.channels != source.channels) {
        side.message = std::string("printed in ") + (printed.channels == 3 ? "colour" : "gray") +
                       ", the raster page is " + (source.channels == 3 ? "colour" : "gray");
    } else if (printed.width < source.width || printed.height < source.height) {
        side.message = "printed side is " + std::to_string(printed.width) + " x " +
                       std::to_string(printed.height) + ", smaller than the raster page (" +
                       std::to_string(source.width) + " x " + std::to_string(source.height) + ")";
    } else if (printed.height != (source.height + 7) / 8 * 8) {
        // Every page is sent in whole bands of 8 lines, no more.
        side.message = "printed side has " + std::to_string(printed.height) +
                       " lines, the raster page padded to whole bands " +
                       std::to_string((source.height + 7) / 8 * 8);
    } else {
        // PSNR over the raster's area; the printed page's padding is left out.
        uint64_t sum = 0;
        const size_t rowSamples = size_t{source.width} * source.channels;
        const size_t printedStride = size_t{printed.width} * printed.channels;
        for (uint32_t y = 0; y < source.height; ++y) {
            const uint8_t* a = source.pixels.data() + y * rowSamples;
            const uint8_t* b = printed.pixels.data() + y * printedStride;
            for (size_t i = 0; i < rowSamples; ++i) {
                const int d = int{a[i]} - int{b[i]};
                sum += static_cast<uint64_t>(d * d);
            }
        }
        const double count = static_cast<double>(rowSamples) * source.height;
        side.psnr =
            sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * count / static_cast<double>(sum));
        side.ok = side.psnr >= result_.minPsnr;
        if (side.ok && printed.width != (source.width + 15) / 16 * 16) {
            // Custom page sizes are padded to a width of their own.
            side.message = "printed width " + std::to_string(printed.width) +
                           " is not the raster width padded to 16 (" +
                           std::to_string((source.width + 15) / 16 * 16) + ")";
        }
        if (!side.ok) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "PSNR %.2f dB is below %.2f dB", side.psnr,
                          result_.minPsnr);
            side.message = buf;
        }
    }
    // Raster pages no later side needs are let go.
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (lastUse_[static_cast<size_t>(it->first)] <= index) {
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
    done();
}

const RasterComparison& RasterComparer::finish(size_t printedSides) {
    result_.printedSides = printedSides;
    if (usable_ && printedSides != result_.expectedSides) {
        result_.errors.push_back("the job prints " + std::to_string(printedSides) +
                                 " page sides; " + std::to_string(result_.rasterPages) +
                                 " raster pages with copies " + std::to_string(result_.copies) +
                                 (result_.duplex ? " in duplex" : "") + " give " +
                                 std::to_string(result_.expectedSides));
    }
    return result_;
}

}  // namespace inspect
