#include "compress/fdct.h"

#include <algorithm>
#include <cstddef>

#include "compress/fdct8.h"

int32_t fDCTransform(int32_t* plane, int32_t planeWidth, int32_t lines, const uint8_t* blockTypes,
                     int32_t capacity, int32_t* output) {
    if (plane == nullptr) return kFdctMissingArgument;
    if (capacity != 0 && output == nullptr) return kFdctMissingArgument;
    if (planeWidth <= 0 || lines <= 0 || planeWidth % 8 != 0 || lines % 8 != 0) {
        return kFdctSizeError;
    }
    const size_t values = static_cast<size_t>(planeWidth) * static_cast<size_t>(lines);
    int32_t* data = plane;
    if (output != nullptr) {
        if (static_cast<int64_t>(capacity) < static_cast<int64_t>(values) * 4) {
            return kFdctSizeError;
        }
        std::copy_n(plane, values, output);
        data = output;
    }

    const int32_t blocksPerRow = planeWidth / 8;
    const ptrdiff_t stride = planeWidth;

    // Pass 1 over every 8-sample row segment, line by line.
    for (int32_t y = 0; y < lines; ++y) {
        int32_t* line = data + static_cast<ptrdiff_t>(y) * stride;
        const uint8_t* types = blockTypes == nullptr
                                   ? nullptr
                                   : blockTypes + static_cast<ptrdiff_t>(y / 8) * blocksPerRow;
        for (int32_t bx = 0; bx < blocksPerRow; ++bx) {
            int32_t* segment = line + 8 * bx;
            if (types != nullptr && types[bx] == 0) {
                // Blank block: only the top line keeps a DC, white when the
                // block's first sample is set.
                const int32_t dc = (y % 8 == 0 && segment[0] != 0) ? kFdctWhiteDC : 0;
                std::fill_n(segment, 8, 0);
                segment[0] = dc;
                continue;
            }
            qzfdct::rowPass(segment);
        }
    }

    // Pass 2 over the eight columns of every block.
    for (int32_t by = 0; by < lines / 8; ++by) {
        int32_t* blockRow = data + static_cast<ptrdiff_t>(by) * 8 * stride;
        const uint8_t* types = blockTypes == nullptr
                                   ? nullptr
                                   : blockTypes + static_cast<ptrdiff_t>(by) * blocksPerRow;
        for (int32_t bx = 0; bx < blocksPerRow; ++bx) {
            if (types != nullptr && types[bx] == 0) continue;
            int32_t* block = blockRow + 8 * bx;
            for (int u = 0; u < 8; ++u)
                qzfdct::columnPass(block + u, stride);
        }
    }
    return 0;
}
