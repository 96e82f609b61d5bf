#include "tests/cups/pageseq.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace pageseq {
namespace {

// JPEG rounding leaves a white area a little below 255, never below this.
constexpr uint8_t kWhiteMinimum = 250;
// The best page must beat the runner-up by this much to name the side.
constexpr double kMarginDb = 3.0;

struct RasterCloser {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool readReference(const std::string& path, int step, std::vector<RefPage>& pages,
                   std::string& message) {
    if (step < 1) step = 1;
    Fd file{::open(path.c_str(), O_RDONLY)};
    if (file.fd < 0) {
        message = "cannot open " + path;
        return false;
    }
    std::unique_ptr<cups_raster_t, RasterCloser> raster(cupsRasterOpen(file.fd, CUPS_RASTER_READ));
    if (!raster) {
        message = path + " is not a CUPS raster";
        return false;
    }
    cups_page_header2_t h;
    while (cupsRasterReadHeader2(raster.get(), &h)) {
        if (h.cupsBitsPerColor != 8 || (h.cupsBitsPerPixel != 8 && h.cupsBitsPerPixel != 24) ||
            h.cupsColorOrder != CUPS_ORDER_CHUNKED || h.cupsWidth == 0 || h.cupsHeight == 0 ||
            h.cupsWidth > 65535 || h.cupsHeight > 65535 ||
            h.cupsBytesPerLine != h.cupsWidth * (h.cupsBitsPerPixel / 8)) {
            message = "page " + std::to_string(pages.size() + 1) +
                      " is not 8-bit gray or RGB of a sane size";
            return false;
        }
        RefPage page;
        page.width = h.cupsWidth;
        page.height = h.cupsHeight;
        page.channels = h.cupsBitsPerPixel == 24 ? 3 : 1;
        page.step = step;
        const uint32_t w = (page.width + step - 1) / step;
        const uint32_t rows = (page.height + step - 1) / step;
        page.samples.resize(size_t{w} * rows * page.channels);
        std::vector<uint8_t> line(h.cupsBytesPerLine);
        for (uint32_t y = 0; y < page.height; ++y) {
            if (cupsRasterReadPixels(raster.get(), line.data(), h.cupsBytesPerLine) !=
                h.cupsBytesPerLine) {
                message = "page " + std::to_string(pages.size() + 1) + " ends early";
                return false;
            }
            if (y % step != 0) continue;
            uint8_t* out = page.samples.data() + size_t{y / step} * w * page.channels;
            for (uint32_t x = 0; x < page.width; x += step) {
                for (int c = 0; c < page.channels; ++c)
                    *out++ = line[size_t{x} * page.channels + c];
            }
        }
        pages.push_back(std::move(page));
    }
    if (pages.empty()) {
        message = path + " has no pages";
        return false;
    }
    return true;
}

double psnr(const RefPage& ref, const inspect::PageImage& printed) {
    if (printed.channels != ref.channels || printed.width < ref.width ||
        printed.height < ref.height)
        return -1;
    uint64_t sum = 0, count = 0;
    const uint8_t* r = ref.samples.data();
    for (uint32_t y = 0; y < ref.height; y += ref.step) {
        const uint8_t* row = printed.pixels.data() + size_t{y} * printed.width * printed.channels;
        for (uint32_t x = 0; x < ref.width; x += ref.step) {
            for (int c = 0; c < ref.channels; ++c) {
                const int d = int{*r++} - int{row[size_t{x} * printed.channels + c]};
                sum += static_cast<uint64_t>(d * d);
                ++count;
            }
        }
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / static_cast<double>(sum));
}

bool isWhite(const inspect::PageImage& printed) {
    return std::all_of(printed.pixels.begin(), printed.pixels.end(),
                       [](uint8_t v) { return v >= kWhiteMinimum; });
}

std::string identify(const std::vector<RefPage>& refs, const inspect::PageImage& printed,
                     double minPsnr) {
    if (printed.width == 0 || printed.height == 0) return "?";
    // A white side first: a mostly white document page is still told apart,
    // since it has marks somewhere.
    if (isWhite(printed)) return "W";
    double best = -1, second = -1;
    size_t bestPage = 0;
    for (size_t i = 0; i < refs.size(); ++i) {
        const double p = psnr(refs[i], printed);
        if (p > best) {
            second = best;
            best = p;
            bestPage = i;
        } else if (p > second) {
            second = p;
        }
    }
    if (best < minPsnr || best - second < kMarginDb) return "?";
    return std::to_string(bestPage + 1);
}

}  // namespace pageseq
