// Shared set-up of the job settings tests: a fresh record, a typical first
// page header, the PPD chosen through $PPD, and captured standard error.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "base/messages.h"
#include "base/processstate.h"
#include "settings/jobsettings.h"

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { resetAll(); }
    void TearDown() override {
        resetAll();
        if (!scratchPpd_.empty()) std::remove(scratchPpd_.c_str());
    }

    static void resetAll() {
        unsetenv("PPD");
        resetProcessState();
    }

    // Points $PPD at tests/data/settings/<name> and drops the shared handle.
    static void usePpd(const std::string& name) {
        std::string path = std::string(QZ_TEST_DATA_DIR) + "/settings/" + name;
        setenv("PPD", path.c_str(), 1);
        resetJobPpd();
    }

    // Writes a minimal PPD whose only option is PageSize with `defaultSize`
    // as its default choice, and uses it.
    void usePpdWithDefaultSize(const std::string& defaultSize) {
        if (!scratchPpd_.empty()) std::remove(scratchPpd_.c_str());
        char path[] = "/tmp/qz-settings-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        scratchPpd_ = path;
        std::ofstream out(scratchPpd_);
        out << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
               "*ModelName: \"Quenzel Size Test\"\n*NickName: \"Quenzel Size Test\"\n"
               "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: "
            << defaultSize << "\n*PageSize " << defaultSize
            << ": \"\"\n*PageSize Letter: \"\"\n*CloseUI: *PageSize\n";
        out.close();
        setenv("PPD", scratchPpd_.c_str(), 1);
        resetJobPpd();
    }

    // A colour Letter page at 600 dpi with quarter-inch margins.
    static cups_page_header2_t letterHeader() {
        cups_page_header2_t h{};
        std::strcpy(h.OutputType, "Normal");
        std::strcpy(h.MediaType, "Plain");
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.PageSize[0] = 612;
        h.PageSize[1] = 792;
        h.ImagingBoundingBox[0] = 18;
        h.ImagingBoundingBox[1] = 36;
        h.ImagingBoundingBox[2] = 594;
        h.ImagingBoundingBox[3] = 756;
        h.Margins[0] = 18;
        h.Margins[1] = 36;
        h.cupsWidth = 4800;
        h.cupsHeight = 6000;
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        return h;
    }

    // Standard error written while `action` runs.
    static std::string stderrOf(const std::function<void()>& action) {
        testing::internal::CaptureStderr();
        action();
        return testing::internal::GetCapturedStderr();
    }

    JobSetting record;
    cups_page_header2_t header = letterHeader();

  private:
    std::string scratchPpd_;
};
