// Whole jobs pinned by a hash of their bytes.  The job's date stamp is the
// only part that changes from run to run; its PJL line is masked before
// hashing.  A changed hash is a changed printer stream: refresh one only with
// a reviewed reason (QZ_GOLDEN_PRINT=1 makes every case print its current
// hash instead of checking it; run the binary itself to get the whole table).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "tests/harness/filter_run.h"
#include "tests/harness/jobtext.h"
#include "tests/harness/raster.h"

namespace {

using harness::Pattern;

// FNV-1a, 64 bits: enough to tell two streams apart, no dependency.
uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    return h;
}

harness::PageSpec page(Pattern pattern, bool color, unsigned width, unsigned height, unsigned res) {
    harness::PageSpec p;
    p.width = width;
    p.height = height;
    p.resX = p.resY = res;
    p.pattern = pattern;
    if (!color) {
        p.colorSpace = CUPS_CSPACE_W;
        p.bitsPerPixel = 8;
    }
    return p;
}

struct GoldenCase {
    std::string name;
    harness::RasterSpec raster;
    std::string copies = "1";
    std::string ticket;
    uint64_t hash;
};

uint64_t runCase(const GoldenCase& c, std::string* describe) {
    harness::FilterRunOptions o;
    o.args = harness::filterArgs(c.copies, c.ticket);
    o.raster = c.raster;
    o.ppd = harness::minimalPpdPath();
    o.deviceUri = "socket://printer.invalid:9100";
    const harness::FilterRun r = harness::runFilter(o);
    *describe = r.describe();
    if (!r.exitedWith(0)) return 0;
    return fnv1a(harness::maskDate(r.out));
}

harness::RasterSpec pages(const harness::PageSpec& p, int count, bool duplex = false) {
    harness::RasterSpec s = harness::RasterSpec::uniform(p, count);
    for (harness::PageSpec& each : s.pages)
        each.duplex = duplex;
    return s;
}

std::vector<GoldenCase> cases() {
    std::vector<GoldenCase> all;
    // Copies 1 to 4, simplex and duplex, 1 to 4 small photo pages: the
    // copies and duplex pairing, with a white back for a lone last front.
    const uint64_t copiesHashes[4][4][2] = {
#include "golden_copies.inc"
    };
    for (int n = 1; n <= 4; ++n) {
        for (int copies = 1; copies <= 4; ++copies) {
            for (int duplex = 0; duplex <= 1; ++duplex) {
                GoldenCase c;
                c.name = "Photo" + std::to_string(n) + "p_copies" + std::to_string(copies) +
                         (duplex ? "_duplex" : "_simplex");
                c.raster = pages(page(Pattern::Photo, true, 400, 300, 300), n, duplex != 0);
                c.copies = std::to_string(copies);
                c.hash = copiesHashes[n - 1][copies - 1][duplex];
                all.push_back(c);
            }
        }
    }
    // Page content and formats, colour and gray, at full page sizes.
    struct Content {
        const char* name;
        harness::PageSpec spec;
        int count;
        const char* ticket;
    };
    // cupsRowStep 2 asks the filter to mirror every line itself.
    harness::PageSpec mirror = page(Pattern::Text, true, 1275, 1650, 150);
    mirror.rowStep = 2;
    harness::PageSpec margins = page(Pattern::Gradient, true, 2400, 600, 600);
    margins.margins[0] = 12;
    margins.margins[1] = 12;
    const Content contents[] = {
        {"TextLetter300", page(Pattern::Text, true, 2550, 3300, 300), 2, ""},
        {"TextLetter300Gray", page(Pattern::Text, false, 2550, 3300, 300), 2, ""},
        {"PhotoA4_600", page(Pattern::Photo, true, 4960, 7016, 600), 1, ""},
        {"PhotoA4_600Gray", page(Pattern::Photo, false, 4960, 7016, 600), 1, ""},
        {"NoiseSmall", page(Pattern::Noise, true, 1000, 800, 300), 1, ""},
        {"NoiseSmallGray", page(Pattern::Noise, false, 1000, 800, 300), 1, ""},
        {"Stripes", page(Pattern::Stripes, true, 1700, 2200, 200), 1, ""},
        {"GradientOddSize", page(Pattern::Gradient, true, 1001, 777, 300), 1, ""},
        {"WhiteLegal", page(Pattern::White, true, 2550, 4200, 300), 1, ""},
        {"SolidGray", page(Pattern::Solid, false, 800, 600, 300), 1, ""},
        {"Mirrored", mirror, 1, ""},
        {"CustomSize", margins, 1, "PageSize=Custom.4x1in"},
        {"EdgeToEdgeDraft", page(Pattern::Text, true, 1275, 1650, 150), 1, "PageSize=A4.FullBleed"},
    };
    const uint64_t contentHashes[] = {
#include "golden_content.inc"
    };
    size_t i = 0;
    for (const Content& c : contents) {
        GoldenCase g;
        g.name = c.name;
        g.raster = pages(c.spec, c.count);
        g.ticket = c.ticket;
        g.hash = contentHashes[i++];
        all.push_back(g);
    }
    return all;
}

// Shows a case by its name in gtest's messages.
void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

// One test per job, so that ctest spreads them over its workers and each has
// a time limit of its own.
class GoldenJobs : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenJobs, BytesMatchThePinnedHash) {
    const GoldenCase& c = GetParam();
    std::string describe;
    const uint64_t got = runCase(c, &describe);
    if (std::getenv("QZ_GOLDEN_PRINT") != nullptr) {
        std::printf("%-32s 0x%016llxull\n", c.name.c_str(), static_cast<unsigned long long>(got));
        return;
    }
    ASSERT_NE(got, 0u) << c.name << ": " << describe;
    EXPECT_EQ(got, c.hash) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Jobs, GoldenJobs, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                             return info.param.name;
                         });

}  // namespace
