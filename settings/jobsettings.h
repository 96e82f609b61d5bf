// Filling the job settings record (settings/record.h) once per job from the
// first raster page header, the job's option string (the ticket) and the
// printer's PPD file.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "settings/record.h"

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
