// Synthetic CUPS raster: page content, stream writer and reader.
#include "tests/harness/raster.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace harness {
namespace {

// A small avalanche hash (the finaliser of MurmurHash3) over four words; every
// pseudo-random choice in the patterns comes from it, so pages are repeatable.
uint32_t mix(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t h = a * 0x9E3779B1u;
    for (uint32_t v : {b, c, d}) {
        h ^= v + 0x7F4A7C15u + (h << 6) + (h >> 2);
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        h ^= h >> 16;
    }
    return h;
}

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kTextBlue{16, 48, 192};
constexpr std::array<Rgb, 8> kBars{{{255, 255, 255},
                                    {255, 255, 0},
                                    {0, 255, 255},
                                    {0, 255, 0},
                                    {255, 0, 255},
                                    {255, 0, 0},
                                    {0, 0, 255},
                                    {0, 0, 0}}};

unsigned channelsOf(const PageSpec& page) {
    if (page.bitsPerColor == 0) return 1;
    return std::max(1u, page.bitsPerPixel / page.bitsPerColor);
}

// --- Seven-segment page marker -------------------------------------------
//
// Three digits, each 5t wide and 9t tall with strokes t thick, 7t apart, on a
// white box with a t-wide border; the box sits 2t from the top-left corner.
// t grows with the page but stays near 1/16 inch, so the figure is easy to
// read on paper and survives lossy compression.
constexpr unsigned kMarkerDigits = 3;

// Segments a..g as bits 0..6 for the digits 0..9.
constexpr std::array<uint8_t, 10> kSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                            0x6D, 0x7D, 0x07, 0x7F, 0x6F};

unsigned markerUnit(const PageSpec& page) {
    unsigned t = std::min(std::min(page.width, page.height) / 64, page.resY / 16);
    t = std::max(t, 2u);
    // The box (22t x 11t) plus its 2t offset must fit on the page.
    if (24 * t > page.width || 13 * t > page.height) return 0;
    return t;
}

// Segment rectangles in units of t, relative to the digit's top-left corner:
// x0, y0, x1, y1 (exclusive).
constexpr std::array<std::array<uint8_t, 4>, 7> kSegmentBox{{
    {0, 0, 5, 1},  // a: top
    {4, 0, 5, 5},  // b: upper right
    {4, 4, 5, 9},  // c: lower right
    {0, 8, 5, 9},  // d: bottom
    {0, 4, 1, 9},  // e: lower left
    {0, 0, 1, 5},  // f: upper left
    {0, 4, 5, 5},  // g: middle
}};

// Sample points (in half units of t) in the middle of each segment, chosen so
// that no other segment covers them.
constexpr std::array<std::array<uint8_t, 2>, 7> kSegmentProbe{
    {{5, 1}, {9, 5}, {9, 13}, {5, 17}, {1, 13}, {1, 5}, {5, 9}}};

// Draws the marker's part of line y into rgb (width pixels).
void drawMarker(const PageSpec& page, int pageNumber, unsigned y, Rgb* rgb) {
    const unsigned t = markerUnit(page);
    if (t == 0) return;
    const unsigned boxX = 2 * t, boxY = 2 * t;
    if (y < boxY || y >= boxY + 11 * t) return;
    const unsigned boxRight = boxX + kMarkerDigits * 7 * t + t;
    for (unsigned x = boxX; x < boxRight; ++x)
        rgb[x] = kWhite;
    const unsigned dy = y - boxY - t;  // row inside the digit cell
    if (y < boxY + t || dy >= 9 * t) return;
    unsigned value = static_cast<unsigned>(pageNumber) % 1000;
    for (unsigned k = 0; k < kMarkerDigits; ++k) {
        unsigned digit = value;
        for (unsigned j = k + 1; j < kMarkerDigits; ++j)
            digit /= 10;
        digit %= 10;
        const unsigned left = boxX + t + 7 * t * k;
        for (unsigned s = 0; s < 7; ++s) {
            if (!(kSegments[digit] & (1u << s))) continue;
            const auto& box = kSegmentBox[s];
            if (dy < box[1] * t || dy >= box[3] * t) continue;
            for (unsigned x = left + box[0] * t; x < left + box[2] * t; ++x)
                rgb[x] = kBlack;
        }
    }
}

// --- Patterns ----------------------------------------------------------------

void textLine(const PageSpec& page, int pageNumber, unsigned y, Rgb* rgb) {
    // Half-inch margins (less on small pages), 12 pt line pitch, glyph cells
    // of 1/12 inch: roughly the density of a typed page.
    const unsigned marginX = std::min(page.resX / 2, page.width / 8);
    const unsigned marginY = std::min(page.resY / 2, page.height / 8);
    const unsigned pitch = std::max(6u, page.resY / 6);
    const unsigned cell = std::max(3u, page.resX / 12);
    const unsigned glyphTop = pitch / 5, glyphHeight = pitch * 3 / 5;
    const unsigned stroke = std::max(1u, page.resX / 100);
    if (y < marginY || y >= page.height - marginY) return;
    const unsigned line = (y - marginY) / pitch;
    const unsigned row = (y - marginY) % pitch;
    if (row < glyphTop || row >= glyphTop + glyphHeight) return;
    if (line % 9 == 8) return;  // paragraph gap
    const unsigned gy = row - glyphTop;
    const unsigned textWidth = page.width - 2 * marginX;
    const unsigned cells = textWidth / cell;
    // Ragged right edge: each line fills 60 % to 100 % of the measure.
    const unsigned used = cells * (60 + mix(page.seed, pageNumber, line, 0xABCD) % 41) / 100;
    const Rgb ink = (line % 7 == 3) ? kTextBlue : kBlack;
    const unsigned glyphWidth = cell - std::max(1u, cell / 4);
    for (unsigned c = 0; c < used; ++c) {
        const uint32_t h = mix(page.seed, pageNumber, line, c);
        if (h % 6 == 0) continue;  // a space
        unsigned strokes = (h >> 3) & 0x3F;
        if (strokes == 0) strokes = 1;
        const unsigned x0 = marginX + c * cell;
        const bool horizontalRow =
            ((strokes & 4) && gy < stroke) ||
            ((strokes & 8) && gy >= glyphHeight / 2 && gy < glyphHeight / 2 + stroke) ||
            ((strokes & 16) && gy + stroke >= glyphHeight);
        if (horizontalRow) {
            for (unsigned x = x0; x < x0 + glyphWidth; ++x)
                rgb[x] = ink;
            continue;
        }
        if (strokes & 1)
            for (unsigned x = x0; x < x0 + stroke; ++x)
                rgb[x] = ink;
        if (strokes & 2)
            for (unsigned x = x0 + glyphWidth - stroke; x < x0 + glyphWidth; ++x)
                rgb[x] = ink;
        if (strokes & 32)
            for (unsigned x = x0 + glyphWidth / 2; x < x0 + glyphWidth / 2 + stroke; ++x)
                rgb[x] = ink;
    }
}

void photoLine(const PageSpec& page, int pageNumber, unsigned y, Rgb* rgb) {
    // Value noise: random values on a coarse lattice, bilinearly interpolated
    // (weights in 1/cell steps, integer arithmetic throughout).
    const unsigned cell = std::max(8u, std::min(page.width, page.height) / 12);
    const unsigned j = y / cell, fy = y % cell;
    const uint32_t seed = page.seed * 1000003u + static_cast<uint32_t>(pageNumber);
    for (unsigned x = 0; x < page.width; ++x) {
        const unsigned i = x / cell, fx = x % cell;
        uint8_t out[3];
        for (unsigned c = 0; c < 3; ++c) {
            const uint32_t v00 = mix(seed, i, j, c) & 0xFF, v10 = mix(seed, i + 1, j, c) & 0xFF;
            const uint32_t v01 = mix(seed, i, j + 1, c) & 0xFF,
                           v11 = mix(seed, i + 1, j + 1, c) & 0xFF;
            const uint32_t top = v00 * (cell - fx) + v10 * fx;
            const uint32_t bottom = v01 * (cell - fx) + v11 * fx;
            out[c] = static_cast<uint8_t>((top * (cell - fy) + bottom * fy) / (cell * cell));
        }
        rgb[x] = {out[0], out[1], out[2]};
    }
}

void rgbLine(const PageSpec& page, int pageNumber, unsigned y, std::vector<Rgb>& rgb) {
    rgb.assign(page.width, kWhite);
    const unsigned w = page.width, h = page.height;
    switch (page.pattern) {
        case Pattern::White:
            break;
        case Pattern::Solid:
            std::fill(rgb.begin(), rgb.end(),
                      Rgb{static_cast<uint8_t>(page.color >> 16),
                          static_cast<uint8_t>(page.color >> 8), static_cast<uint8_t>(page.color)});
            break;
        case Pattern::Gradient: {
            const uint8_t g = h > 1 ? static_cast<uint8_t>(y * 255 / (h - 1)) : 0;
            for (unsigned x = 0; x < w; ++x) {
                const uint8_t r = w > 1 ? static_cast<uint8_t>(x * 255 / (w - 1)) : 0;
                rgb[x] = {r, g, static_cast<uint8_t>(255 - r)};
            }
            break;
        }
        case Pattern::Text:
            textLine(page, pageNumber, y, rgb.data());
            break;
        case Pattern::Photo:
            photoLine(page, pageNumber, y, rgb.data());
            break;
        case Pattern::Noise:
            for (unsigned x = 0; x < w; ++x) {
                const uint32_t v = mix(page.seed, pageNumber, y, x);
                rgb[x] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16)};
            }
            break;
        case Pattern::Stripes:
            for (unsigned x = 0; x < w; ++x)
                rgb[x] = kBars[static_cast<size_t>(x) * 8 / w];
            break;
    }
    if (page.pageMarker) drawMarker(page, pageNumber, y, rgb.data());
}

// Colour samples of one pixel in the page's colour space (8 bits each).
unsigned convertPixel(unsigned colorSpace, Rgb p, uint8_t out[4]) {
    // Luma with weights 77/150/29 (sum 256), close to ITU-R BT.601.
    const uint8_t gray = static_cast<uint8_t>((p.r * 77 + p.g * 150 + p.b * 29) >> 8);
    switch (colorSpace) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_SW:
            out[0] = gray;
            return 1;
        case CUPS_CSPACE_K:
            out[0] = static_cast<uint8_t>(255 - gray);
            return 1;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_ADOBERGB:
            out[0] = p.r, out[1] = p.g, out[2] = p.b;
            return 3;
        case CUPS_CSPACE_RGBA:
        case CUPS_CSPACE_RGBW:
            out[0] = p.r, out[1] = p.g, out[2] = p.b, out[3] = 255;
            return 4;
        case CUPS_CSPACE_CMY:
            out[0] = static_cast<uint8_t>(255 - p.r), out[1] = static_cast<uint8_t>(255 - p.g);
            out[2] = static_cast<uint8_t>(255 - p.b);
            return 3;
        case CUPS_CSPACE_CMYK: {
            const uint8_t k = static_cast<uint8_t>(255 - std::max({p.r, p.g, p.b}));
            out[0] = static_cast<uint8_t>(255 - p.r - k),
            out[1] = static_cast<uint8_t>(255 - p.g - k);
            out[2] = static_cast<uint8_t>(255 - p.b - k), out[3] = k;
            return 4;
        }
        default:
            out[0] = gray;
            return 1;
    }
}

// Packs the samples of one line as the header describes: chunked order,
// `channels` samples per pixel of bitsPerColor bits, most significant first.
std::vector<uint8_t> packLine(const PageSpec& page, const std::vector<Rgb>& rgb) {
    const unsigned bpl = bytesPerLine(page);
    const unsigned channels = channelsOf(page);
    std::vector<uint8_t> samples;
    samples.reserve(static_cast<size_t>(page.width) * channels);
    for (const Rgb& p : rgb) {
        uint8_t s[4];
        const unsigned n = convertPixel(page.colorSpace, p, s);
        for (unsigned c = 0; c < channels; ++c)
            samples.push_back(s[std::min(c, n - 1)]);
    }
    std::vector<uint8_t> line(bpl, 0);
    const unsigned bits = page.bitsPerColor;
    if (bits == 8) {
        std::copy_n(samples.begin(), std::min<size_t>(samples.size(), bpl), line.begin());
    } else if (bits == 16) {
        // 16-bit samples go in the writer's byte order; v * 257 maps 0..255 onto 0..65535.
        for (size_t i = 0; i < samples.size() && 2 * i + 1 < bpl; ++i) {
            const uint16_t v = static_cast<uint16_t>(samples[i] * 257);
            std::memcpy(&line[2 * i], &v, 2);
        }
    } else if (bits == 1 || bits == 2 || bits == 4) {
        for (size_t i = 0; i < samples.size(); ++i) {
            const size_t bit = i * bits;
            if (bit / 8 >= bpl) break;
            const unsigned v = samples[i] >> (8 - bits);
            line[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
        }
    } else {
        // Depths the format does not know: the 8-bit samples, repeated.
        for (size_t i = 0; i < bpl && !samples.empty(); ++i)
            line[i] = samples[i % samples.size()];
    }
    return line;
}

// Where the stream stops on page `pageNumber`: its line count, or the cut.
unsigned linesFor(const RasterSpec& spec, int pageNumber) {
    const PageSpec& page = spec.pages.at(static_cast<size_t>(pageNumber - 1));
    if (!spec.endMidPage) return page.height;
    if (pageNumber < spec.endMidPage->page) return page.height;
    if (pageNumber == spec.endMidPage->page) return std::min(spec.endMidPage->line, page.height);
    return 0;
}

struct SinkContext {
    const RasterSink* sink;
    bool failed = false;
};

ssize_t sinkWrite(void* ctx, unsigned char* data, size_t length) {
    auto* c = static_cast<SinkContext*>(ctx);
    if (c->failed || !(*c->sink)(data, length)) {
        c->failed = true;
        return -1;
    }
    return static_cast<ssize_t>(length);
}

struct SourceContext {
    const std::vector<uint8_t>* bytes;
    size_t pos = 0;
};

ssize_t sourceRead(void* ctx, unsigned char* data, size_t length) {
    auto* c = static_cast<SourceContext*>(ctx);
    const size_t n = std::min(length, c->bytes->size() - c->pos);
    std::memcpy(data, c->bytes->data() + c->pos, n);
    c->pos += n;
    return static_cast<ssize_t>(n);
}

struct RasterCloser {
    void operator()(cups_raster_t* r) const noexcept { cupsRasterClose(r); }
};
using RasterPtr = std::unique_ptr<cups_raster_t, RasterCloser>;

bool writeRawV3(const RasterSpec& spec, const RasterSink& sink) {
    const uint32_t sync = CUPS_RASTER_SYNC;  // native byte order, as libcupsimage writes it
    if (!sink(reinterpret_cast<const uint8_t*>(&sync), sizeof sync)) return false;
    for (size_t i = 0; i < spec.pages.size(); ++i) {
        const int pageNumber = static_cast<int>(i) + 1;
        if (spec.endMidPage && pageNumber > spec.endMidPage->page) break;
        const cups_page_header2_t header = makeHeader(spec.pages[i]);
        if (!sink(reinterpret_cast<const uint8_t*>(&header), sizeof header)) return false;
        const unsigned lines = linesFor(spec, pageNumber);
        for (unsigned y = 0; y < lines; ++y) {
            const std::vector<uint8_t> line = expectedLine(spec.pages[i], pageNumber, y);
            if (!sink(line.data(), line.size())) return false;
        }
    }
    return true;
}

Pattern patternFromName(const std::string& name, bool* ok) {
    static const std::pair<const char*, Pattern> kNames[] = {
        {"white", Pattern::White},    {"solid", Pattern::Solid}, {"gradient", Pattern::Gradient},
        {"text", Pattern::Text},      {"photo", Pattern::Photo}, {"noise", Pattern::Noise},
        {"stripes", Pattern::Stripes}};
    for (const auto& [n, p] : kNames) {
        if (name == n) {
            *ok = true;
            return p;
        }
    }
    *ok = false;
    return Pattern::White;
}

bool parseUnsigned(const std::string& text, unsigned* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFul || text[0] == '-') return false;
    *value = static_cast<unsigned>(v);
    return true;
}

// "a,b[,c,d]" into exactly `count` unsigned values.
bool parseList(const std::string& text, unsigned* values, size_t count) {
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t comma = text.find(',', start);
        if ((comma == std::string::npos) != (i + 1 == count)) return false;
        if (!parseUnsigned(text.substr(start, comma - start), &values[i])) return false;
        start = comma + 1;
    }
    return true;
}

bool parseBool(const std::string& text, bool* value) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") {
        *value = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "no" || text == "off") {
        *value = false;
        return true;
    }
    return false;
}

}  // namespace

RasterSpec RasterSpec::uniform(const PageSpec& page, int count) {
    RasterSpec spec;
    spec.pages.assign(static_cast<size_t>(std::max(count, 0)), page);
    return spec;
}

unsigned bytesPerLine(const PageSpec& page) {
    if (page.bytesPerLine != 0) return page.bytesPerLine;
    return static_cast<unsigned>((static_cast<uint64_t>(page.width) * page.bitsPerPixel + 7) / 8);
}

cups_page_header2_t makeHeader(const PageSpec& page) {
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.cupsWidth = page.width;
    h.cupsHeight = page.height;
    h.HWResolution[0] = page.resX;
    h.HWResolution[1] = page.resY;
    h.cupsBitsPerColor = page.bitsPerColor;
    h.cupsBitsPerPixel = page.bitsPerPixel;
    h.cupsBytesPerLine = bytesPerLine(page);
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = static_cast<cups_cspace_t>(page.colorSpace);
    h.cupsNumColors = channelsOf(page);
    h.Duplex = page.duplex ? CUPS_TRUE : CUPS_FALSE;
    h.Tumble = page.tumble ? CUPS_TRUE : CUPS_FALSE;
    h.Collate = page.collate ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = page.numCopies;
    h.MediaPosition = page.mediaPosition;
    h.cupsRowStep = page.rowStep;
    h.MirrorPrint = page.mirrorPrint ? CUPS_TRUE : CUPS_FALSE;
    h.Margins[0] = page.margins[0];
    h.Margins[1] = page.margins[1];
    // PageSize from the pixel size when not given: points = pixels * 72 / dpi, rounded.
    if (page.pageSize[0] == 0 && page.pageSize[1] == 0) {
        h.PageSize[0] = page.resX ? (page.width * 72 + page.resX / 2) / page.resX : 0;
        h.PageSize[1] = page.resY ? (page.height * 72 + page.resY / 2) / page.resY : 0;
    } else {
        h.PageSize[0] = page.pageSize[0];
        h.PageSize[1] = page.pageSize[1];
    }
    const bool noBox = std::all_of(std::begin(page.imagingBox), std::end(page.imagingBox),
                                   [](unsigned v) { return v == 0; });
    if (noBox) {
        h.ImagingBoundingBox[2] = h.PageSize[0];
        h.ImagingBoundingBox[3] = h.PageSize[1];
    } else {
        std::copy(std::begin(page.imagingBox), std::end(page.imagingBox), h.ImagingBoundingBox);
    }
    h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
    h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
    for (int i = 0; i < 4; ++i)
        h.cupsImagingBBox[i] = static_cast<float>(h.ImagingBoundingBox[i]);
    std::snprintf(h.MediaType, sizeof h.MediaType, "%s", page.mediaType.c_str());
    std::snprintf(h.OutputType, sizeof h.OutputType, "%s", page.outputType.c_str());
    std::snprintf(h.cupsPageSizeName, sizeof h.cupsPageSizeName, "%s", page.pageSizeName.c_str());
    if (page.adjustHeader) page.adjustHeader(h);
    return h;
}

std::vector<uint8_t> expectedLine(const PageSpec& page, int pageNumber, unsigned y) {
    std::vector<Rgb> rgb;
    rgbLine(page, pageNumber, y, rgb);
    return packLine(page, rgb);
}

std::vector<uint8_t> expectedPagePixels(const RasterSpec& spec, int pageNumber) {
    const PageSpec& page = spec.pages.at(static_cast<size_t>(pageNumber - 1));
    const unsigned bpl = bytesPerLine(page);
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<size_t>(bpl) * page.height);
    for (unsigned y = 0; y < page.height; ++y) {
        const std::vector<uint8_t> line = expectedLine(page, pageNumber, y);
        pixels.insert(pixels.end(), line.begin(), line.end());
    }
    return pixels;
}

unsigned linesWritten(const RasterSpec& spec, int pageNumber) {
    if (pageNumber < 1 || static_cast<size_t>(pageNumber) > spec.pages.size()) return 0;
    return linesFor(spec, pageNumber);
}

bool writeRaster(const RasterSpec& spec, const RasterSink& sink) {
    if (spec.format == RasterFormat::RawV3) return writeRawV3(spec, sink);
    cups_mode_t mode = CUPS_RASTER_WRITE;
    if (spec.format == RasterFormat::Compressed) mode = CUPS_RASTER_WRITE_COMPRESSED;
    if (spec.format == RasterFormat::Pwg) mode = CUPS_RASTER_WRITE_PWG;
    SinkContext ctx{&sink};
    RasterPtr raster(cupsRasterOpenIO(sinkWrite, &ctx, mode));
    if (!raster) return false;
    for (size_t i = 0; i < spec.pages.size(); ++i) {
        const int pageNumber = static_cast<int>(i) + 1;
        if (spec.endMidPage && pageNumber > spec.endMidPage->page) break;
        cups_page_header2_t header = makeHeader(spec.pages[i]);
        // libcupsimage 2.4 divides by the bytes per pixel when it writes
        // pixels, so a zero depth or width would crash the writer.
        if (header.cupsBitsPerPixel == 0 || header.cupsBytesPerLine == 0) return false;
        if (!cupsRasterWriteHeader2(raster.get(), &header)) return false;
        const unsigned lines = linesFor(spec, pageNumber);
        for (unsigned y = 0; y < lines; ++y) {
            std::vector<uint8_t> line = expectedLine(spec.pages[i], pageNumber, y);
            const auto length = static_cast<unsigned>(line.size());
            if (cupsRasterWritePixels(raster.get(), line.data(), length) != length) return false;
        }
    }
    raster.reset();  // flushes
    return !ctx.failed;
}

bool writeRaster(const RasterSpec& spec, int fd) {
    return writeRaster(spec, [fd](const uint8_t* data, size_t length) {
        while (length > 0) {
            const ssize_t n = ::write(fd, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    });
}

bool writeRaster(const RasterSpec& spec, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = writeRaster(spec, fd);
    return (::close(fd) == 0) && ok;
}

std::vector<uint8_t> rasterBytes(const RasterSpec& spec) {
    std::vector<uint8_t> bytes;
    const bool ok = writeRaster(spec, [&bytes](const uint8_t* data, size_t length) {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    });
    if (!ok) bytes.clear();
    return bytes;
}

RasterDump readRaster(const std::vector<uint8_t>& bytes) {
    RasterDump dump;
    if (bytes.size() >= 4) {
        dump.syncWord = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                        static_cast<uint32_t>(bytes[2]) << 16 |
                        static_cast<uint32_t>(bytes[3]) << 24;
    }
    SourceContext ctx{&bytes};
    RasterPtr raster(cupsRasterOpenIO(sourceRead, &ctx, CUPS_RASTER_READ));
    if (!raster) return dump;
    dump.opened = true;
    RasterDump::Page page;
    while (cupsRasterReadHeader2(raster.get(), &page.header)) {
        const unsigned bpl = page.header.cupsBytesPerLine;
        page.pixels.assign(static_cast<size_t>(bpl) * page.header.cupsHeight, 0);
        page.linesRead = 0;
        bool complete = true;
        for (unsigned y = 0; y < page.header.cupsHeight; ++y) {
            if (cupsRasterReadPixels(
                    raster.get(), page.pixels.data() + static_cast<size_t>(y) * bpl, bpl) != bpl) {
                complete = false;
                break;
            }
            ++page.linesRead;
        }
        page.pixels.resize(static_cast<size_t>(bpl) * page.linesRead);
        dump.pages.push_back(std::move(page));
        page = RasterDump::Page{};
        if (!complete) break;
    }
    return dump;
}

std::optional<RasterDump> readRasterFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return readRaster(bytes);
}

int readPageMarker(const PageSpec& page, const uint8_t* pixels, unsigned stride, unsigned rows,
                   unsigned channels) {
    const unsigned t = markerUnit(page);
    if (t == 0 || channels == 0 || rows < 13 * t || stride < 24 * t) return -1;
    auto dark = [&](unsigned x, unsigned y) {
        const uint8_t* p = pixels + (static_cast<size_t>(y) * stride + x) * channels;
        unsigned sum = 0;
        for (unsigned c = 0; c < channels; ++c)
            sum += p[c];
        return sum < 128 * channels;
    };
    int value = 0;
    for (unsigned k = 0; k < kMarkerDigits; ++k) {
        const unsigned left = 3 * t + 7 * t * k, top = 3 * t;
        // The hole of every digit (between the upper segments) is white.
        if (dark(left + 5 * t / 2, top + 5 * t / 2)) return -1;
        uint8_t segments = 0;
        for (unsigned s = 0; s < 7; ++s) {
            if (dark(left + kSegmentProbe[s][0] * t / 2, top + kSegmentProbe[s][1] * t / 2))
                segments |= static_cast<uint8_t>(1u << s);
        }
        const auto it = std::find(kSegments.begin(), kSegments.end(), segments);
        if (it == kSegments.end()) return -1;
        value = value * 10 + static_cast<int>(it - kSegments.begin());
    }
    return value;
}

const char* pageOptionHelp() {
    return "  width=N height=N          cupsWidth, cupsHeight in pixels\n"
           "  res=N resx=N resy=N       HWResolution\n"
           "  color=NAME|N              w gray rgb srgb sgray k cmy cmyk rgba, or a number;\n"
           "                            also sets bpp to bpc x colours\n"
           "  bpc=N bpp=N bpl=N         cupsBitsPerColor, cupsBitsPerPixel, cupsBytesPerLine\n"
           "  duplex=B tumble=B collate=B mirror=B   (B: 1/0, true/false, yes/no, on/off)\n"
           "  copies=N                  NumCopies\n"
           "  mediatype=T outputtype=T  MediaType, OutputType\n"
           "  pagesizename=T            cupsPageSizeName\n"
           "  mediaposition=N rowstep=N MediaPosition, cupsRowStep\n"
           "  margins=L,B pagesize=W,H bbox=L,B,R,T   in points\n"
           "  pattern=NAME              white solid gradient text photo noise stripes\n"
           "  solid=RRGGBB              colour of the solid pattern (hex)\n"
           "  seed=N marker=B           pattern seed; draw the page number\n";
}

std::string applyPageOption(PageSpec& page, const std::string& key, const std::string& value) {
    auto bad = [&] { return "bad value '" + value + "' for " + key; };
    unsigned n = 0;
    bool b = false;
    if (key == "width" || key == "height" || key == "res" || key == "resx" || key == "resy" ||
        key == "bpc" || key == "bpp" || key == "bpl" || key == "copies" || key == "mediaposition" ||
        key == "rowstep" || key == "seed") {
        if (!parseUnsigned(value, &n)) return bad();
        if (key == "width") page.width = n;
        if (key == "height") page.height = n;
        if (key == "res") page.resX = page.resY = n;
        if (key == "resx") page.resX = n;
        if (key == "resy") page.resY = n;
        if (key == "bpc") page.bitsPerColor = n;
        if (key == "bpp") page.bitsPerPixel = n;
        if (key == "bpl") page.bytesPerLine = n;
        if (key == "copies") page.numCopies = n;
        if (key == "mediaposition") page.mediaPosition = n;
        if (key == "rowstep") page.rowStep = n;
        if (key == "seed") page.seed = n;
        return {};
    }
    if (key == "duplex" || key == "tumble" || key == "collate" || key == "mirror" ||
        key == "marker") {
        if (!parseBool(value, &b)) return bad();
        if (key == "duplex") page.duplex = b;
        if (key == "tumble") page.tumble = b;
        if (key == "collate") page.collate = b;
        if (key == "mirror") page.mirrorPrint = b;
        if (key == "marker") page.pageMarker = b;
        return {};
    }
    if (key == "color") {
        static const std::pair<const char*, std::pair<unsigned, unsigned>> kSpaces[] = {
            {"w", {CUPS_CSPACE_W, 1}},      {"gray", {CUPS_CSPACE_W, 1}},
            {"rgb", {CUPS_CSPACE_RGB, 3}},  {"srgb", {CUPS_CSPACE_SRGB, 3}},
            {"sgray", {CUPS_CSPACE_SW, 1}}, {"k", {CUPS_CSPACE_K, 1}},
            {"cmy", {CUPS_CSPACE_CMY, 3}},  {"cmyk", {CUPS_CSPACE_CMYK, 4}},
            {"rgba", {CUPS_CSPACE_RGBA, 4}}};
        for (const auto& [name, space] : kSpaces) {
            if (value == name) {
                page.colorSpace = space.first;
                page.bitsPerPixel = page.bitsPerColor * space.second;
                return {};
            }
        }
        if (!parseUnsigned(value, &n)) return bad();
        page.colorSpace = n;
        return {};
    }
    if (key == "mediatype") return page.mediaType = value, std::string{};
    if (key == "outputtype") return page.outputType = value, std::string{};
    if (key == "pagesizename") return page.pageSizeName = value, std::string{};
    if (key == "margins") return parseList(value, page.margins, 2) ? std::string{} : bad();
    if (key == "pagesize") return parseList(value, page.pageSize, 2) ? std::string{} : bad();
    if (key == "bbox") return parseList(value, page.imagingBox, 4) ? std::string{} : bad();
    if (key == "pattern") {
        bool ok = false;
        page.pattern = patternFromName(value, &ok);
        return ok ? std::string{} : bad();
    }
    if (key == "solid") {
        char* end = nullptr;
        const unsigned long v = std::strtoul(value.c_str(), &end, 16);
        if (value.empty() || *end != '\0' || v > 0xFFFFFFul) return bad();
        page.color = static_cast<uint32_t>(v);
        page.pattern = Pattern::Solid;
        return {};
    }
    return "unknown page option '" + key + "'";
}

}  // namespace harness
