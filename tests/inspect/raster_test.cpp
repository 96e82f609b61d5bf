// The printed page sequence of copies and duplex, comparison with a CUPS
// raster, and PNG output of page sides.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/inspect.h"
#include "tools/inspect/pngout.h"
#include "tools/inspect/rastercmp.h"

using jobtest::operator+;
using jobtest::operator+=;

using inspect::kWhiteSide;
using inspect::PageImage;
using inspect::RasterComparer;

namespace {

constexpr int W = kWhiteSide;

TEST(InspectPageSequence, CopiesAndDuplexSheets) {
    struct Case {
        const char* label;
        int pages, copies;
        bool duplex;
        std::vector<int> want;
    };
    const Case cases[] = {
        {"simplex, 2 pages, copies 2", 2, 2, false, {0, 0, 1, 1}},
        {"duplex, 2 pages, copies 2", 2, 2, true, {0, 1, 0, 1}},
        {"duplex, 3 pages, copies 2", 3, 2, true, {0, 1, 0, 1, 2, W, 2}},
        {"duplex, 1 page, copies 2", 1, 2, true, {0, W, 0}},
        {"duplex, lone last page, copies 3", 1, 3, true, {0, W, 0, W, 0}},
        {"simplex, 1 page, copies 3", 1, 3, false, {0, 0, 0}},
        {"duplex, 3 pages, one copy: no white side", 3, 1, true, {0, 1, 2}},
        {"no pages", 0, 2, true, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(inspect::expectedPageSequence(c.pages, c.copies, c.duplex), c.want) << c.label;
    }
}

// A temporary CUPS raster file of 8-bit gray or RGB pages.
class RasterFile {
  public:
    explicit RasterFile(const std::string& name)
        : path_((std::filesystem::temp_directory_path() /
                 (name + "-" + std::to_string(::getpid()) + ".ras"))
                    .string()) {}
    ~RasterFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

    // Each page is width x height of one sample value per channel.
    void write(const std::vector<PageImage>& pages) {
        std::vector<jobtest::RasterPageSpec> specs;
        for (const PageImage& p : pages)
            specs.push_back({p.width, p.height, p.channels, p.pixels[0]});
        ASSERT_TRUE(jobtest::writeRaster(path_, specs));
    }

  private:
    std::string path_;
};

PageImage solid(uint32_t width, uint32_t height, int channels, uint8_t value) {
    PageImage p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.pixels.assign(size_t{width} * height * static_cast<size_t>(channels), value);
    return p;
}

TEST(InspectRaster, MatchesPaddedPagesAndWhiteBackSides) {
    RasterFile file("qz-inspect-cmp");
    file.write({solid(30, 20, 1, 255), solid(30, 20, 1, 255), solid(30, 20, 1, 90)});
    RasterComparer cmp(file.path(), 2, true, 30.0);
    ASSERT_TRUE(cmp.open());
    EXPECT_EQ(cmp.result().expectedSides, 7u);  // P1 P2 P1 P2 P3 W P3
    // Printed sides are padded to 32 x 24; the padding is not compared.
    PageImage white = solid(32, 24, 1, 255);
    PageImage third = solid(32, 24, 1, 255);
    for (uint32_t y = 0; y < 20; ++y) {
        for (uint32_t x = 0; x < 30; ++x)
            third.pixels[y * 32 + x] = 91;  // off by one: high PSNR
    }
    const PageImage sides[] = {white, white, white, white, third, white, third};
    for (size_t i = 0; i < 7; ++i)
        cmp.compare(i, sides[i]);
    const auto& r = cmp.finish(7);
    EXPECT_TRUE(r.ok());
    ASSERT_EQ(r.sides.size(), 7u);
    EXPECT_EQ(r.sides[5].rasterPage, kWhiteSide);
    EXPECT_NEAR(r.sides[4].psnr, 20 * std::log10(255.0), 1e-6);
    EXPECT_EQ(r.sides[0].psnr, 99.0);
}

TEST(InspectRaster, ReportsEveryKindOfMismatch) {
    RasterFile file("qz-inspect-mismatch");
    file.write({solid(16, 8, 3, 200), solid(16, 8, 3, 200)});
    RasterComparer cmp(file.path(), 2, true, 30.0);  // P1 P2 P1 P2
    ASSERT_TRUE(cmp.open());
    cmp.compare(0, solid(16, 8, 3, 20));    // dark: PSNR far too low
    cmp.compare(1, solid(16, 8, 1, 200));   // gray where the raster is colour
    cmp.compare(2, solid(16, 4, 3, 200));   // too short
    cmp.compare(3, solid(16, 16, 3, 200));  // a band too many
    cmp.compare(4, solid(16, 8, 3, 200));   // one side too many
    const auto& r = cmp.finish(5);
    EXPECT_FALSE(r.ok());
    ASSERT_EQ(r.sides.size(), 5u);
    for (const auto& s : r.sides)
        EXPECT_FALSE(s.ok) << s.index;
    EXPECT_NE(r.sides[0].message.find("below 30.00 dB"), std::string::npos);
    EXPECT_NE(r.sides[1].message.find("printed in gray"), std::string::npos);
    EXPECT_NE(r.sides[2].message.find("smaller than the raster page"), std::string::npos);
    EXPECT_NE(r.sides[3].message.find("printed side has 16 lines"), std::string::npos);
    EXPECT_NE(r.sides[4].message.find("not expected"), std::string::npos);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_NE(r.errors[0].find("prints 5 page sides"), std::string::npos);

    RasterComparer again(file.path(), 1, false, 30.0);
    ASSERT_TRUE(again.open());
    again.compare(0, PageImage{});  // a side that could not be decoded
    EXPECT_NE(again.finish(1).sides[0].message.find("no decoded image"), std::string::npos);
}

TEST(InspectRaster, RefusesFilesItCannotCompare) {
    RasterComparer missing("/nonexistent/qz.ras", 1, false, 30.0);
    EXPECT_FALSE(missing.open());
    EXPECT_FALSE(missing.result().errors.empty());

    RasterFile tooBig("qz-inspect-big");
    tooBig.write({solid(64, 64, 1, 255)});
    RasterComparer limited(tooBig.path(), 1, false, 30.0, 64 * 32);
    EXPECT_FALSE(limited.open());
    EXPECT_NE(limited.result().errors[0].find("unsupported size"), std::string::npos);

    // Label: a raster cut in the middle of its page data.
    RasterFile cut("qz-inspect-cut");
    cut.write({solid(64, 64, 1, 255)});
    std::filesystem::resize_file(cut.path(), std::filesystem::file_size(cut.path()) - 100);
    RasterComparer truncated(cut.path(), 1, false, 30.0);
    EXPECT_FALSE(truncated.open());
}

// The whole loop: a job assembled from bytes, each page side decoded by the
// inspector and compared with the raster it stands for.
TEST(InspectRaster, InspectedJobMatchesItsRaster) {
    RasterFile file("qz-inspect-job");
    file.write({solid(30, 14, 3, 255)});
    // Label: one white colour page, 32 x 16 after padding, printed with copies 3.
    jobtest::JobOptions o;
    o.pages = 3;
    o.width = 32;
    o.rows = 16;
    const jobtest::Bytes job = jobtest::whiteJob(o);
    RasterComparer cmp(file.path(), 3, false, 40.0);
    ASSERT_TRUE(cmp.open());
    inspect::InspectOptions options;
    options.onPage = [&](size_t index, const inspect::PageInfo&, const PageImage& image) {
        cmp.compare(index, image);
    };
    const inspect::InspectResult r = inspect::inspectJob(job, options);
    ASSERT_TRUE(r.ok());
    const auto& c = cmp.finish(r.pages.size());
    EXPECT_TRUE(c.ok());
    ASSERT_EQ(c.sides.size(), 3u);
    EXPECT_EQ(c.sides[2].rasterPage, 0);
    EXPECT_EQ(c.sides[2].psnr, 99.0);
}

TEST(InspectPng, PageSidesRoundTrip) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string path = dir + "/qz-inspect-" + std::to_string(::getpid()) + ".png";
    std::string message;
    for (int channels : {1, 3}) {
        PageImage page = solid(21, 5, channels, 0);
        for (size_t i = 0; i < page.pixels.size(); ++i)
            page.pixels[i] = static_cast<uint8_t>(i * 7);
        ASSERT_TRUE(inspect::writePng(path, page, message)) << message;
        PageImage back;
        ASSERT_TRUE(inspect::readPng(path, back, message)) << message;
        EXPECT_EQ(back.width, 21u);
        EXPECT_EQ(back.channels, channels);
        EXPECT_EQ(back.pixels, page.pixels);
    }
    std::remove(path.c_str());
    EXPECT_FALSE(inspect::writePng(path, PageImage{}, message));
    EXPECT_FALSE(inspect::writePng("/nonexistent/dir/x.png", solid(2, 2, 1, 0), message));
}

}  // namespace

// Previews are box averages: partial boxes at the edges average only what
// they hold, and a factor of 1 changes nothing.
TEST(InspectPng, DownscaleAveragesBoxesIncludingPartialEdges) {
    inspect::PageImage gray;
    gray.width = 5;
    gray.height = 3;
    gray.channels = 1;
    gray.pixels = {0,  100, 200, 10, 20,  //
                   0,  100, 200, 10, 20,  //
                   50, 50,  50,  50, 50};
    inspect::PageImage half = inspect::downscale(gray, 2);
    ASSERT_EQ(half.width, 3u);
    ASSERT_EQ(half.height, 2u);
    EXPECT_EQ(half.pixels, (std::vector<uint8_t>{50, 105, 20, 50, 50, 50}));
    EXPECT_EQ(inspect::downscale(gray, 1).pixels, gray.pixels);

    inspect::PageImage rgb;
    rgb.width = rgb.height = 2;
    rgb.channels = 3;
    rgb.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    inspect::PageImage one = inspect::downscale(rgb, 4);
    ASSERT_EQ(one.width, 1u);
    EXPECT_EQ(one.pixels, (std::vector<uint8_t>{128, 128, 128}));
}
