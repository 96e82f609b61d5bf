// libFuzzer target: the job inspector's reader of printer jobs (PJL, the PCL
// XL stream, the JPEG and TBRLE blocks and the page assembly).
//   fuzz_inspect -max_total_time=60 seeds/inspect
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "tools/inspect/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> job(data, data + size);
    inspect::InspectOptions options;
    options.maxPagePixels = 1 << 20;
    options.maxIssues = 50;
    options.onPage = [](size_t, const inspect::PageInfo&, const inspect::PageImage& image) {
        fuzzCheck(image.pixels.size() ==
                  size_t{image.width} * image.height * static_cast<size_t>(image.channels));
    };
    inspect::InspectResult r = inspect::inspectJob(std::span<const uint8_t>(job), options);
    fuzzCheck(r.errors.size() + r.warnings.size() <= options.maxIssues);
    fuzzCheck(r.size == size);
    return 0;
}
