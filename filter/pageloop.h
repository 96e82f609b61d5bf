// The page loop and the image thread.
//
// The main thread opens each PCL XL page, reads the page's raster lines,
// packs every 8 of them into a raster block and hands the block through the
// ring imageLineBlockBuffer to the image thread, which converts it to YCbCr
// planes (colour jobs) and passes it to the band output.  When the image
// thread has sent the page's last band the main thread closes the page.
#pragma once

#include <cups/raster.h>

#include <atomic>
#include <cstdint>

#include "filter/geometry.h"
#include "filter/rasterinput.h"
#include "printstream/pclxl.h"

// 1 while the image thread is idle: cleared before it takes a block's head out
// of the ring and set again once the block has gone through the band output.
extern std::atomic<uint8_t> gBlockProcessingCompleted;

// Image thread entry; `runFlag` is imageProcessorContext.  Returns 0.
int process_image_thread(std::atomic<uint8_t>* runFlag);

// Reverses in place the order of the `count`-byte units of `data` between the
// unit starting at byte `a` and the one starting at byte `b` (inclusive).
void implement_mirorr_on(uint8_t* data, uint32_t a, uint32_t b, uint32_t count);

struct PageLoopJob {
    RasterReader* raster = nullptr;
    cups_page_header2_t* header = nullptr;  // the current page's header, read ahead
    JobGeometry geometry;
    bool bannerJob = false;
    ByteSink sink = nullptr;  // where start_page / end_page write (hdcWrite in a job)
};

struct PageLoopResult {
    int pages = 0;              // raster pages printed
    int copies = 0;             // page sides printed again as uncollated copies
    bool stoppedEarly = false;  // left with raster still unread (cancel, banner, failure)
    bool failed = false;        // the job could not be printed completely (reported)
};

// Runs the page loop from the first page, whose header has been read, and
// stops the image thread at the end.
PageLoopResult runPageLoop(PageLoopJob& job);
