// The quenzel-inspect command: reports, PNG files and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/pngout.h"

using jobtest::operator+;
using jobtest::operator+=;

namespace {

namespace fs = std::filesystem;

class InspectCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qz-inspect-cli-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, const jobtest::Bytes& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    // Runs the tool with `args`; returns its exit status, output in out_.
    int run(const std::string& args) {
        const std::string outPath = (dir_ / "stdout").string();
        const std::string cmd = std::string(QZ_BINARY_DIR) + "/tools/inspect/quenzel-inspect " +
                                args + " >" + outPath + " 2>" + (dir_ / "stderr").string();
        const int status = std::system(cmd.c_str());
        std::ifstream in(outPath);
        out_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    std::string out_;
};

TEST_F(InspectCli, ReportsAndExitStatus) {
    jobtest::JobOptions o;
    o.pages = 2;
    const jobtest::Bytes good = jobtest::whiteJob(o);
    const std::string job = file("good.prn", good);
    EXPECT_EQ(run(job), 0);
    EXPECT_NE(out_.find("well-formed"), std::string::npos) << out_;
    EXPECT_EQ(run(job + " --json"), 0);
    EXPECT_NE(out_.find("\"ok\": true"), std::string::npos) << out_;
    EXPECT_EQ(run("- --json <" + job), 0);
    EXPECT_NE(out_.find("\"job\": \"-\""), std::string::npos) << out_;

    jobtest::Bytes bad = good;
    bad.resize(bad.size() - 3);
    EXPECT_EQ(run(file("bad.prn", bad)), 1);
    EXPECT_NE(out_.find("MALFORMED"), std::string::npos) << out_;

    EXPECT_EQ(run((dir_ / "missing.prn").string()), 2);
    EXPECT_EQ(run(job + " --frobnicate"), 2);
    EXPECT_EQ(run(job + " --copies 0"), 2);
    EXPECT_EQ(run(""), 2);
}

TEST_F(InspectCli, WritesOnePngPerPageSide) {
    jobtest::JobOptions o;
    o.pages = 2;
    o.color = false;
    o.width = 24;
    const std::string job = file("gray.prn", jobtest::whiteJob(o));
    const fs::path pngs = dir_ / "pages";
    ASSERT_EQ(run(job + " --png " + pngs.string()), 0) << out_;
    for (const char* name : {"page-001.png", "page-002.png"}) {
        inspect::PageImage page;
        std::string message;
        ASSERT_TRUE(inspect::readPng((pngs / name).string(), page, message)) << message;
        EXPECT_EQ(page.width, 24u);
        EXPECT_EQ(page.height, 16u);
        EXPECT_EQ(page.channels, 1);
        EXPECT_EQ(page.pixels, std::vector<uint8_t>(24 * 16, 255));
    }
    EXPECT_FALSE(fs::exists(pngs / "page-003.png"));
}

TEST_F(InspectCli, ComparesWithTheRaster) {
    jobtest::JobOptions o;
    o.pages = 2;
    o.usb = false;
    const std::string job = file("two.prn", jobtest::whiteJob(o));
    const std::string raster = (dir_ / "in.ras").string();
    ASSERT_TRUE(jobtest::writeRaster(raster, {{30, 12, 3, 255}}));
    // Label: one raster page printed with copies 2 gives two equal sides.
    EXPECT_EQ(run(job + " --raster " + raster + " --copies 2"), 0) << out_;
    EXPECT_NE(out_.find("Raster comparison: match"), std::string::npos) << out_;
    EXPECT_EQ(run(job + " --raster " + raster + " --copies 3 --json"), 3) << out_;
    EXPECT_NE(out_.find("\"expectedSides\": 3"), std::string::npos) << out_;
    EXPECT_EQ(run(job + " --raster " + (dir_ / "none.ras").string()), 2);
}

}  // namespace
