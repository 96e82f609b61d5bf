#include "tools/inspect/pngout.h"

#include <algorithm>
#include <vector>

#include <png.h>

#include <cstring>

namespace inspect {

// libpng's simplified API keeps its error handling (setjmp/longjmp) inside
// the library, so no jump crosses our C++ frames.
bool writePng(const std::string& path, const PageImage& image, std::string& message) {
    if (image.width == 0 || image.height == 0 || (image.channels != 1 && image.channels != 3) ||
        image.pixels.size() != size_t{image.width} * image.height * image.channels) {
        message = "no page image to write";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = image.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const auto stride =
        static_cast<png_int_32>(image.width * static_cast<uint32_t>(image.channels));
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), stride, nullptr)) {
        message = path + ": " + png.message;
        return false;
    }
    return true;
}

bool readPng(const std::string& path, PageImage& image, std::string& message) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        message = path + ": " + png.message;
        return false;
    }
    const bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
    png.format = color ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    image = PageImage{};
    image.width = png.width;
    image.height = png.height;
    image.channels = color ? 3 : 1;
    image.pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        message = path + ": " + png.message;
        png_image_free(&png);
        image = PageImage{};
        return false;
    }
    return true;
}

PageImage downscale(const PageImage& image, int factor) {
    if (factor <= 1 || image.width == 0 || image.height == 0) return image;
    const uint32_t f = static_cast<uint32_t>(factor);
    PageImage out;
    out.channels = image.channels;
    out.width = (image.width + f - 1) / f;
    out.height = (image.height + f - 1) / f;
    const size_t channels = static_cast<size_t>(image.channels);
    out.pixels.assign(size_t{out.width} * out.height * channels, 0);
    std::vector<uint32_t> sums(size_t{out.width} * channels);
    for (uint32_t oy = 0; oy < out.height; ++oy) {
        std::fill(sums.begin(), sums.end(), 0);
        const uint32_t y0 = oy * f, y1 = std::min(image.height, y0 + f);
        for (uint32_t y = y0; y < y1; ++y) {
            const uint8_t* row = image.pixels.data() + size_t{y} * image.width * channels;
            for (uint32_t x = 0; x < image.width; ++x) {
                for (size_t c = 0; c < channels; ++c)
                    sums[(x / f) * channels + c] += row[x * channels + c];
            }
        }
        for (uint32_t ox = 0; ox < out.width; ++ox) {
            const uint32_t boxW = std::min(image.width, (ox + 1) * f) - ox * f;
            const uint32_t count = boxW * (y1 - y0);
            for (size_t c = 0; c < channels; ++c) {
                out.pixels[(size_t{oy} * out.width + ox) * channels + c] =
                    static_cast<uint8_t>((sums[ox * channels + c] + count / 2) / count);
            }
        }
    }
    return out;
}

}  // namespace inspect
