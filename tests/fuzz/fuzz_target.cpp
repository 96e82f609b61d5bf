// libFuzzer target: printer answers to the status requests.
//   fuzz_status -max_total_time=60 [corpus folder]
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzStatusInput(data, size);
    return 0;
}
