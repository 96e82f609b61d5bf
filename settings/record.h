// The job settings record: everything the print stream needs to know about a
// job.  Plain data, free of libcups types, so that the writers of the print
// stream can take it without the CUPS headers; settings/jobsettings.h fills it.
#pragma once

#include <cstddef>
#include <cstdint>
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
