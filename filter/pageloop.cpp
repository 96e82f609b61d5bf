#include "filter/pageloop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "channel/hdc.h"
#include "channel/messages.h"
#include "compress/colorconvert.h"
#include "filter/bands.h"
#include "filter/copies.h"
#include "filter/pagestream.h"
#include "filter/quenzel.h"
#include "filter/rasterblock.h"
#include "settings/jobsettings.h"

std::atomic<uint8_t> gBlockProcessingCompleted{1};

namespace {

// The page loop and the image thread wait on each other by polling with a
// fixed pause.  The ring holds only ten blocks, about five milliseconds of
// compression, so the pause must be shorter than that or both threads end up
// asleep at once: with 20 ms a letter page spent over a second just waiting.
constexpr auto kPollPause = std::chrono::microseconds(1000);

void pausePoll() {
    std::this_thread::sleep_for(kPollPause);
}

// Waits until the ring holds `bytes`, or the run flag is cleared (false).
bool waitForBytes(uint32_t bytes, const std::atomic<uint8_t>* runFlag) {
    while (cbufferGetAvailableBytes(&imageLineBlockBuffer) < bytes) {
        if (runFlag->load() == 0) return false;
        pausePoll();
    }
    return true;
}

}  // namespace

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

int process_image_thread(std::atomic<uint8_t>* runFlag) {
    // One coder state and one settings record serve every band of the job.
    auto settings = std::make_unique<WicketSettings>();
    auto coder = std::make_unique<HuffmanState>();
    std::vector<uint8_t> pixelData, tagPlane, planeY, planeCb, planeCr;
    uint8_t headBytes[kBlockHeadBytes];

    runFlag->store(1);
    uint64_t pixelsPerPage = 0;
    uint64_t accumulated = 0;
    while (runFlag->load() != 0) {
        if (!waitForBytes(kBlockHeadBytes, runFlag)) break;
        gBlockProcessingCompleted.store(0);
        cbufferReadBytes(&imageLineBlockBuffer, headBytes, kBlockHeadBytes);
        const RasterBlockHead head = readBlockHead(headBytes);
        if (!waitForBytes(head.imageBytes + head.tagBytes, runFlag)) break;

        pixelData.resize(head.imageBytes);
        tagPlane.resize(head.tagBytes);
        cbufferReadBytes(&imageLineBlockBuffer, pixelData.data(), head.imageBytes);
        cbufferReadBytes(&imageLineBlockBuffer, tagPlane.data(), head.tagBytes);

        const uint32_t width = head.lineBytes / head.bytesPerPixel;
        const uint32_t pixels = head.imageBytes / head.bytesPerPixel;
        const bool color = jobsetting != nullptr && jobsetting->isColor != 0;
        if (color) {
            planeY.assign(pixels, 0xFF);
            planeCb.assign(pixels, 0x80);
            planeCr.assign(pixels, 0x80);
            rgbtoYCbCr(head.lineBytes, head.imageBytes, pixelData.data(), width, pixels,
                       planeY.data(), planeCb.data(), planeCr.data(), true);
        }
        if (pixelsPerPage == 0) {
            pixelsPerPage = uint64_t{width} * head.pageHeight;
            msgf("ptp=%d   ", static_cast<int>(pixelsPerPage));
        }
        accumulated += pixels;
        const bool lastBand = accumulated >= pixelsPerPage;
        if (lastBand) accumulated = 0;

        compress_and_send(settings.get(), coder.get(), head.firstLine, width, pixels,
                          color ? planeY.data() : nullptr, color ? planeCb.data() : nullptr,
                          color ? planeCr.data() : nullptr, pixelData.data(), tagPlane.data(),
                          lastBand);
        gBlockProcessingCompleted.store(1);
    }
    return 0;
}

namespace {

// The main thread's side of a job's pages.
class PageLoop final : public PageOutput {
  public:
    explicit PageLoop(PageLoopJob& job)
        : job_(job),
          g_(job.geometry),
          copies_(uncollatedCopies_Prototype, collatedFlag_Prototype != 0, g_.blockBytes,
                  jobsetting != nullptr && jobsetting->duplex == "ON") {}

    ~PageLoop() override { stopImageThread(); }
    PageLoop(const PageLoop&) = delete;
    PageLoop& operator=(const PageLoop&) = delete;

    PageLoopResult run();

    // PageOutput, also used for the first print of every page.
    bool beginPage() override {
        start_page(job_.sink);
        return startImageThread();
    }
    void sendBlock(const uint8_t* block, uint32_t size) override {
        while (cbufferGetAvailableSpace(&imageLineBlockBuffer) < size)
            pausePoll();
        cbufferWriteBytes(&imageLineBlockBuffer, block, size);
    }
    void waitRingEmpty() override {
        while (!cbufferIsEmpty(&imageLineBlockBuffer))
            pausePoll();
    }
    void waitBandsDone() override {
        while (gBlockProcessingCompleted.load() == 0)
            pausePoll();
    }
    void endPage() override { end_page(job_.sink); }

  private:
    bool startImageThread();
    void stopImageThread();
    bool printPage();
    bool pageCutShort_ = false;
    bool readNextHeader(bool* more);

    PageLoopJob& job_;
    const JobGeometry g_;
    UncollatedCopies copies_;
    std::thread imageThread_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> line_;
    std::vector<uint8_t> blank_;
    PageLoopResult result_;
};

bool PageLoop::startImageThread() {
    if (imageThread_.joinable()) return true;
    try {
        imageThread_ = std::thread(process_image_thread, &imageProcessorContext);
    } catch (const std::system_error&) {
        msgf("ERROR: Unable to ran process_image_thread!\n");
        return false;
    }
    // The thread raises its run flag itself; wait for it so that a stop right
    // after the start is not lost.
    while (imageProcessorContext.load() == 0)
        std::this_thread::yield();
    return true;
}

void PageLoop::stopImageThread() {
    if (!imageThread_.joinable()) return;
    imageProcessorContext.store(0);
    imageThread_.join();
}

// Reads one page into blocks and hands them to the image thread.  A page whose
// raster ends early is completed with white lines, so the printer still gets
// every band of it.
bool PageLoop::printPage() {
    const cups_page_header2_t& h = *job_.header;
    const uint32_t rasterBytes = h.cupsBytesPerLine;
    const uint32_t keep = std::min(rasterBytes, g_.lineBytes);
    if (rasterBytes > g_.lineBytes) {
        msgf("DEBUG: Page %d is wider than the first page; its lines are clipped to %u pixels\n",
             result_.pages, g_.pixWid);
    }
    line_.resize(std::max<size_t>(line_.size(), rasterBytes));
    blank_.resize(std::max<size_t>(blank_.size(), keep), 0xFF);

    uint8_t* const pixels = block_.data() + kBlockHeadBytes;
    RasterBlockHead head = readBlockHead(block_.data());
    clearBlock(block_.data());

    bool rasterEnded = false;
    pageCutShort_ = false;
    for (uint32_t i = 0; i < g_.pixHt; ++i) {
        const uint32_t d = i % kBlockLines;
        if (i < h.cupsHeight && !rasterEnded) {
            if (job_.raster->readPixels(line_.data(), rasterBytes) == 0) {
                rasterEnded = true;
                pageCutShort_ = true;
                msgf("DEBUG: The raster of page %d ended after %u lines; the rest stays white\n",
                     result_.pages, i);
            } else if (std::memcmp(line_.data(), blank_.data(), keep) != 0) {
                uint8_t* at = pixels + d * g_.lineBytes;
                std::memcpy(at, line_.data(), keep);
                if (jobsetting->mirror == 2) {
                    // Reverses all pixWid pixels of the padded line, so the
                    // right-hand padding becomes white on the left.  The tag
                    // line is uniform, so mirroring it changes nothing.
                    implement_mirorr_on(pixels, d * g_.lineBytes,
                                        (d + 1) * g_.lineBytes - g_.bytesPerPixel,
                                        g_.bytesPerPixel);
                }
            }
        }
        if (d == kBlockLines - 1) {
            head.firstLine = i - (kBlockLines - 1);
            writeBlockHead(block_.data(), head);
            sendBlock(block_.data(), g_.blockBytes);
            if (!copies_.keepBlock(block_.data())) return false;
            clearBlock(block_.data());
        }
    }
    // A page taller than the first one: read past the lines it doesn't print
    // so that the next header is read from the right place.
    for (uint32_t i = g_.pixHt; i < h.cupsHeight && !rasterEnded; ++i) {
        if (job_.raster->readPixels(line_.data(), rasterBytes) == 0) rasterEnded = true;
    }
    return true;
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
    block_.assign(g_.blockBytes, 0);
    RasterBlockHead head{0,
                         g_.bytesPerPixel,
                         g_.lineBytes,
                         kBlockLines * g_.lineBytes,
                         kBlockLines * g_.pixWid,
                         g_.pixHt};
    writeBlockHead(block_.data(), head);

    bool more = true;
    while (more && isTerminated == 0) {
        msgf("collatedFlag =%d,%d", static_cast<int>(collatedFlag_Prototype),
             static_cast<int>(uncollatedCopies_Prototype));
        copies_.pageStart();
        start_page(job_.sink);
        msgf("MAIN:START PAGE\n");
        ++result_.pages;
        msgf("PAGE: %d %d\n", result_.pages, static_cast<int>(job_.header->NumCopies));
        if (!startImageThread() || !printPage()) {
            result_.failed = true;
            break;
        }
        waitRingEmpty();
        waitBandsDone();
        end_page(job_.sink);

        if (job_.bannerJob) {
            result_.stoppedEarly = true;
            break;
        }
        if (pageCutShort_) {
            // The raster ended inside this page (a cancel, or pdftoraster
            // failed): the page went out completed in white, but copies of a
            // cut page would only waste paper, and nothing follows it.
            msgf("DEBUG: No copies are made of page %d, which was cut short\n", result_.pages);
            copies_.discardSheet();
            more = false;
            break;
        }
        if (!readNextHeader(&more)) {
            result_.failed = true;
            break;
        }
        if (!copies_.afterPage(more, *this)) {
            result_.failed = true;
            break;
        }
        if (hdcFailed() || gBandOutputFailed.load()) {
            result_.failed = true;
            break;
        }
    }
    if (more) result_.stoppedEarly = true;
    if (gBandOutputFailed.load()) result_.failed = true;
    result_.copies = copies_.copiesPrinted();
    stopImageThread();
    return result_;
}

}  // namespace

PageLoopResult runPageLoop(PageLoopJob& job) {
    gBlockProcessingCompleted.store(1);
    gBandOutputFailed.store(false);
    resetBandCache();
    PageLoop loop(job);
    return loop.run();
}
