// The job settings record: everything the print stream needs to know about a
// job, gathered once from the first raster page header, the job's option
// string (the ticket) and the printer's PPD file.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

// The word a text field holds when neither the ticket nor the PPD offers its
// option; the PJL header leaves the line of such a field out.
inline constexpr const char* kInvalidOption = "INVALIDOPTION";

// Built-in values of the setters.
inline constexpr int32_t kDefaultThreshold = 128;     // threshold when no source has one
inline constexpr uint32_t kFallbackResolution = 600;  // dpi standing in for a zero resolution
inline constexpr int kDefaultMaxMediaWidth = 612;     // points (8.5 in), no MaxMediaWidth
inline constexpr int kDefaultMaxMediaHeight = 1008;   // points (14 in), no MaxMediaHeight
inline constexpr size_t kMaxMediaNameLength = 63;     // mediaSizeName, without its NUL

// How the page size is announced to the printer (JobSetting::mediaSizeKind).
enum MediaSizeKind : int32_t {
    kMediaSizeEnumerated = 1,  // mediaSize.mediaSizeEnum
    kMediaSizeNamed = 2,       // mediaSize.mediaSizeName
    kMediaSizeCustom = 3,      // mediaSize.custom
};

struct CustomPageSize {
    float paddedPageW;  // inches
    float paddedPageH;  // inches
};

union MediaSizeValue {
    int32_t mediaSizeEnum;   // a PCL XL MediaSize enumeration value
    char mediaSizeName[64];  // NUL-terminated media name, at most 63 characters
    CustomPageSize custom;
};

struct JobSetting {
    std::string binding;          // "LONGEDGE" or "SHORTEDGE"
    std::string duplex;           // "ON" or "OFF"
    std::string printQuality;     // raster header OutputType, as is
    std::string collation;        // "ON" or "OFF"
    std::string duplexDryTime;    // DupDryTime text, or INVALIDOPTION
    std::string colorModel;       // "CMYK" or "BLACK"
    std::string tonersave;        // "ON", "OFF" or INVALIDOPTION
    std::string halftone;         // "DITHER" or "ERRORDIFFUSION"
    std::string mediaType;        // raster header MediaType, as is
    std::string pageMode;         // "NORMAL" or "EDGETOEDGE"
    std::string sharpen;          // "ON", "OFF" or INVALIDOPTION
    std::string colorPreference;  // "OBJECT", "IMAGE" or "GRAPHIC"
    std::string inkToUse;         // "COMPOSITEBLACK", ... or INVALIDOPTION
    std::string colorOutput;      // "Mono", "Color", "GrayScale", "Black", INVALIDOPTION or empty
    std::string improvementSettings;  // "OFF", "PAPERCURL", "TONERFIX", "CREASE" or INVALIDOPTION
    float fDateTime = 0.0f;           // days since 30 December 1899, with the fraction of the day
    std::string ghosting;             // "ON", "OFF" or INVALIDOPTION
    std::string printDensity;         // "ON", "OFF" or INVALIDOPTION
    uint32_t resolution = 0;          // horizontal dots per inch
    uint32_t mediaSource = 0;         // raster header MediaPosition
    uint8_t isColor = 0;              // 1 unless the raster is plain gray
    int32_t mirror = 0;               // 0, 1, or 2 = the filter mirrors each page
    int32_t copies = 0;               // copies asked of the printer per page: always 1
    int32_t threshold = 0;            // black-and-white threshold
    int32_t mediaSizeKind = 0;        // MediaSizeKind
    MediaSizeValue mediaSize{};
    int32_t paddedPixW = 0;          // custom size: image width in pixels, multiple of 16
    int32_t customMarg = 0;          // custom size: left margin in points
    uint8_t outputOrderReverse = 0;  // 1 = last page first (recorded only)
    int32_t orientation = 0;  // 0 portrait, 1 landscape, 2 reverse portrait, 3 reverse landscape
};

// The job's record, owned by the job run; null outside a job.
extern JobSetting* jobsetting;

// Set to 1 by setCollation when the ticket asks for collated copies; never cleared by it.
extern uint8_t collatedFlag_Prototype;

// Fills the record, calling every setter in the fixed order below.  `header`
// is the first page's header; a custom page size may set a zero resolution in
// it to 600.
void initializeJobSetting(JobSetting* record, cups_page_header2_t* header, const char* options);

// Integer PPD attribute `name`, or `defaultValue` when absent; prints
// "%s = %d\n" or "Def %s = %d\n".
int getIntAttrFromPPD(ppd_file_t* ppd, const char* name, int defaultValue);

// The clock used by setFDateTime (time() by default); tests replace it.
using JobClock = time_t (*)();
void setJobClock(JobClock clock);

// Closes the PPD handle shared by the lookups, so that the next lookup opens
// the file named by $PPD afresh (one job per process; tests call it between cases).
void resetJobPpd();

// Setters, in the order initializeJobSetting calls them.
void setPrintQuality(JobSetting* record, const cups_page_header2_t* header);
void setResolution(JobSetting* record, const cups_page_header2_t* header);
void setCollation(JobSetting* record, const cups_page_header2_t* header, const char* options);
void setDuplex(JobSetting* record, const cups_page_header2_t* header);
void setPaperSize(JobSetting* record, cups_page_header2_t* header, const char* options);
void setOutputOrder(JobSetting* record, const char* options);
void setOrientation(JobSetting* record, const char* options);
void setMediaType(JobSetting* record, const cups_page_header2_t* header);
void setCopies(JobSetting* record);
void setDuplexDryTime(JobSetting* record, const char* options);
void setMediaSource(JobSetting* record, const cups_page_header2_t* header);
void setColorModel(JobSetting* record, const cups_page_header2_t* header);
void setColorPreference(JobSetting* record, const char* options);
void setTonerSave(JobSetting* record, const char* options);
void setHalftone(JobSetting* record, const char* options);
void setThreshold(JobSetting* record, const char* options);
void setReduceGhosting(JobSetting* record, const char* options);
void setPrintDensity(JobSetting* record, const char* options);
void setImprovementSettings(JobSetting* record, const char* options);
void setInkToUse(JobSetting* record, const char* options);
void setMirror(JobSetting* record, const cups_page_header2_t* header, const char* options);
void setSharpen(JobSetting* record, const char* options);
void setColorOutput(JobSetting* record, const char* options);
void setFDateTime(JobSetting* record, const char* options);

// A cups_bool_t field of a raster header read as the 32-bit number the raster
// stream carried.  The stream may hold any value (a Duplex of 2, say), and
// loading such a value through the two-valued enum type is undefined.
uint32_t headerFlag(const cups_bool_t& field);
// The same for the enumerated fields (cupsColorSpace, cupsColorOrder, ...): a
// hostile stream may hold values outside the enumeration's range.
template <typename Enum>
uint32_t headerNumber(const Enum& field) {
    static_assert(sizeof(Enum) == sizeof(uint32_t));
    uint32_t value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// Paper size helpers.  The two custom-size helpers take a zero resolution as
// 600 dpi; the pixel width is never negative.
void checkMediaSize(JobSetting* record, cups_page_header2_t* header, const char* name);
float decideCustomPageWidth(uint32_t pixels, uint32_t marginPoints, uint32_t maximumPoints,
                            uint32_t resolution);
int32_t decideCustomPixelWidth(uint32_t marginPoints, uint32_t resolution, float pageWidthInches);
