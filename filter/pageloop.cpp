#include "filter/pageloop.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/messages.h"
#include "channel/hdc.h"
#include "filter/bands.h"
#include "filter/copies.h"
#include "filter/quenzel.h"
#include "settings/jobsettings.h"

void implement_mirorr_on(uint8_t* data, uint32_t a, uint32_t b, uint32_t count) {
    uint8_t unit[8];
    while (a < b) {
        std::memcpy(unit, data + a, count);
        std::memcpy(data + a, data + b, count);
        std::memcpy(data + b, unit, count);
        a += count;
        b -= count;
    }
}

namespace {

BandPipelineConfig pipelineConfig(const PageLoopJob& job) {
    BandPipelineConfig c;
    c.sink = job.sink;
    c.width = job.geometry.pixWid;
    c.bytesPerPixel = job.geometry.bytesPerPixel;
    c.pageHeight = job.geometry.pixHt;
    c.settings = job.settings;
    c.resolution = job.settings != nullptr ? job.settings->resolution : 0;
    c.coderThreads = job.coderThreads;
    c.cancel = &isTerminated;
    return c;
}

// Copies stop at once when the job is cancelled or the printer is gone.
bool copiesMustStop() {
    return isTerminated.load() != 0 || hdcOutputClosed();
}

// The main thread's side of a job's pages.
class PageLoop final : public PageOutput {
  public:
    explicit PageLoop(PageLoopJob& job)
        : job_(job),
          g_(job.geometry),
          copies_(uncollatedCopies_Prototype, collatedFlag_Prototype != 0,
                  job.settings != nullptr && job.settings->duplex == "ON"),
          pipeline_(pipelineConfig(job)) {}

    PageLoopResult run();

    // PageOutput: the copies' requests go to the printer in order with the pages.
    void replaySide(int slot, int copy) override { pipeline_.replay(slot, copy); }
    void printWhitePage(int recordSlot) override {
        pipeline_.startPage(recordSlot);
        for (uint32_t line = 0; line < g_.pixHt; line += kBlockLines)
            pipeline_.band(line, 0, {});
        pipeline_.endPage();
    }
    void forgetSides(int firstSlot, int lastSlot) override {
        pipeline_.forget(firstSlot, lastSlot);
    }

  private:
    void readPage();
    bool readNextHeader(bool* more);

    PageLoopJob& job_;
    const JobGeometry g_;
    UncollatedCopies copies_;
    BandPipeline pipeline_;
    std::vector<uint8_t> band_;  // the 8 lines of the band in hand (a pipeline buffer)
    std::vector<uint8_t> line_;
    std::vector<uint8_t> blank_;
    bool pageCutShort_ = false;
    PageLoopResult result_;
};

// Reads one page into bands and hands them to the pipeline.  A page whose
// raster ends early is completed with white lines, so the printer still gets
// every band of it.
void PageLoop::readPage() {
    const cups_page_header2_t& h = *job_.header;
    const uint32_t rasterBytes = h.cupsBytesPerLine;
    const uint32_t keep = std::min(rasterBytes, g_.lineBytes);
    if (rasterBytes > g_.lineBytes) {
        msgf("DEBUG: Page %d is wider than the first page; its lines are clipped to %u pixels\n",
             result_.pages, g_.pixWid);
    }
    line_.resize(std::max<size_t>(line_.size(), rasterBytes));
    blank_.resize(std::max<size_t>(blank_.size(), keep), 0xFF);
    const size_t bandBytes = size_t{kBlockLines} * g_.lineBytes;
    // Lines are read straight into their place in the band's buffer, which
    // goes to the pipeline as it is: a white line read in place is already
    // white there.
    const bool inPlace = rasterBytes <= g_.lineBytes;

    bool rasterEnded = false;
    pageCutShort_ = false;
    uint8_t mask = 0;          // lines with ink
    uint8_t inPlaceWhite = 0;  // white lines read into their place
    for (uint32_t i = 0; i < g_.pixHt; ++i) {
        const uint32_t d = i % kBlockLines;
        if (i < h.cupsHeight && !rasterEnded) {
            if (band_.size() != bandBytes) band_ = pipeline_.takeBuffer();
            uint8_t* at = band_.data() + size_t{d} * g_.lineBytes;
            uint8_t* read = inPlace ? at : line_.data();
            if (job_.raster->readPixels(read, rasterBytes) == 0) {
                rasterEnded = true;
                pageCutShort_ = true;
                msgf("DEBUG: The raster of page %d ended after %u lines; the rest stays white\n",
                     result_.pages, i);
            } else if (std::memcmp(read, blank_.data(), keep) != 0) {
                // White lines are not coded: the coder makes them white again.
                if (!inPlace) std::memcpy(at, line_.data(), keep);
                std::memset(at + keep, 0xFF, g_.lineBytes - keep);
                if (job_.settings->mirror == 2) {
                    // Reverses all pixWid pixels of the padded line, so the
                    // right-hand padding becomes white on the left.  The tag
                    // plane is uniform, so mirroring it changes nothing.
                    implement_mirorr_on(band_.data(), d * g_.lineBytes,
                                        (d + 1) * g_.lineBytes - g_.bytesPerPixel,
                                        g_.bytesPerPixel);
                }
                mask = static_cast<uint8_t>(mask | (1u << d));
            } else if (inPlace) {
                std::memset(at + keep, 0xFF, g_.lineBytes - keep);
                inPlaceWhite = static_cast<uint8_t>(inPlaceWhite | (1u << d));
            }
        }
        if (d == kBlockLines - 1) {
            std::vector<uint8_t> lines;
            if (mask != 0) {
                allocationCheckpoint(AllocSite::kReadAhead);
                // The lines neither inked nor read white in place become white.
                for (uint32_t k = 0; k < kBlockLines; ++k) {
                    if (((mask | inPlaceWhite) & (1u << k)) == 0)
                        std::memset(band_.data() + size_t{k} * g_.lineBytes, 0xFF, g_.lineBytes);
                }
                lines.swap(band_);
            }
            pipeline_.band(i - (kBlockLines - 1), mask, std::move(lines));
            mask = 0;
            inPlaceWhite = 0;
        }
    }
    // A page taller than the first one: read past the lines it doesn't print
    // so that the next header is read from the right place.
    for (uint32_t i = g_.pixHt; i < h.cupsHeight && !rasterEnded; ++i) {
        if (job_.raster->readPixels(line_.data(), rasterBytes) == 0) rasterEnded = true;
    }
}

// Reads the next page header and checks that the page fits the job.
bool PageLoop::readNextHeader(bool* more) {
    *more = job_.raster->readHeader(job_.header);
    if (!*more) return true;
    std::string why;
    if (!normalizeRasterHeader(job_.header, &why)) {
        msgf("ERROR: Unable to print page %d: %s\n", result_.pages + 1, why.c_str());
        return false;
    }
    if (job_.header->cupsBitsPerPixel / 8 != g_.bytesPerPixel) {
        msgf("ERROR: Unable to print page %d: its colour format differs from the first page's\n",
             result_.pages + 1);
        return false;
    }
    return true;
}

PageLoopResult PageLoop::run() {
    bool started = false;
    try {
        started = pipeline_.start();
    } catch (const std::bad_alloc&) {
        reportNoMemory();
    }
    if (!started) {
        // Nothing of a page has been written: the session can be closed.
        result_.failed = true;
        result_.stoppedEarly = true;
        return result_;
    }
    bool more = true;
    try {
        while (more && isTerminated.load() == 0) {
            msgf("collatedFlag =%d,%d", static_cast<int>(collatedFlag_Prototype),
                 static_cast<int>(uncollatedCopies_Prototype));
            pipeline_.startPage(copies_.recordSlot());
            msgf("MAIN:START PAGE\n");
            ++result_.pages;
            msgf("PAGE: %d %d\n", result_.pages, static_cast<int>(job_.header->NumCopies));
            readPage();
            pipeline_.endPage();

            if (job_.bannerJob) {
                result_.stoppedEarly = true;
                break;
            }
            if (pageCutShort_) {
                // The raster ended inside this page (a cancel, or pdftoraster
                // failed): the page went out completed in white, but copies of a
                // cut page would only waste paper, and nothing follows it.
                msgf("DEBUG: No copies are made of page %d, which was cut short\n", result_.pages);
                copies_.discardSheet(*this);
                more = false;
                break;
            }
            if (!readNextHeader(&more)) {
                // The pages before the refused one still get the copies owed.
                copies_.afterPage(false, *this, copiesMustStop);
                result_.failed = true;
                break;
            }
            const int copiesBefore = copies_.copiesPrinted();
            copies_.afterPage(more, *this, copiesMustStop);
            // A sheet's copies are out before the next page begins, so a
            // cancel from now on stops the copies still to come, not pages.
            if (copies_.copiesPrinted() != copiesBefore) pipeline_.waitWritten();
            if (pipeline_.failed() || hdcOutputClosed()) break;
        }
    } catch (const std::bad_alloc&) {
        // A page whose end could not be queued is closed by the pipeline.
        reportNoMemory();
        result_.failed = true;
    }
    pipeline_.finish();
    if (more) result_.stoppedEarly = true;
    if (pipeline_.failed() || hdcFailed()) result_.failed = true;
    result_.copies = copies_.copiesPrinted();
    return result_;
}

}  // namespace

PageLoopResult runPageLoop(PageLoopJob& job) {
    std::unique_ptr<PageLoop> loop;
    try {
        loop = std::make_unique<PageLoop>(job);
    } catch (const std::bad_alloc&) {
        // Nothing of a page has been written: the session can be closed.
        reportNoMemory();
        PageLoopResult result;
        result.failed = true;
        result.stoppedEarly = true;
        return result;
    }
    return loop->run();
}
