#include "compress/downsample.h"

#include <cstddef>

#include "compress/wicket.h"

SamplingRule samplingRuleFor(int32_t sampleType) {
    switch (sampleType) {
        case SAMPLE_420:
            return {2, 2, 16, 16};
        case SAMPLE_422:
            return {2, 1, 16, 8};
        default:
            return {1, 1, 8, 8};
    }
}

int32_t downSampleInt(int32_t width, int32_t pixels, const uint8_t* source, int32_t sampleType,
                      int32_t capacity, int32_t* destination) {
    if (source == nullptr || destination == nullptr) return kDownsampleMissingArgument;
    if (width <= 0 || pixels <= 0) return kDownsampleSizeError;
    const SamplingRule rule = samplingRuleFor(sampleType);
    const int32_t lines = pixels / width;
    const int32_t outWidth = width / rule.horizontal;
    const int64_t outValues = int64_t{outWidth} * (lines / rule.vertical);
    const int64_t outBytes = outValues * 4;

    // The planes are distinct buffers; an overlap would read converted values.
    const auto src = reinterpret_cast<uintptr_t>(source);
    const auto dst = reinterpret_cast<uintptr_t>(destination);
    if (src < dst + static_cast<uint64_t>(outBytes) && dst < src + static_cast<uint64_t>(pixels)) {
        return kDownsampleMissingArgument;
    }
    if (outBytes > capacity) return kDownsampleSizeError;
    if (width % rule.widthMultiple != 0 || lines % rule.linesMultiple != 0) {
        return kDownsampleSizeError;
    }

    const size_t w = static_cast<size_t>(width);
    if (rule.horizontal == 1) {
        // 4:4:4: 4 x (s - 128).
        const size_t n = w * static_cast<size_t>(lines);
        for (size_t i = 0; i < n; ++i)
            destination[i] = 4 * source[i] - 512;
    } else if (rule.vertical == 1) {
        // 4:2:2: (a + b - 255) >> 1, an arithmetic shift, equals
        // floor((a + b + 1) / 2) - 128: the average rounded half up, level-shifted.
        int32_t* out = destination;
        for (int32_t y = 0; y < lines; ++y) {
            const uint8_t* line = source + static_cast<size_t>(y) * w;
            for (int32_t x = 0; x < outWidth; ++x) {
                *out++ = 4 * ((line[2 * x] + line[2 * x + 1] - 255) >> 1);
            }
        }
    } else {
        // 4:2:0: (a + b + c + d - 510) >> 2 = floor((a + b + c + d + 2) / 4) - 128.
        int32_t* out = destination;
        for (int32_t y = 0; y + 1 < lines; y += 2) {
            const uint8_t* upper = source + static_cast<size_t>(y) * w;
            const uint8_t* lower = upper + w;
            for (int32_t x = 0; x < outWidth; ++x) {
                *out++ =
                    4 *
                    ((upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1] - 510) >>
                     2);
            }
        }
    }
    return 0;
}
