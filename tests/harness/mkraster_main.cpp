// qz-mkraster: writes a synthetic CUPS raster stream, or describes one.
//
//   qz-mkraster --pages 3 --width 2550 --height 3300 --res 600 --color rgb
//               --pattern text --duplex --tumble --copies 2 --end-mid-page 2:100 -o out.ras
//   qz-mkraster --pages 2 --page 2:width=1000 --page 2:color=gray -o mixed.ras
//   qz-mkraster --info out.ras
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/raster.h"

namespace {

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: qz-mkraster [options] -o FILE|-\n"
                 "       qz-mkraster --info FILE\n"
                 "options:\n"
                 "  --pages N                 page count (default 1)\n"
                 "  --format F                uncompressed (default) compressed pwg raw\n"
                 "  --end-mid-page K:L        stop after line L of page K\n"
                 "  --page K:key=value        override one field of page K (repeatable)\n"
                 "  --KEY VALUE or --KEY=VALUE, for every page; yes/no keys alone mean yes:\n"
                 "%s",
                 harness::pageOptionHelp());
}

bool isFlag(const std::string& key) {
    return key == "duplex" || key == "tumble" || key == "collate" || key == "mirror" ||
           key == "marker";
}

const char* syncName(uint32_t sync) {
    switch (sync) {
        case CUPS_RASTER_SYNC:
            return "v3 native (uncompressed)";
        case CUPS_RASTER_REVSYNC:
            return "v3 swapped (uncompressed)";
        case CUPS_RASTER_SYNCv1:
            return "v1 native";
        case CUPS_RASTER_REVSYNCv1:
            return "v1 swapped";
        case CUPS_RASTER_SYNCv2:
            return "v2 native (compressed)";
        case CUPS_RASTER_REVSYNCv2:
            return "v2 big-endian (compressed; PWG raster)";
        case CUPS_RASTER_SYNCapple:
            return "Apple";
        case CUPS_RASTER_REVSYNCapple:
            return "Apple swapped";
        default:
            return "unknown";
    }
}

int info(const char* path) {
    const auto dump = harness::readRasterFile(path);
    if (!dump) {
        std::perror(path);
        return 1;
    }
    const uint32_t s = dump->syncWord;
    std::printf("%s: sync %c%c%c%c = %s, %zu page(s)\n", path, s & 0xFF, (s >> 8) & 0xFF,
                (s >> 16) & 0xFF, s >> 24, syncName(s), dump->pages.size());
    int page = 0;
    for (const auto& p : dump->pages) {
        const cups_page_header2_t& h = p.header;
        std::printf(
            "page %d: %ux%u px, %ux%u dpi, colour space %d, %u bits/colour, %u bits/pixel, "
            "%u bytes/line, order %d, compression %u\n"
            "  PageSize %ux%u pt, ImagingBoundingBox %u %u %u %u, Margins %u %u, "
            "cupsPageSizeName '%s'\n"
            "  Duplex %d Tumble %d Collate %d NumCopies %u MediaPosition %u MirrorPrint %d "
            "cupsRowStep %u MediaType '%s' OutputType '%s'\n"
            "  lines read %u of %u\n",
            ++page, h.cupsWidth, h.cupsHeight, h.HWResolution[0], h.HWResolution[1],
            static_cast<int>(h.cupsColorSpace), h.cupsBitsPerColor, h.cupsBitsPerPixel,
            h.cupsBytesPerLine, static_cast<int>(h.cupsColorOrder), h.cupsCompression,
            h.PageSize[0], h.PageSize[1], h.ImagingBoundingBox[0], h.ImagingBoundingBox[1],
            h.ImagingBoundingBox[2], h.ImagingBoundingBox[3], h.Margins[0], h.Margins[1],
            h.cupsPageSizeName, static_cast<int>(h.Duplex), static_cast<int>(h.Tumble),
            static_cast<int>(h.Collate), h.NumCopies, h.MediaPosition,
            static_cast<int>(h.MirrorPrint), h.cupsRowStep, h.MediaType, h.OutputType, p.linesRead,
            h.cupsHeight);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    harness::PageSpec page;
    int pages = 1;
    std::string output;
    harness::RasterFormat format = harness::RasterFormat::Uncompressed;
    std::optional<harness::EndMidPage> cut;
    std::vector<std::pair<int, std::string>> overrides;

    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "qz-mkraster: %s\n", message.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "--info") {
            if (i + 1 >= argc) return fail("--info needs a file");
            return info(argv[i + 1]);
        }
        if (arg.rfind("--", 0) != 0 && arg != "-o") return fail("unexpected argument " + arg);
        std::string key = arg == "-o" ? "output" : arg.substr(2), value;
        const size_t eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else if (isFlag(key)) {
            value = "1";
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return fail("--" + key + " needs a value");
        }

        if (key == "output") {
            output = value;
        } else if (key == "pages") {
            pages = std::atoi(value.c_str());
            if (pages < 0) return fail("bad page count");
        } else if (key == "format") {
            if (value == "uncompressed")
                format = harness::RasterFormat::Uncompressed;
            else if (value == "compressed")
                format = harness::RasterFormat::Compressed;
            else if (value == "pwg")
                format = harness::RasterFormat::Pwg;
            else if (value == "raw")
                format = harness::RasterFormat::RawV3;
            else
                return fail("unknown format " + value);
        } else if (key == "end-mid-page") {
            unsigned k = 0, l = 0;
            if (std::sscanf(value.c_str(), "%u:%u", &k, &l) != 2 || k == 0)
                return fail("--end-mid-page wants PAGE:LINE");
            cut = harness::EndMidPage{static_cast<int>(k), l};
        } else if (key == "page") {
            const size_t colon = value.find(':');
            const int k = std::atoi(value.substr(0, colon).c_str());
            if (colon == std::string::npos || k < 1) return fail("--page wants K:key=value");
            overrides.emplace_back(k, value.substr(colon + 1));
        } else {
            const std::string error = harness::applyPageOption(page, key, value);
            if (!error.empty()) return fail(error);
        }
    }
    if (output.empty()) {
        usage(stderr);
        return 2;
    }

    harness::RasterSpec spec = harness::RasterSpec::uniform(page, pages);
    spec.format = format;
    spec.endMidPage = cut;
    for (const auto& [k, item] : overrides) {
        if (k > pages) return fail("--page " + std::to_string(k) + ": no such page");
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "1" : item.substr(eq + 1);
        const std::string error =
            harness::applyPageOption(spec.pages[static_cast<size_t>(k - 1)], key, value);
        if (!error.empty()) return fail(error);
    }
    const bool ok = output == "-" ? harness::writeRaster(spec, STDOUT_FILENO)
                                  : harness::writeRaster(spec, output);
    if (!ok) return fail("cannot write the raster (libcupsimage refused a header?)");
    return 0;
}
