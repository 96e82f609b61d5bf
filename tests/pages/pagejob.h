// Helpers for the whole-filter tests of pages, copies and duplex: run the
// built filter on a synthetic raster, read its job back with the inspector,
// and measure the printed pages against the raster and against libjpeg's own
// encoding of the same pixels.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness/filter_run.h"
#include "tests/harness/raster.h"
#include "tests/harness/tempdir.h"
#include "tools/inspect/inspect.h"
#include "tools/inspect/rastercmp.h"

namespace pagetest {

// A small page (400 x 300 at 300 dpi) for tests where the size does not matter.
harness::PageSpec smallPage(harness::Pattern pattern, bool color = true);

// The demo printer description with a mirroring option (ZemMirror) added.
std::string mirrorPpdText();

struct JobResult {
    harness::FilterRun run;
    inspect::InspectResult job;
    std::vector<inspect::PageImage> sides;  // every printed page side, decoded
    std::string rasterPath;                 // the raster the filter was served

    // Every inspector error and warning, one per line (empty when clean).
    std::string issues() const;
    // Lines of standard error that start with `prefix`.
    std::vector<std::string> errLines(const std::string& prefix) const;
};

// Runs the filter on `spec` (written to a file in `dir`) with the options
// in `o`: its arguments, PPD and environment; the minimal PPD when none is set.
// The job is inspected and, unless `keepSides` is false, every page side kept.
JobResult runJob(const harness::TempDir& dir, const harness::RasterSpec& spec,
                 harness::FilterRunOptions o = {}, bool keepSides = true);

// Options for runJob(): the filter's arguments for `copies` and `ticket`, and
// `env` added to its environment.
harness::FilterRunOptions withEnv(std::vector<std::pair<std::string, std::string>> env,
                                  const std::string& copies = "1", const std::string& ticket = "");

// How many lines of standard error start with `prefix`.
size_t countLines(const JobResult& r, const std::string& prefix);

// Every page the printer got was closed, and the session too, with every
// operator in sequence.  The inspector must find nothing at all unless
// `warningsAllowed` (a page cut before its first image is only a warning).
void expectClosedSession(const JobResult& r, bool warningsAllowed = false);

// PSNR in dB over the top-left width x height area of `printed` against
// `raster` (rows of width x channels samples); 99 for identical samples.
double psnrOverRaster(const inspect::PageImage& printed, const std::vector<uint8_t>& raster,
                      uint32_t width, uint32_t height, int channels);

// The same page through libjpeg: encoded at quality 100 (colour: YCbCr 4:2:2,
// luma sampled 2x1; gray: one component), decoded again (chroma upsampled by
// replication, as the inspector decodes the filter's bands), and measured
// against the raster.  With `sameConversion` a colour page is handed to
// libjpeg as the YCbCr planes of the filter's own conversion, so that the
// comparison measures the coding alone; otherwise libjpeg converts the RGB
// itself.
double libjpegReferencePsnr(const std::vector<uint8_t>& raster, uint32_t width, uint32_t height,
                            int channels, bool sameConversion = true);

// Names each printed side by what it shows: "P<n>" for the page marker n,
// "W" for a white side, "?" when neither can be read; joined with blanks.
std::string sideSequence(const std::vector<inspect::PageImage>& sides,
                         const harness::PageSpec& markerPage);

// The same names for a list of raster pages (0-based, inspect::kWhiteSide).
std::string sequenceText(const std::vector<int>& pages);

// Whether every sample of the image is at least `minimum`.
bool allAtLeast(const inspect::PageImage& image, uint8_t minimum);

}  // namespace pagetest
