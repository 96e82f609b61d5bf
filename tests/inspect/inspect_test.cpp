// Whole jobs through inspectJob(): hand-assembled streams parse to the
// expected items, and corrupted variants give errors at the right offsets.
#include <gtest/gtest.h>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/inspect.h"

using jobtest::operator+;
using jobtest::operator+=;

using inspect::inspectJob;
using inspect::InspectOptions;
using inspect::InspectResult;
using jobtest::Bytes;
using jobtest::find;
using namespace jobtest;

namespace {

JobOptions jobOptions(bool usb, uint16_t width, uint16_t rows) {
    JobOptions o;
    o.usb = usb;
    o.width = width;
    o.rows = rows;
    return o;
}

PageOptions grayPage() {
    PageOptions o;
    o.color = false;
    return o;
}

std::string describe(const InspectResult& r) {
    std::string s;
    for (const auto& e : r.errors)
        s += "  error at " + std::to_string(e.offset) + ": " + e.message + "\n";
    for (const auto& w : r.warnings)
        s += "  warning at " + std::to_string(w.offset) + ": " + w.message + "\n";
    return s;
}

// True when some error sits at `offset` and mentions `text`.
bool hasError(const InspectResult& r, uint64_t offset, const std::string& text) {
    for (const auto& e : r.errors) {
        if (e.offset == offset && e.message.find(text) != std::string::npos) return true;
    }
    return false;
}

bool hasErrorText(const InspectResult& r, const std::string& text) {
    for (const auto& e : r.errors) {
        if (e.message.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(InspectJob, WellFormedJobParsesToItsParts) {
    JobOptions o;
    o.pages = 2;
    o.rows = 264;  // two images: 256 rows and 8 rows
    const Bytes job = whiteJob(o);
    const InspectResult r = inspectJob(job);
    ASSERT_TRUE(r.ok()) << describe(r);
    EXPECT_TRUE(r.warnings.empty()) << describe(r);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.size, job.size());

    ASSERT_EQ(r.prologue.size(), 4u);
    EXPECT_EQ(r.prologue[1].name, "NPA_COMMAND_REGLANGID");
    EXPECT_EQ(r.prologue[3].offset, 19u + 18u + 19u);
    EXPECT_EQ(r.prologue[3].name, "NPA_DEVCOMMAND_EXT_ERRORS");

    ASSERT_EQ(r.pjlLines.size(), 17u);
    EXPECT_EQ(r.pjlLines[0].offset, 72u + 9u);
    EXPECT_EQ(r.pjlLines[0].text, "@PJL JOB");
    EXPECT_EQ(r.pjl("JOBNAME"), "test job");
    EXPECT_EQ(r.pjl("RESOLUTION"), "600");
    EXPECT_EQ(r.streamHeaderOffset, find(job, streamHeader()));
    EXPECT_EQ(r.resolution, 600);

    ASSERT_EQ(r.pages.size(), 2u);
    const auto& p = r.pages[1];
    EXPECT_EQ(p.offset, find(job, pageBegin(), r.pages[0].end));
    EXPECT_EQ(p.end, find(job, sessionEnd(), p.offset));
    EXPECT_TRUE(p.complete);
    EXPECT_EQ(p.mediaSize, 2);
    EXPECT_EQ(p.colorSpace, 2);
    EXPECT_EQ(p.colorJob, 1);
    EXPECT_EQ(p.width, 32u);
    EXPECT_EQ(p.height, 264u);
    ASSERT_EQ(p.images.size(), 2u);
    EXPECT_EQ(p.images[1].y, 256);
    EXPECT_EQ(p.images[1].rows, 8u);
    EXPECT_EQ(p.images[0].restartMarkers, 32);
    EXPECT_EQ(p.images[0].flatMarkers, 1);
    EXPECT_TRUE(p.images[0].decoded);
    EXPECT_EQ(p.images[0].tagCounts[3], 32u * 256u);
    EXPECT_EQ(p.images[0].tagBytes, 1u);
    ASSERT_EQ(r.trailerLines.size(), 2u);
    EXPECT_EQ(r.trailerLines[1].text, "@PJL LPORTROTATE");
}

// Golden byte sequences as the printer must receive them, each checked to
// parse cleanly into the values it carries.
TEST(InspectJob, GoldenSessionPageAndImageHeaders) {
    // Label: session start at 600 dpi, then the 29-byte comment record.
    const Bytes session = {0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89, 0xC0, 0x00, 0xF8, 0x86,
                           0xC0, 0x03, 0xF8, 0x8F, 0x41, 0xC0, 0x00, 0xF8, 0x88, 0xC0, 0x01,
                           0xF8, 0x82, 0x48, 0xC8, 0xC0, 0x17, 'Q',  'u',  'o',  'd',  'r',
                           'e',  'l',  ' ',  'E',  'n',  'h',  'a',  'n',  'c',  'e',  'd',
                           ' ',  'X',  'L',  '=',  '1',  '.',  '2',  0xF8, 0x81, 0x47};
    // Label: an A4 colour page with border at normal quality.
    const Bytes page = {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x01, 0xF8, 0x26, 0xC0, 0x02, 0xF8,
                        0x25, 0xC1, 0x01, 0x00, 0xF8, 0xEC, 0xC0, 0x02, 0xF8, 0xED, 0x43,
                        0xD3, 0x64, 0x00, 0x64, 0x00, 0xF8, 0x2A, 0x75, 0xD5, 0x00, 0x00,
                        0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B, 0x77, 0xC0, 0x02,
                        0xF8, 0x03, 0x6A, 0xC0, 0x50, 0xF8, 0xEF, 0xC0, 0x01, 0xF8, 0xEE,
                        0x40, 0xC0, 0xCC, 0xF8, 0x2C, 0x7B};
    // Label: a full image of 256 rows of 2560 pixels at line 0, up to its picture data.
    const Bytes imageHead = {
        0xD3, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x4C, 0x6B, 0xC0, 0x00, 0xF8, 0x64, 0xC0, 0x02, 0xF8,
        0x62, 0xC1, 0x00, 0x0A, 0xF8, 0x6C, 0xC1, 0x00, 0x01, 0xF8, 0x6B, 0xD1, 0x00, 0x0A, 0x00,
        0x01, 0xF8, 0x67, 0xC0, 0x08, 0xF8, 0xFA, 0xC0, 0x02, 0xF8, 0xF9, 0xC1, 0x00, 0x00, 0xF8,
        0xF8, 0xC1, 0x58, 0x02, 0xF8, 0xF7, 0xC1, 0x06, 0x00, 0xF8, 0xF6, 0xB0, 0xC1, 0x00, 0x00,
        0xF8, 0x6D, 0xC1, 0x00, 0x01, 0xF8, 0x63, 0xC0, 0xF6, 0xF8, 0x65, 0xB1};
    // Label: the page end, then CloseDataSource and EndSession.
    const Bytes tail = {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44, 0x49, 0x42};
    const Bytes jpeg = whiteColorBands(2560, 32);
    const Bytes tagBlock = {0xC1, 0x00, 0x00, 0xF8, 0x6D, 0xC1, 0x00, 0x01,
                            0xF8, 0x63, 0xC0, 0xF7, 0xF8, 0x65, 0xB1};
    // The builder writes the same bytes as the golden vectors.
    EXPECT_EQ(sessionStart(600), session);
    EXPECT_EQ(pageBegin(), page);
    EXPECT_EQ(pageEnd() + sessionEnd(), tail);
    const Bytes job = pjlHeader() + streamHeader() + session + page + imageHead + embedded(jpeg) +
                      tagBlock + embedded({0xFF}) + op(0xB2) + tail + pjlTrailer();
    const InspectResult r = inspectJob(job);
    ASSERT_TRUE(r.ok()) << describe(r);
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_EQ(r.pages[0].originX, 100);
    EXPECT_EQ(r.pages[0].borderType, 2);
    EXPECT_EQ(r.pages[0].jobCopies, 1);
    EXPECT_EQ(r.pages[0].modeValue, 80);
    ASSERT_EQ(r.pages[0].images.size(), 1u);
    EXPECT_EQ(r.pages[0].images[0].width, 2560u);
    EXPECT_EQ(r.pages[0].images[0].rows, 256u);
    EXPECT_EQ(r.pages[0].images[0].jpegBytes, jpeg.size());
    EXPECT_TRUE(r.pages[0].images[0].decoded);
}

// One byte pattern changed at a time; the error must name the place.
TEST(InspectJob, CorruptedFieldsAreReportedAtTheirOffsets) {
    const Bytes good = whiteJob();
    const size_t session = find(good, sessionStart());
    const size_t page = find(good, pageBegin());
    const size_t image = find(good, attrSint16Xy(0x4C, 0, 0));
    const size_t picture = find(good, Bytes{0xB1, 0xFA}, image) + 1;

    struct Case {
        const char* label;
        size_t at;  // offset of the changed bytes
        Bytes from, to;
        uint64_t errorAt;
        const char* text;
    };
    const Case cases[] = {
        {"Measure is not eInch",
         session + 7,
         {0xC0, 0x00, 0xF8, 0x86},
         {0xC0, 0x01, 0xF8, 0x86},
         session + 7,
         "Measure (0x86) is 1, expected 0"},
        {"UnitsPerMeasure of another type",
         session,
         {0xD1},
         {0xD3},
         session,
         "has type sint16_xy, expected uint16_xy"},
        {"Orientation landscape",
         page,
         {0xC0, 0x00, 0xF8, 0x28},
         {0xC0, 0x01, 0xF8, 0x28},
         page,
         "Orientation (0x28) is 1"},
        {"JobCopies asks the printer for copies",
         page + 12,
         {0xC1, 0x01, 0x00},
         {0xC1, 0x02, 0x00},
         page + 12,
         "JobCopies (0xEC) is 2"},
        {"SetPageScale replaced by an unknown operator",
         find(good, Bytes{0xF8, 0x2B, 0x77}) + 2,
         {0x77},
         {0x78},
         find(good, Bytes{0xF8, 0x2B, 0x77}) + 2,
         "expected SetPageScale"},
        {"image not at the top of the page",
         image,
         {0xD3, 0, 0, 0, 0},
         {0xD3, 0, 0, 8, 0},
         image,
         "image placed at 0,8, expected 0,0"},
        {"wrong CompressMode",
         find(good, Bytes{0xC0, 0xF6, 0xF8, 0x65}),
         {0xC0, 0xF6},
         {0xC0, 0xF5},
         find(good, Bytes{0xC0, 0xF6, 0xF8, 0x65}),
         "CompressMode is 245"},
        {"second restart marker out of order",
         find(good, Bytes{0xFF, 0xD1}, picture),
         {0xFF, 0xD1},
         {0xFF, 0xD3},
         find(good, Bytes{0xFF, 0xD1}, picture),
         "restart marker 0xFF 0xD3 out of order"},
        {"no flat-quantiser marker",
         picture + 5,
         {0xFF, 0x2B},
         {0xFF, 0x00},
         picture + 5,
         "does not begin with the flat-quantiser marker"},
        {"attribute 0xF6 is not 6",
         find(good, Bytes{0xC1, 0x06, 0x00, 0xF8, 0xF6}),
         {0xC1, 0x06},
         {0xC1, 0x07},
         find(good, Bytes{0xC1, 0x06, 0x00, 0xF8, 0xF6}),
         "attribute 0xF6 is 7, expected 6"},
        {"PageCopies 2",
         find(good, pageEnd()),
         {0xC1, 0x01},
         {0xC1, 0x02},
         find(good, pageEnd()),
         "PageCopies (0x31) is 2"},
        {"PJL line misspelt",
         find(good, Bytes{'L', 'I', 'M', 'A', 'G', 'E', 'C'}) - 9,
         {'@', 'P', 'J', 'L', ' ', 'S', 'E', 'T'},
         {'@', 'P', 'J', 'L', ' ', 'S', 'E', 'X'},
         find(good, Bytes{'L', 'I', 'M', 'A', 'G', 'E', 'C'}) - 9,
         "unexpected PJL line"},
        {"trailer line changed",
         find(good, Bytes{'E', 'O', 'J'}),
         {'E', 'O', 'J'},
         {'E', 'O', 'X'},
         find(good, Bytes{'E', 'O', 'J'}) - 5,
         "expected \"@PJL EOJ\""},
        {"prologue packet changed",
         19 + 6,
         {0x07},
         {0x09},
         19,
         "is unknown, expected NPA_COMMAND_REGLANGID"},
    };
    for (const Case& c : cases) {
        Bytes job = good;
        ASSERT_TRUE(
            std::equal(c.from.begin(), c.from.end(), job.begin() + static_cast<ptrdiff_t>(c.at)))
            << c.label;
        std::copy(c.to.begin(), c.to.end(), job.begin() + static_cast<ptrdiff_t>(c.at));
        const InspectResult r = inspectJob(job);
        EXPECT_FALSE(r.ok()) << c.label;
        EXPECT_TRUE(hasError(r, c.errorAt, c.text))
            << c.label << " (want offset " << c.errorAt << ")\n"
            << describe(r);
    }
}

TEST(InspectJob, MissingAndExtraPiecesAreReported) {
    const Bytes good = whiteJob(jobOptions(false, 32, 16));
    {
        // Label: a job cut right after EndSession has no trailer.
        const Bytes job(good.begin(),
                        good.begin() + static_cast<ptrdiff_t>(find(good, pjlTrailer())));
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, job.size(), "job ends without the PJL trailer")) << describe(r);
        EXPECT_FALSE(r.complete);
    }
    {
        const Bytes job = good + Bytes{'x', 'y'};
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, good.size(), "2 bytes after the end of the job")) << describe(r);
    }
    {
        // Label: the stream header one byte short.
        Bytes job = good;
        const size_t header = find(job, streamHeader());
        job.erase(job.begin() + static_cast<ptrdiff_t>(header + 40));
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, header, "stream header is 63 bytes, expected 64")) << describe(r);
    }
    {
        // Label: the RESOLUTION line left out of the PJL header.
        const std::string line = "@PJL SET RESOLUTION=600\n";
        Bytes job = good;
        const size_t at = find(job, Bytes(line.begin(), line.end()));
        job.erase(job.begin() + static_cast<ptrdiff_t>(at),
                  job.begin() + static_cast<ptrdiff_t>(at + line.size()));
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, at, "missing @PJL SET RESOLUTION= line")) << describe(r);
    }
    {
        // Label: EndPage dropped: the next thing is CloseDataSource.
        Bytes job = good;
        const size_t at = find(job, pageEnd());
        job.erase(job.begin() + static_cast<ptrdiff_t>(at),
                  job.begin() + static_cast<ptrdiff_t>(at + pageEnd().size()));
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, at, "expected SetCursor or EndPage, found CloseDataSource"))
            << describe(r);
        EXPECT_TRUE(hasErrorText(r, "page 1 has no EndPage")) << describe(r);
        ASSERT_EQ(r.pages.size(), 1u);
        EXPECT_FALSE(r.pages[0].complete);
    }
    {
        // Label: session resolution disagrees with the PJL header.
        JobOptions o;
        o.usb = false;
        Bytes job = whiteJob(o);
        const size_t at = find(job, sessionStart(600));
        const Bytes other = sessionStart(300);
        std::copy(other.begin(), other.begin() + 7, job.begin() + static_cast<ptrdiff_t>(at));
        const InspectResult r = inspectJob(job);
        EXPECT_TRUE(hasError(r, at, "differs from PJL RESOLUTION 600")) << describe(r);
        EXPECT_TRUE(hasErrorText(r, "expected the session resolution 300")) << describe(r);
    }
}

TEST(InspectJob, UnsoundImageHeadersAreRefusedWithoutDecoding) {
    struct Case {
        const char* label;
        uint16_t width, rows;
        const char* text;
    };
    const Case cases[] = {
        {"width not a multiple of 16 in colour", 40, 8,
         "SourceWidth 40 is not a positive multiple of 16"},
        {"zero width", 0, 8, "SourceWidth 0"},
        {"more than 32 bands", 32, 264, "SourceHeight 264 is not a multiple of 8 from 8 to 256"},
        {"largest header in a tiny job", 65520, 65528, "SourceHeight 65528"},
    };
    for (const Case& c : cases) {
        const Bytes job = pjlHeader() + streamHeader() + sessionStart() + pageBegin() +
                          image(0, c.width, c.rows, whiteColorBands(32, 1), allThreeTags()) +
                          pageEnd() + sessionEnd() + pjlTrailer();
        int calls = 0;
        InspectOptions options;
        options.onPage = [&](size_t, const inspect::PageInfo&, const inspect::PageImage& img) {
            ++calls;
            EXPECT_EQ(img.width, 0u) << c.label;
        };
        const InspectResult r = inspectJob(job, options);
        EXPECT_TRUE(hasErrorText(r, c.text)) << c.label << "\n" << describe(r);
        EXPECT_EQ(calls, 1) << c.label;
    }
}

TEST(InspectJob, ReportsPicturesAndTagsThatDoNotDecode) {
    const Bytes bad = Bytes{0xFF, 0x2B, 0x12, 0x34, 0xFF, 0xD0};
    const Bytes job = pjlHeader() + streamHeader() + sessionStart() + pageBegin() +
                      image(0, 32, 8, bad, Bytes{0x80, 0x00}) + pageEnd() + sessionEnd() +
                      pjlTrailer();
    const InspectResult r = inspectJob(job);
    const size_t tagData = find(job, Bytes{0xFA, 2, 0, 0, 0, 0x80});
    EXPECT_TRUE(hasError(r, tagData, "tag data")) << describe(r);
    EXPECT_TRUE(hasError(r, find(job, Bytes{0xFA, 6, 0, 0, 0}), "JPEG data")) << describe(r);
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_FALSE(r.pages[0].images[0].decoded);
}

TEST(InspectJob, AssemblesEachPageSideForTheCallback) {
    // A gray page: a white image of 16 rows over a black one of 8.
    const Bytes job = pjlHeader() + streamHeader() + sessionStart() + pageBegin(grayPage()) +
                      image(0, 24, 16, uniformGrayBands(24, 2, 255), allThreeTags()) +
                      image(16, 24, 8, uniformGrayBands(24, 1, 0), allThreeTags()) + pageEnd() +
                      pageBegin() + image(0, 32, 8, whiteColorBands(32, 1), allThreeTags()) +
                      pageEnd() + sessionEnd() + pjlTrailer();
    std::vector<inspect::PageImage> pages;
    InspectOptions options;
    options.onPage = [&](size_t index, const inspect::PageInfo&, const inspect::PageImage& img) {
        EXPECT_EQ(index, pages.size());
        pages.push_back(img);
    };
    const InspectResult r = inspectJob(job, options);
    ASSERT_TRUE(r.ok()) << describe(r);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].channels, 1);
    EXPECT_EQ(pages[0].width, 24u);
    EXPECT_EQ(pages[0].height, 24u);
    EXPECT_EQ(pages[0].pixels[0], 255);
    EXPECT_EQ(pages[0].pixels[15 * 24 + 23], 255);
    EXPECT_EQ(pages[0].pixels[16 * 24], 0);
    EXPECT_EQ(pages[0].pixels.back(), 0);
    EXPECT_EQ(pages[1].channels, 3);
    EXPECT_EQ(pages[1].pixels.size(), 32u * 8u * 3u);
    for (uint8_t v : pages[1].pixels)
        ASSERT_EQ(v, 255);
}

TEST(InspectJob, MemoryLimitsHold) {
    // Label: a page larger than the pixel limit is refused, not assembled.
    const Bytes job = whiteJob(jobOptions(false, 64, 64));
    InspectOptions options;
    options.maxPagePixels = 64 * 32;
    size_t emptyPages = 0;
    options.onPage = [&](size_t, const inspect::PageInfo&, const inspect::PageImage& img) {
        emptyPages += img.width == 0;
    };
    const InspectResult r = inspectJob(job, options);
    EXPECT_TRUE(hasErrorText(r, "larger than the limit of 2048 pixels")) << describe(r);
    EXPECT_EQ(emptyPages, 1u);
}

// Regression: an image that is not decoded still counts for the page height,
// and the page was assembled at that height without checking the limit.
TEST(InspectJob, TallUndecodedImageDoesNotBypassThePageLimit) {
    InspectOptions options;
    size_t emptyPages = 0;
    options.onPage = [&](size_t, const inspect::PageInfo&, const inspect::PageImage& img) {
        emptyPages += img.width == 0;
    };
    const Bytes tall = pjlHeader() + streamHeader() + sessionStart() + pageBegin() +
                       image(0, 64, 8, whiteColorBands(64, 1), allThreeTags()) +
                       image(8, 64, 65528, whiteColorBands(64, 1), allThreeTags()) + pageEnd() +
                       sessionEnd() + pjlTrailer();
    options.maxPagePixels = 64 * 64;
    const InspectResult r1 = inspectJob(tall, options);
    EXPECT_TRUE(hasError(r1, find(tall, pageBegin()), "page of 64 x 65536 pixels is larger"))
        << describe(r1);
    EXPECT_EQ(emptyPages, 1u);
}

TEST(InspectJob, EveryTruncationIsAnErrorNeverACrash) {
    const Bytes good = whiteJob(jobOptions(true, 16, 8));
    ASSERT_TRUE(inspectJob(good).ok());
    for (size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(n));
        const InspectResult r = inspectJob(cut);
        ASSERT_FALSE(r.ok()) << "cut at " << n;
        ASSERT_FALSE(r.complete) << "cut at " << n;
    }
}

}  // namespace
