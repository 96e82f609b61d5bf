// libFuzzer target: the band decoder (JPEG bands of one image, as the
// compressor writes them) on hostile streams.
//   fuzz_bands -max_total_time=60 seeds/bands
#include <cstddef>
#include <cstdint>
#include <vector>

#include "compress/huffman.h"
#include "compress/wicket.h"
#include "compress/wicketdecode.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t shape = in.take(1);
    const bool color = shape & 1;
    const bool withMap = shape & 2;
    const int32_t restart = static_cast<int32_t>((shape >> 2) & 7);
    const int32_t width = 16 * static_cast<int32_t>(1 + in.take(1) % 16);
    const int32_t lines = 8 * static_cast<int32_t>(1 + in.take(1) % 8);
    const int32_t blocks = (width / 8) * (lines / 8);
    std::vector<uint8_t> map;
    if (withMap) {
        for (int32_t i = 0; i < blocks; ++i)
            map.push_back(static_cast<uint8_t>(in.take(1) % 3));
    }
    std::vector<uint8_t> stream(in.rest(), in.rest() + in.restSize());

    // The coder builds its decoding tables on first use, which is the slow
    // part: one coder serves every input, reset to a fresh stream each time
    // (its code tables never change).
    static HuffmanState coder;
    static WicketSettings settings;
    static const bool built = [] {
        setHuffman(&coder);
        return initialize(&coder) == 0;
    }();
    fuzzCheck(built);
    setHuffman(&coder);
    const int32_t ready = 0;
    setWicket(&settings, &coder, &ready);
    setRestartInterval(restart, &settings);
    if (!color) setSampleType(SAMPLE_444, &settings);
    WicketDecodedPlanes planes;
    int32_t code = wicketDecodeStream(stream.empty() ? nullptr : stream.data(),
                                      static_cast<int32_t>(stream.size()), width, lines, color,
                                      withMap ? map.data() : nullptr, &planes, &settings, &coder);
    if (code == 0) {
        fuzzCheck(planes.components == (color ? 3 : 1));
        for (int c = 0; c < planes.components; ++c) {
            fuzzCheck(planes.coefficients[c].size() ==
                      static_cast<size_t>(planes.planeWidth[c]) *
                          static_cast<size_t>(planes.planeLines[c]));
        }
    }
    return 0;
}
