// libFuzzer target: a CUPS raster stream as pdftoraster hands it over, through
// the filter's raster reader, the header checks and the job geometry, with
// every page's lines read as the page loop reads them.
//   fuzz_raster -max_total_time=60 seeds/raster
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.h"
#include "filter/geometry.h"
#include "filter/rasterinput.h"
#include "settings/jobsettings.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Most lines read per input, so a header claiming a huge page of a stream
// that compresses well cannot make one input run for minutes.
constexpr uint64_t kMaxLineBytes = uint64_t{2} << 20;

// libcups allocates and clears a line buffer as long as a header says (up to
// 2 GiB) before the filter gets to refuse the header; inputs whose first
// header asks for more than the filter ever reads are left out, so the run
// spends its time in the readers rather than in memset.
bool firstHeaderAsksTooMuch(const uint8_t* data, size_t size) {
    const size_t at = 4 + offsetof(cups_page_header2_t, cupsBytesPerLine);
    if (size < at + 4) return false;
    const bool bigEndian = data[0] == 'R';  // "RaS2", "RaS3", "RaSt"
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = bigEndian ? value << 8 | data[at + static_cast<size_t>(i)]
                          : value | uint32_t{data[at + static_cast<size_t>(i)]} << (8 * i);
    }
    return value > kMaxRasterLineBytes;
}

}  // namespace

// libcups allocates a line buffer as long as any later header says before the
// reader can refuse that header; under AddressSanitizer each such buffer is
// cleared page by page, and a run spent most of its time there (about 800
// inputs a second).  Allocations above 24 MiB fail instead (libFuzzer's own
// largest is 20 MiB; the reader's are below 1 MiB), which libcups reports as
// an unreadable header: the reader's failure path, at over 20 000 inputs a second.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=24:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (firstHeaderAsksTooMuch(data, size)) return 0;
    static const int memory = ::memfd_create("raster", 0);
    static const int quiet = [] {
        msgSetOutputFd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        return 0;
    }();
    (void)quiet;
    if (::ftruncate(memory, 0) != 0 ||
        ::pwrite(memory, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    ::lseek(memory, 0, SEEK_SET);

    CupsRasterReader raster(memory);
    cups_page_header2_t header{};
    std::vector<uint8_t> line;
    uint64_t lineBytes = 0;
    bool first = true;
    JobGeometry geometry;
    while (raster.readHeader(&header)) {
        std::string why;
        if (!normalizeRasterHeader(&header, &why)) {
            fuzzCheck(!why.empty());
            break;
        }
        fuzzCheck(header.cupsWidth > 0 && header.cupsWidth <= kMaxPixWid);
        fuzzCheck(header.cupsHeight > 0 && header.cupsHeight <= kMaxPixHt);
        fuzzCheck(header.cupsBytesPerLine <= kMaxRasterLineBytes);
        if (first) {
            JobSetting settings;
            settings.resolution = header.HWResolution[0];
            settings.mediaSizeKind = kMediaSizeEnumerated;
            if (computeJobGeometry(header, settings, &geometry, &why)) {
                fuzzCheck(geometry.pixWid % 16 == 0 && geometry.pixWid <= kMaxPixWid);
                fuzzCheck(geometry.pixHt % 8 == 0 && geometry.pixHt <= kMaxPixHt);
                fuzzCheck(geometry.lineBytes == geometry.pixWid * geometry.bytesPerPixel);
            } else {
                fuzzCheck(!why.empty());
            }
            first = false;
        }
        line.resize(header.cupsBytesPerLine);
        for (uint32_t i = 0; i < header.cupsHeight; ++i) {
            if (lineBytes > kMaxLineBytes) return 0;
            uint32_t n = raster.readPixels(line.data(), header.cupsBytesPerLine);
            if (n == 0) break;
            fuzzCheck(n == header.cupsBytesPerLine);
            lineBytes += n;
        }
        if (raster.end() != RasterEnd::kReading) break;
    }
    // However the stream ended, the reader says how, and a failure has a text.
    if (raster.end() != RasterEnd::kReading) {
        fuzzCheck(raster.end() != RasterEnd::kCancelled);
        fuzzCheck(!raster.endText().empty());
    }
    if (size == 0) fuzzCheck(raster.end() == RasterEnd::kNoData);
    return 0;
}
