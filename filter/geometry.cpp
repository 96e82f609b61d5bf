#include "filter/geometry.h"

#include <cstdio>

namespace {

std::string describe(const char* format, unsigned value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Names the side of a page that is too large, with its limit.
bool tooLarge(uint32_t width, uint32_t height, std::string* why) {
    if (width > kMaxPixWid) {
        *why = describe("the page is too large (at most %u pixels wide)", kMaxPixWid);
        return true;
    }
    if (height > kMaxPixHt) {
        *why = describe("the page is too large (at most %u pixels high)", kMaxPixHt);
        return true;
    }
    return false;
}

}  // namespace

bool normalizeRasterHeader(cups_page_header2_t* header, std::string* why) {
    // Read as numbers: libcups passes on whatever value the stream holds.
    switch (headerNumber(header->cupsColorSpace)) {
        case CUPS_CSPACE_W:
        case CUPS_CSPACE_SW:
            header->cupsColorSpace = CUPS_CSPACE_W;
            break;
        case CUPS_CSPACE_RGB:
        case CUPS_CSPACE_SRGB:
        case CUPS_CSPACE_ADOBERGB:
            header->cupsColorSpace = CUPS_CSPACE_RGB;
            break;
        default:
            *why = describe("colour space %u is not supported (gray or RGB needed)",
                            headerNumber(header->cupsColorSpace));
            return false;
    }
    bool color = header->cupsColorSpace != CUPS_CSPACE_W;

    if (header->cupsBitsPerColor == 0) header->cupsBitsPerColor = 8;
    if (header->cupsBitsPerColor != 8) {
        *why =
            describe("%u bits per colour are not supported (8 needed)", header->cupsBitsPerColor);
        return false;
    }
    if (header->cupsBitsPerPixel == 0) header->cupsBitsPerPixel = color ? 24 : 8;
    if (header->cupsBitsPerPixel != (color ? 24u : 8u)) {
        *why =
            describe("%u bits per pixel do not match the colour space", header->cupsBitsPerPixel);
        return false;
    }
    if (color && headerNumber(header->cupsColorOrder) != CUPS_ORDER_CHUNKED) {
        *why = describe("colour order %u is not supported (chunky pixels needed)",
                        headerNumber(header->cupsColorOrder));
        return false;
    }
    if (header->cupsWidth == 0 || header->cupsHeight == 0) {
        *why = "the page has no pixels";
        return false;
    }
    if (tooLarge(header->cupsWidth, header->cupsHeight, why)) return false;
    uint64_t expected = uint64_t{header->cupsWidth} * (header->cupsBitsPerPixel / 8);
    if (header->cupsBytesPerLine != expected) {
        *why = describe("%u bytes per line do not match the page width", header->cupsBytesPerLine);
        return false;
    }
    return true;
}

bool computeJobGeometry(const cups_page_header2_t& header, const JobSetting& settings,
                        JobGeometry* geometry, std::string* why) {
    JobGeometry g;
    g.bytesPerPixel = header.cupsBitsPerPixel / 8;
    if (settings.mediaSizeKind == kMediaSizeCustom) {
        if (settings.paddedPixW <= 0 || settings.paddedPixW % 16 != 0) {
            *why = "the custom page size leaves no printable width";
            return false;
        }
        g.pixWid = static_cast<uint32_t>(settings.paddedPixW);
    } else {
        g.pixWid = (header.cupsWidth + 15) & ~15u;
    }
    g.pixHt = (header.cupsHeight + 7) & ~7u;
    if (tooLarge(g.pixWid, g.pixHt, why)) return false;
    if (settings.resolution == 0 || settings.resolution > 65535) {
        *why = describe("a resolution of %u dpi is not supported", settings.resolution);
        return false;
    }
    g.lineBytes = g.pixWid * g.bytesPerPixel;
    g.blockBytes = 24 + 8 * g.lineBytes + 8 * g.pixWid;
    *geometry = g;
    return true;
}
