// The filter as the spooler runs it, without the spooler: the real pdftopdf
// prepares the sample document for the generated printer description, then
// the built quenzel prints it (running the real pdftoraster itself), and the
// job is read back with the inspector.  Each printed side is compared with
// the raster that pdftoraster makes of the same PDF with the same options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/harness/filter_run.h"
#include "tools/inspect/inspect.h"
#include "tools/inspect/rastercmp.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kServerBin = QZ_CUPS_SERVERBIN;
const std::string kPdftopdf = kServerBin + "/filter/pdftopdf";
const std::string kPdftoraster = kServerBin + "/filter/pdftoraster";
const std::string kPpd = QZ_BUILT_PPD;
const std::string kSample = std::string(QZ_TEST_DATA_DIR) + "/sample.pdf";
// JPEG at the filter's quality keeps the sample pages well above this.
constexpr double kMinPsnr = 30.0;

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

struct Printed {
    bool ok = false;
    std::string err;  // the filter's standard error
    inspect::InspectResult job;
    inspect::RasterComparison sides;
    int rasterPages = 0;
};

class DriverChain : public testing::Test {
  protected:
    void SetUp() override {
        for (const std::string& tool : {kPdftopdf, kPdftoraster}) {
            if (::access(tool.c_str(), X_OK) != 0)
                GTEST_SKIP() << tool << " is not installed (cups-filters)";
        }
        char dir[] = "/tmp/qz-chain-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }

    // Runs one spooler filter on `input` with the description and `options`.
    harness::FilterRun runStage(const std::string& program, const std::string& input,
                                const std::string& options) {
        harness::FilterRunOptions o;
        o.binary = program;
        o.args = harness::filterArgs("1", options, input);
        o.ppd = kPpd;
        o.serverBin = kServerBin;
        o.timeout = 120s;
        return harness::runFilter(o);
    }

    // Prints the sample with `options` and `copies` and reads the job back.
    // A collated job prints each page once (pdftopdf makes such copies).
    Printed print(const std::string& options, int copies = 1, bool collated = false) {
        Printed p;
        const harness::FilterRun pdf = runStage(kPdftopdf, kSample, options);
        if (!pdf.exitedWith(0) || pdf.out.empty()) {
            ADD_FAILURE() << "pdftopdf: " << pdf.describe();
            return p;
        }
        const std::string jobPdf = dir_ + "/job.pdf";
        writeFile(jobPdf, pdf.out);

        const harness::FilterRun raster = runStage(kPdftoraster, jobPdf, options);
        if (!raster.exitedWith(0) || raster.out.empty()) {
            ADD_FAILURE() << "pdftoraster: " << raster.describe();
            return p;
        }
        const std::string rasterPath = dir_ + "/job.ras";
        writeFile(rasterPath, raster.out);

        harness::FilterRunOptions o;
        o.args = harness::filterArgs(std::to_string(copies), options);
        o.stdinBytes = pdf.out;
        o.ppd = kPpd;
        o.serverBin = kServerBin;
        o.cupsFiletype = "document";
        o.timeout = 240s;
        const harness::FilterRun run = harness::runFilter(o);
        p.err = run.err;
        if (!run.exitedWith(0)) {
            ADD_FAILURE() << "quenzel: " << run.describe();
            return p;
        }

        // Duplex as the raster says; the comparer expects the filter's copies.
        const harness::RasterDump dump = harness::readRaster(std::vector<uint8_t>(
            raster.out.begin(),
            raster.out.begin() + std::min(raster.out.size(), 4 + sizeof(cups_page_header2_t))));
        const bool duplex = !dump.pages.empty() && dump.pages[0].header.Duplex;
        inspect::RasterComparer comparer(rasterPath, collated ? 1 : copies, duplex, kMinPsnr);
        if (!comparer.open()) {
            ADD_FAILURE() << "reference raster unreadable";
            return p;
        }
        inspect::InspectOptions io;
        io.onPage = [&](size_t index, const inspect::PageInfo&, const inspect::PageImage& image) {
            comparer.compare(index, image);
        };
        p.job = inspect::inspectJob(run.out, io);
        p.sides = comparer.finish(p.job.pages.size());
        p.rasterPages = p.sides.rasterPages;
        p.ok = true;
        return p;
    }

    // Every page well-formed, every side the raster page it should be.
    static void expectSound(const Printed& p) {
        ASSERT_TRUE(p.ok);
        for (const inspect::Issue& e : p.job.errors)
            ADD_FAILURE() << "job error at " << e.offset << ": " << e.message;
        EXPECT_TRUE(p.job.complete);
        EXPECT_EQ(p.rasterPages, 3);
        for (const std::string& e : p.sides.errors)
            ADD_FAILURE() << e;
        EXPECT_EQ(p.sides.printedSides, p.sides.expectedSides);
        for (const inspect::SideComparison& s : p.sides.sides) {
            EXPECT_TRUE(s.ok) << "side " << s.index + 1 << ": " << s.message;
        }
        for (const inspect::PageInfo& page : p.job.pages) {
            // The announced colour space matches the image data.
            if (page.colorSpace == 2) {
                EXPECT_EQ(page.colorJob, 1);
            } else if (page.colorSpace == 1 || page.colorSpace == 3) {
                EXPECT_EQ(page.colorJob, 0);
            }
        }
    }

    std::string dir_;
};

TEST_F(DriverChain, DefaultsGiveAColourLetterJobAt600DpiWithBorders) {
    const Printed p = print("");
    expectSound(p);
    const inspect::InspectResult& j = p.job;
    EXPECT_EQ(j.resolution, 600);
    EXPECT_EQ(j.pjl("RESOLUTION"), "600");
    EXPECT_EQ(j.pjl("PRINTQUALITY"), "NORMAL");
    EXPECT_EQ(j.pjl("LCOLORMODEL"), "CMYK");
    EXPECT_EQ(j.pjl("DUPLEX"), "OFF");
    EXPECT_EQ(j.pjl("BINDING"), "");
    EXPECT_EQ(j.pjl("LCOLLATION"), "OFF");
    EXPECT_EQ(j.pjl("LPAGEMODE"), "NORMAL");
    // The description's defaults are all stated: the printer is left no
    // setting of its own.
    EXPECT_EQ(j.pjl("ECONOMODE"), "OFF");
    EXPECT_EQ(j.pjl("LSHARPEN"), "OFF");
    EXPECT_EQ(j.pjl("FIMPROVE"), "OFF");
    EXPECT_EQ(j.pjl("FGHOST"), "OFF");
    EXPECT_EQ(j.pjl("FDENSITY"), "OFF");
    EXPECT_EQ(j.pjl("LCTPREFERENCE"), "OBJECT");
    EXPECT_EQ(j.pjl("LINKSET"), "AUTOMATIC");
    EXPECT_EQ(j.pjl("LDRYTIMEDELAY"), "OFF");
    ASSERT_EQ(j.pages.size(), 3u);
    for (const inspect::PageInfo& page : j.pages) {
        EXPECT_EQ(page.mediaSize, 0);  // Letter
        EXPECT_EQ(page.mediaSource, 1);
        EXPECT_EQ(page.mediaType, "");  // Automatic: no attribute
        EXPECT_EQ(page.borderType, 2);
        EXPECT_EQ(page.originX, 100);  // 12 points at 600 dpi
        EXPECT_EQ(page.originY, 100);
        EXPECT_EQ(page.colorSpace, 2);
        EXPECT_EQ(page.width, 4912u);  // 588 points, padded to 16
        EXPECT_EQ(page.height, 6400u);
    }
    EXPECT_NE(p.err.find("PAGE: 3 1"), std::string::npos);
}

TEST_F(DriverChain, A4LongEdgeDuplexWithTonerSave) {
    const Printed p = print("PageSize=A4 Duplex=DuplexNoTumble TonerSave=On");
    expectSound(p);
    EXPECT_EQ(p.job.pjl("DUPLEX"), "ON");
    EXPECT_EQ(p.job.pjl("BINDING"), "LONGEDGE");
    EXPECT_EQ(p.job.pjl("ECONOMODE"), "ON");
    ASSERT_EQ(p.job.pages.size(), 3u);
    EXPECT_EQ(p.job.pages[0].mediaSize, 2);  // A4
    // 818 points at 600 dpi are 6817 lines (rounded up), sent in whole bands of 8.
    EXPECT_EQ(p.job.pages[0].height, 6824u);
}

// IPP names as the spooler passes them (print-quality 3 is draft); two
// uncollated copies of a three-page duplex job come out as sheets 1/2, 1/2,
// 3/white, 3.
TEST_F(DriverChain, ShortEdgeDuplexWithUncollatedCopies) {
    const Printed p = print("sides=two-sided-short-edge media=Letter nocollate print-quality=3", 2);
    expectSound(p);
    EXPECT_EQ(p.job.pjl("DUPLEX"), "ON");
    EXPECT_EQ(p.job.pjl("BINDING"), "SHORTEDGE");
    EXPECT_EQ(p.job.pjl("LCOLLATION"), "OFF");
    EXPECT_EQ(p.job.pjl("PRINTQUALITY"), "DRAFT");
    EXPECT_EQ(p.job.pages.size(), 7u);
}

TEST_F(DriverChain, GrayscalePrintsGrayPagesAnnouncedAsGray) {
    const Printed p = print("ColorOutput=GrayScale");
    expectSound(p);
    EXPECT_EQ(p.job.pjl("LCOLORMODEL"), "BLACK");
    EXPECT_EQ(p.job.pjl("LCTPREFERENCE"), "IMAGE");
    ASSERT_EQ(p.job.pages.size(), 3u);
    for (const inspect::PageInfo& page : p.job.pages) {
        EXPECT_EQ(page.colorJob, 0);
        EXPECT_EQ(page.colorSpace, 1);
        EXPECT_EQ(page.halftone, 0);
    }
}

TEST_F(DriverChain, BlackAndWhiteOnA6FromTheFirstCassette) {
    const Printed p =
        print("ColorOutput=Black threshold=160 PageSize=A6 InputSlot=Tray1 MediaType=Plain");
    expectSound(p);
    ASSERT_EQ(p.job.pages.size(), 3u);
    for (const inspect::PageInfo& page : p.job.pages) {
        EXPECT_EQ(page.colorSpace, 3);
        EXPECT_EQ(page.bwThreshold, 160);
        EXPECT_EQ(page.mediaSizeName, "A6");
        EXPECT_EQ(page.mediaSource, 4);
        EXPECT_EQ(page.mediaType, "Plain");
    }
}

// Draft pages sit 50 dots from the corner: 12 points only at 300 dpi.
TEST_F(DriverChain, DraftPrintsAt300DpiAtTheDraftOrigin) {
    const Printed p = print("cupsPrintQuality=Draft");
    expectSound(p);
    EXPECT_EQ(p.job.pjl("PRINTQUALITY"), "DRAFT");
    EXPECT_EQ(p.job.pjl("RESOLUTION"), "300");
    EXPECT_EQ(p.job.resolution, 300);
    ASSERT_EQ(p.job.pages.size(), 3u);
    EXPECT_EQ(p.job.pages[0].originX, 50);
    EXPECT_EQ(p.job.pages[0].originY, 50);
    EXPECT_EQ(p.job.pages[0].width, 2464u);  // 588 points at 300 dpi, padded to 16
}

TEST_F(DriverChain, BorderlessLetterPrintsEdgeToEdge) {
    const Printed p = print("PageSize=Letter.FullBleed");
    expectSound(p);
    EXPECT_EQ(p.job.pjl("LPAGEMODE"), "EDGETOEDGE");
    ASSERT_EQ(p.job.pages.size(), 3u);
    const inspect::PageInfo& page = p.job.pages[0];
    EXPECT_EQ(page.mediaSize, 0);
    EXPECT_EQ(page.borderType, 1);
    EXPECT_EQ(page.originX, 0);
    EXPECT_EQ(page.originY, 0);
    EXPECT_EQ(page.width, 5104u);  // the whole 8.5 inches, padded to 16
    EXPECT_EQ(page.height, 6600u);
}

TEST_F(DriverChain, CustomSizeIsSentInInchesWithBorders) {
    const Printed p = print("PageSize=Custom.300x500");
    expectSound(p);
    EXPECT_EQ(p.job.pjl("LPAGEMODE"), "NORMAL");
    ASSERT_EQ(p.job.pages.size(), 3u);
    const inspect::PageInfo& page = p.job.pages[0];
    EXPECT_TRUE(page.customSize);
    EXPECT_NEAR(page.customWidth, 4.17, 0.005);  // 2304 pixels + 2 margins of 100
    EXPECT_NEAR(page.customHeight, 6.95, 0.005);
    EXPECT_EQ(page.borderType, 2);
    EXPECT_EQ(page.width, 2304u);
}

TEST_F(DriverChain, RenderingOptionsBecomeTheirPjlSettings) {
    const Printed p = print(
        "cupsPrintQuality=High Sharpen=On ColorPreferences=Vivid InkToUse=BlackOnly "
        "improve=reduceCurl reduceGhost=On printDensity=On DupDryTime=LONG collate",
        2, true);
    expectSound(p);  // collated: each page once, the copies are pdftopdf's
    EXPECT_EQ(p.job.pjl("PRINTQUALITY"), "FINE");
    EXPECT_EQ(p.job.pjl("LSHARPEN"), "ON");
    EXPECT_EQ(p.job.pjl("LCTPREFERENCE"), "GRAPHIC");
    EXPECT_EQ(p.job.pjl("LINKSET"), "BLACKONLY");
    EXPECT_EQ(p.job.pjl("FIMPROVE"), "PAPERCURL");
    EXPECT_EQ(p.job.pjl("FGHOST"), "ON");
    EXPECT_EQ(p.job.pjl("FDENSITY"), "ON");
    EXPECT_EQ(p.job.pjl("LDRYTIMEDELAY"), "LONG");
    EXPECT_EQ(p.job.pjl("LCOLLATION"), "ON");
    EXPECT_EQ(p.job.pages.size(), 3u);
}

// pdftoraster applies the description's presets for IPP print-color-mode
// (monochrome: ColorOutput=GrayScale) and renders a gray raster; the spooler
// puts the preset's ColorOutput into the ticket too, but a ticket without it
// (cupsfilter, a filter run by hand, another spooler front end) leaves the
// filter with the description's default "Color", so gray image data goes out
// on pages announced as RGB.
TEST_F(DriverChain, GrayRasterFromAColourModePresetIsNotAnnouncedAsRgb) {
    const Printed p = print("print-color-mode=monochrome");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.job.pages.size(), 3u);
    for (const inspect::PageInfo& page : p.job.pages) {
        EXPECT_EQ(page.colorJob, 0);
        EXPECT_NE(page.colorSpace, 2) << "gray image data on a page announced as eRGB";
    }
}

}  // namespace
