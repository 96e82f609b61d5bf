// The page loop.
//
// The main thread reads each page's raster lines, packs every 8 of them into
// a band (white lines are not stored) and hands the bands, with the page's
// start and end, to the band pipeline (filter/bands.h): a pool of coder
// threads codes the bands in parallel and one writer thread writes the pages
// in order.  The loop never waits for a page to be written before it reads
// the next one, so pdftoraster can render the next page while this one is
// coded.  Uncollated copies are sent again from the coded bytes kept while a
// page side was first written (filter/copies.h).
#pragma once

#include <cups/raster.h>

#include <cstdint>

#include "filter/geometry.h"
#include "filter/rasterinput.h"
#include "printstream/pclxl.h"
#include "settings/record.h"

// Reverses in place the order of the `count`-byte units of `data` between the
// unit starting at byte `a` and the one starting at byte `b` (inclusive).
void implement_mirorr_on(uint8_t* data, uint32_t a, uint32_t b, uint32_t count);

struct PageLoopJob {
    RasterReader* raster = nullptr;
    cups_page_header2_t* header = nullptr;  // the current page's header, read ahead
    JobGeometry geometry;
    bool bannerJob = false;
    ByteSink sink = nullptr;  // where the pages are written (hdcWrite in a job)
    const JobSetting* settings = nullptr;  // the job's settings record
    int coderThreads = 0;     // 0: QZ_CODER_THREADS or one per core
};

struct PageLoopResult {
    int pages = 0;              // raster pages printed
    int copies = 0;             // page sides printed again as uncollated copies
    bool stoppedEarly = false;  // left with raster still unread (cancel, banner, failure)
    bool failed = false;        // the job could not be printed completely (reported)
};

// Runs the page loop from the first page, whose header has been read; every
// page it began is closed and all its output written when it returns.
PageLoopResult runPageLoop(PageLoopJob& job);
