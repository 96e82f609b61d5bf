// The job settings record: initializeJobSetting and the setters that copy
// values straight from the first page's raster header.  The paper size lives
// in papersize.cpp, the rendering and finishing options in rendering.cpp.
#include "settings/jobsettings.h"

#include <cstring>
#include <string>

#include "base/processstate.h"
#include "settings/options.h"

JobSetting* jobsetting = nullptr;
uint8_t collatedFlag_Prototype = 0;

namespace {
const StateReset kResetRecord([] {
    jobsetting = nullptr;
    collatedFlag_Prototype = 0;
});
}  // namespace

namespace {

// Raster header text fields are fixed char[64] arrays filled by whoever wrote
// the raster; one without a terminating NUL must not be read past its end.
template <size_t N>
std::string headerText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

uint32_t headerFlag(const cups_bool_t& field) {
    static_assert(sizeof(cups_bool_t) == sizeof(uint32_t));
    uint32_t value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

void initializeJobSetting(JobSetting* record, cups_page_header2_t* header, const char* options) {
    if (record == nullptr || header == nullptr) return;
    // The order is fixed: setColorPreference reads isColor, which
    // setColorModel writes before it; no setter reads a later one's field.
    setPrintQuality(record, header);
    setResolution(record, header);
    setCollation(record, header, options);
    setDuplex(record, header);
    setPaperSize(record, header, options);
    setOutputOrder(record, options);
    setOrientation(record, options);
    setMediaType(record, header);
    setCopies(record);
    setDuplexDryTime(record, options);
    setMediaSource(record, header);
    setColorModel(record, header);
    setColorPreference(record, options);
    setTonerSave(record, options);
    setHalftone(record, options);
    setThreshold(record, options);
    setReduceGhosting(record, options);
    setPrintDensity(record, options);
    setImprovementSettings(record, options);
    setInkToUse(record, options);
    setMirror(record, header, options);
    setSharpen(record, options);
    setColorOutput(record, options);
    setFDateTime(record, options);
}

void setPrintQuality(JobSetting* record, const cups_page_header2_t* header) {
    record->printQuality = headerText(header->OutputType);
}

void setResolution(JobSetting* record, const cups_page_header2_t* header) {
    record->resolution = header->HWResolution[0];
}

void setCollation(JobSetting* record, const cups_page_header2_t*, const char* options) {
    // Ticket only: any Collate value but "false" asks for collated copies.
    // The flag belongs to the copies logic and is only ever raised here.
    record->collation = "OFF";
    TicketOptions ticket(options);
    const char* value = ticket.get("Collate");
    if (value != nullptr && std::strcmp(value, "false") != 0) {
        record->collation = "ON";
        collatedFlag_Prototype = 1;
    }
}

void setDuplex(JobSetting* record, const cups_page_header2_t* header) {
    // Only the value 1 counts: a Duplex of 2 is simplex.
    record->binding = "LONGEDGE";
    if (headerFlag(header->Duplex) == 1) {
        record->duplex = "ON";
        if (headerFlag(header->Tumble) == 1) record->binding = "SHORTEDGE";
    } else {
        record->duplex = "OFF";
    }
}

void setMediaType(JobSetting* record, const cups_page_header2_t* header) {
    record->mediaType = headerText(header->MediaType);
}

void setCopies(JobSetting* record) {
    // The printer makes one copy of each page; the filter repeats pages itself.
    record->copies = 1;
}

void setMediaSource(JobSetting* record, const cups_page_header2_t* header) {
    record->mediaSource = header->MediaPosition;
}

void setColorModel(JobSetting* record, const cups_page_header2_t* header) {
    if (headerNumber(header->cupsColorSpace) == CUPS_CSPACE_W) {
        record->colorModel = "BLACK";
        record->isColor = 0;
    } else {
        record->colorModel = "CMYK";
        record->isColor = 1;
    }
}
