// The job inspector: reads a printer job stream as the printer would and
// checks it against what the filter must send.
//
// A job is, in order: an optional USB status prologue (NPA packets starting
// with 0xA5), the PJL job header (from ESC "%-12345X@PJL JOB" to
// "@PJL ENTER LANGUAGE=PCLXL"), the 64-byte PCL XL stream header, the PCL XL
// session (session start, pages, each with its images, session end), and the
// PJL trailer (ESC "%-12345X@PJL EOJ" ... ending in a second ESC "%-12345X").
//
// inspectJob() never fails as a call: every deviation becomes an Issue with the
// byte offset where it was found and what was expected there.  Each image is
// decoded (JPEG bands and TBRLE tag plane) unless InspectOptions::decode is
// off, and when a page callback is given, every printed page side is
// assembled and handed to it, one at a time, so memory stays bounded by one
// page (at most InspectOptions::maxPagePixels pixels).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace inspect {

struct Issue {
    uint64_t offset = 0;
    std::string message;
};

struct NpaPacket {
    uint64_t offset = 0;
    uint32_t length = 0;  // whole packet, start byte included
    std::string name;     // the request it matches, or "unknown"
};

struct PjlLine {
    uint64_t offset = 0;
    std::string text;  // without its line feed
};

struct PjlSetting {
    std::string name;
    std::string value;  // surrounding double quotes removed
};

struct ImageInfo {
    uint64_t offset = 0;                     // the SetCursor operation
    int x = 0, y = 0;                        // Point
    uint32_t width = 0;                      // SourceWidth
    uint32_t rows = 0;                       // SourceHeight
    uint64_t jpegOffset = 0, jpegBytes = 0;  // embedded data of the picture block
    uint64_t tagOffset = 0, tagBytes = 0;    // embedded data of the tag block
    int restartMarkers = 0;                  // RSTn markers in the picture data
    int flatMarkers = 0;                     // 0xFF 0x2B
    int tableMarkers = 0;                    // 0xFF 0x2C
    bool decoded = false;                    // both blocks decoded without error
    std::array<uint64_t, 4> tagCounts{};     // decoded tag values 0..3
};

struct PageInfo {
    uint64_t offset = 0;    // first attribute of BeginPage
    uint64_t end = 0;       // after EndPage (or where the page was cut off)
    bool complete = false;  // EndPage seen
    int orientation = -1;
    int mediaSource = -1;
    int mediaSize = -1;         // MediaSize as an enumeration
    std::string mediaSizeName;  // MediaSize as a name
    bool customSize = false;
    double customWidth = 0, customHeight = 0;  // CustomMediaSize, inches
    std::string mediaType;                     // empty when absent ("Automatic")
    int jobCopies = -1;
    int borderType = -1;
    int originX = 0, originY = 0;
    int colorSpace = -1;  // absent: -1
    int bwThreshold = -1;
    int halftone = -1;
    int colorJob = -1;
    int modeValue = -1;
    int pageCopies = -1;
    uint32_t width = 0;   // pixels: SourceWidth of the images
    uint32_t height = 0;  // pixels: rows of all images
    std::vector<ImageInfo> images;

    bool isColor() const { return colorJob == 1; }
    uint64_t bytes() const { return end - offset; }
};

struct InspectResult {
    uint64_t size = 0;
    std::vector<NpaPacket> prologue;
    std::vector<PjlLine> pjlLines;
    std::vector<PjlSetting> pjlSettings;
    uint64_t streamHeaderOffset = 0;
    std::string streamHeader;  // without its line feed
    int resolution = 0;        // UnitsPerMeasure
    std::vector<PageInfo> pages;
    std::vector<PjlLine> trailerLines;
    bool complete = false;  // the job ended with the trailer's closing ESC "%-12345X"
    std::vector<Issue> errors;
    std::vector<Issue> warnings;
    size_t droppedIssues = 0;  // beyond InspectOptions::maxIssues

    bool ok() const { return errors.empty(); }
    // The value of a PJL SET variable, or empty.
    std::string pjl(const std::string& name) const;
};

// One assembled page side: width x height pixels, 3 channels (RGB) for a
// colour page, 1 (gray) otherwise, rows packed.
struct PageImage {
    uint32_t width = 0, height = 0;
    int channels = 1;
    std::vector<uint8_t> pixels;
};

struct InspectOptions {
    bool decode = true;
    // Largest page (width x rows) that is decoded; larger ones are an error.
    uint64_t maxPagePixels = uint64_t{160} << 20;
    // Errors and warnings kept; further ones are only counted.
    size_t maxIssues = 200;
    // Called once per page side (in job order, 0-based) when it ends, with
    // the assembled page; needs decode on.  Rows that no image covers, or
    // whose image did not decode, are white; a page without images, or one
    // beyond maxPagePixels, comes as an empty (0 x 0) image.
    std::function<void(size_t index, const PageInfo& page, const PageImage& image)> onPage;
};

InspectResult inspectJob(std::span<const uint8_t> job, const InspectOptions& options = {});

// Human-readable name of a MediaSize enumeration value ("A4"), or "".
std::string mediaSizeEnumName(int value);

}  // namespace inspect
