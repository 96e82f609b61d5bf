// Band output: the band pipeline of a job.  Each band of 8 lines becomes one
// restart interval of a headerless JPEG scan; up to 32 bands are joined into
// one PCL XL image (a JPEG block and a TBRLE-coded tag block).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/waiter.h"
#include "filter/copies.h"

#include "compress/huffman.h"
#include "compress/wicket.h"
#include "printstream/pclxl.h"
#include "settings/record.h"

// Lines of a band.
inline constexpr uint32_t kBlockLines = 8;
// Bands joined into one image (256 rows).
inline constexpr uint32_t kBandsPerImage = 32;
// The object tag the filter sends for every pixel.
inline constexpr uint8_t kPixelTag = 3;

// --- Injectable allocation failures (tests) --------------------------------

// Places where the job allocates per band or per page.  QZ_FAIL_ALLOC=<site>:<n>
// in the environment makes the n-th allocation at that site (1 = the first)
// fail as if memory had run out, so that every such path can be tried.
enum class AllocSite { kReadAhead, kCoder, kWriter, kRecord };
// Throws std::bad_alloc when the injected failure for `site` is due.
void allocationCheckpoint(AllocSite site);

// Codes one band with the coder state and settings given (reset here): the
// band is `position` (0..31) in its image, which decides its first restart
// marker (position mod 8) and whether it announces the quantiser (position
// 0).  Bands are independent, so any thread may code any band.  False
// (reported) on a coder error; std::bad_alloc when memory runs out.
bool codeBand(WicketSettings* settings, HuffmanState* coder, bool color, uint32_t position,
              uint32_t firstLine, uint32_t width, uint32_t pixels, const uint8_t* Y, const uint8_t* Cb,
              const uint8_t* Cr, const uint8_t* raw, std::vector<uint8_t>* out);

// --- The band pipeline of a job ----------------------------------------------
//
// The page loop hands the pipeline an ordered stream of items: page starts,
// bands, page ends, and requests to send a kept page side again.  A pool of
// coder threads codes the bands, in any order and in parallel; one writer
// thread takes the items in their order, joins the coded bands into images
// (32 bands each, or fewer at a page's end), and writes everything through
// the sink.  The writer is the only producer of page bytes while the
// pipeline runs, so the page loop never waits for a page to be written
// before it reads the next one; it waits only when the raster it has read
// ahead, not yet coded, passes a bound.
//
// A page side can be recorded while it is written (its bytes from BeginPage
// to EndPage) and sent again later, for uncollated copies, without coding it
// again.  Sending stops at the next image boundary when the job is cancelled
// or the output has failed; the page is then closed at once.

struct BandPipelineConfig {
    ByteSink sink = nullptr;                   // where pages go (hdcWrite in a job)
    const JobSetting* settings = nullptr;      // the job's settings record
    uint32_t width = 0;                        // pixels per line (pixWid)
    uint32_t bytesPerPixel = 0;                // 3 colour, 1 gray
    uint32_t pageHeight = 0;                   // pixHt, a multiple of 8
    uint32_t resolution = 0;                   // image attribute
    int coderThreads = 0;                      // 0: QZ_CODER_THREADS or one per core
    size_t readAheadBytes = 0;                 // 0: the default bound
    const std::atomic<int>* cancel = nullptr;  // isTerminated
    // Test hook: a pause before each image of a copy (QZ_TEST_COPY_PAUSE_MS),
    // so that a test can cancel a copy while it is being sent.
    std::chrono::milliseconds copyImagePause{0};
};

class BandPipeline {
  public:
    explicit BandPipeline(const BandPipelineConfig& config);
    ~BandPipeline();
    BandPipeline(const BandPipeline&) = delete;
    BandPipeline& operator=(const BandPipeline&) = delete;

    // Starts the writer and the coders; false (reported) when a thread cannot
    // be made, std::bad_alloc without memory.  Nothing has been written then.
    bool start();
    // Writes everything queued and stops the threads.  A page left open (its
    // end could not be queued) is closed with the images written of it.
    void finish();
    // Waits until everything queued has been written.
    void waitWritten();

    // The items, in the order the printer gets them.  Each may throw
    // std::bad_alloc (nothing is queued then).
    void startPage(int recordSlot);
    // One band of 8 lines: bit d of `lineMask` is set when line d of the
    // band has ink.  With a mask, `lines` holds all 8 lines of `width x
    // bytesPerPixel` bytes each, the others white (best a buffer from
    // takeBuffer()); without, it is empty.  Waits while the raster read ahead
    // is over its bound.
    void band(uint32_t firstLine, uint8_t lineMask, std::vector<uint8_t> lines);
    // A buffer of one band's 8 lines (contents undefined), reused from bands
    // already coded when there is one.  Throws std::bad_alloc.
    std::vector<uint8_t> takeBuffer();
    // Ends the page: a partial last image is written as it is.
    void endPage();
    // Sends the page side kept in `slot` again as copy number `copy` (nothing
    // when there is none).
    void replay(int slot, int copy);
    // Releases the recordings of the slots from `firstSlot` to `lastSlot`.
    void forget(int firstSlot, int lastSlot);

    // True once a band, an image, a recording or the output has failed (each
    // reported where it happened).
    bool failed() const { return failed_.load(); }
    int coderThreads() const { return static_cast<int>(coders_.size()); }

  private:
    struct Item;
    struct Impl;
    void push(Item&& item);
    void coderLoop(StoppableThread* self);
    void writerLoop();
    void codeItem(Item& item, WicketSettings* settings, HuffmanState* coder,
                  std::vector<uint8_t>* pixels, std::vector<uint8_t>* planes);
    void writeItem(Item& item);
    void flushImage();
    void recycleImage();
    bool shouldStopReplay() const;

    BandPipelineConfig config_;
    std::unique_ptr<Impl> impl_;
    std::vector<std::unique_ptr<StoppableThread>> coders_;
    StoppableThread writer_;
    std::atomic<bool> failed_{false};
    bool announced_ = false;  // the pixels per page were written to the log
};
