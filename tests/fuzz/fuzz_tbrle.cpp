// libFuzzer target: the TBRLE decoder on hostile tag streams, and the
// encoder-decoder round trip on arbitrary tag planes.
//   fuzz_tbrle -max_total_time=60 seeds/tbrle
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "compress/tbrle.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t expected = in.take(2) % 4097;
    const uint32_t bytesPerLine = in.take(1) % 64;
    const uint32_t stride = bytesPerLine + in.take(1) % 8;
    const bool roundTrip = in.take(1) & 1;
    std::vector<uint8_t> stream(in.rest(), in.rest() + in.restSize());

    if (!roundTrip) {
        // Exactly the room the plane needs, so a write past it is a heap overflow.
        const uint64_t extent = tbrle_decoded_extent(expected, bytesPerLine, stride);
        std::vector<uint8_t> out(static_cast<size_t>(extent));
        uint32_t got = tbrle_decode(expected, out.data(), static_cast<uint32_t>(out.size()),
                                    static_cast<uint32_t>(stream.size()),
                                    stream.empty() ? nullptr : stream.data(), bytesPerLine, stride);
        fuzzCheck(got <= extent);
        return 0;
    }
    // The rest as one tag byte per pixel, whole groups of four.
    stream.resize(stream.size() / 4 * 4);
    const auto length = static_cast<uint32_t>(stream.size());
    std::vector<uint8_t> coded(tbrle_max_encoded_size(length));
    uint32_t codedLength = tbrle_encode(static_cast<uint32_t>(coded.size()), coded.data(), length,
                                        stream.empty() ? nullptr : stream.data());
    fuzzCheck(codedLength > 0 && codedLength <= coded.size());
    const uint32_t packed = length / 4;
    if (packed == 0) return 0;
    std::vector<uint8_t> plane(packed);
    fuzzCheck(tbrle_decode(packed, plane.data(), packed, codedLength, coded.data(), 0, 0) ==
              packed);
    // Each packed byte holds four 2-bit values; 0 repeats the pixel before.
    uint8_t previous = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (stream[i] != 0) {
            previous = stream[i] % 4;
            break;
        }
    }
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t value = stream[i] == 0 ? previous : static_cast<uint8_t>(stream[i] % 4);
        previous = value;
        fuzzCheck(((plane[i / 4] >> (2 * (i % 4))) & 3) == value);
    }
    return 0;
}
