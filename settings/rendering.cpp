// Rendering and finishing options: each setter reads one option (ticket
// first, then the PPD option's default choice) and turns it into the word the
// printer's PJL variable expects, or into a value the page writers use.
#include <strings.h>

#include <cstring>
#include <ctime>
#include <string>

#include "base/messages.h"
#include "base/processstate.h"
#include "settings/jobsettings.h"
#include "settings/options.h"
#include "settings/ppd.h"

namespace {

JobClock gJobClock = nullptr;  // null: the system clock
const StateReset kResetJobClock([] { gJobClock = nullptr; });

time_t jobNow() {
    return gJobClock != nullptr ? gJobClock() : std::time(nullptr);
}

// One accepted option value, the field's word for it, and the line written
// to standard error when it is taken (null for none).
struct WordMapping {
    const char* value;
    const char* word;
    const char* message;
};

template <size_t N>
const WordMapping* findMapping(const WordMapping (&table)[N], const std::string& value) {
    for (const WordMapping& entry : table) {
        if (value == entry.value) return &entry;  // exact and case-sensitive
    }
    return nullptr;
}

bool equalsIgnoringCase(const std::string& value, const char* word) {
    return strcasecmp(value.c_str(), word) == 0;
}

}  // namespace

void setJobClock(JobClock clock) {
    gJobClock = clock;
}

void setDuplexDryTime(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "DupDryTime");
    record->duplexDryTime = value.found() ? value.text : kInvalidOption;
}

void setSharpen(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "Sharpen");
    if (!value.found()) {
        record->sharpen = kInvalidOption;
        return;
    }
    if (equalsIgnoringCase(value.text, "on")) {
        record->sharpen = "ON";
    } else if (equalsIgnoringCase(value.text, "off")) {
        record->sharpen = "OFF";
    } else {
        // A value that is neither on nor off: no LSHARPEN line at all, so
        // the printer keeps its own setting.
        record->sharpen = kInvalidOption;
    }
    msgf("sharpenValue=%s => jobsetting->sharpen=%s\n", value.text.c_str(),
         record->sharpen.c_str());
}

void setColorPreference(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "ColorPreferences");
    // A gray job always uses the image colour table; so does a job that
    // names no preference.
    if (record->isColor == 0 || !value.found()) {
        record->colorPreference = "IMAGE";
        return;
    }
    static constexpr WordMapping kPreferences[] = {
        {"Automatic", "OBJECT", nullptr},
        {"Natural", "IMAGE", nullptr},
        {"Vivid", "GRAPHIC", nullptr},
    };
    const WordMapping* mapping = findMapping(kPreferences, value.text);
    record->colorPreference = mapping != nullptr ? mapping->word : "OBJECT";
}

void setTonerSave(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "TonerSave");
    if (!value.found()) {
        record->tonersave = kInvalidOption;
        return;
    }
    // "true" is what the spooler makes of a bare TonerSave; anything not
    // switching it on leaves toner saving off.
    record->tonersave = (value.text == "On" || value.text == "true") ? "ON" : "OFF";
    msgf("jobsetting->tonersave: %s", record->tonersave.c_str());
}

void setHalftone(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "HalftoneLevel");
    msgf("Halftone is Dither in FILTER\n");
    if (!value.found() || value.text == "Dither") {
        if (value.found()) msgf("Halftone is Dither in FILTER\n");
        record->halftone = "DITHER";
    } else {
        msgf("Halftone is ErrorDiffusion in FILTER\n");
        record->halftone = "ERRORDIFFUSION";
    }
}

void setThreshold(JobSetting* record, const char* options) {
    {
        TicketOptions ticket(options);
        if (const char* text = ticket.get("threshold")) {
            record->threshold = leadingInt(text);
            msgf("Found Threshold = (%d) from ticket IN FILTER\n", record->threshold);
            msgf("Returning successfully from setThreshold\n");
            return;
        }
    }
    msgf("Threshold NOT found in ticket IN FILTER\n");
    if (auto choice = ppdOptionDefault(jobPpd(), "threshold")) {
        record->threshold = leadingInt(choice->c_str());
        msgf("Threshold set to %d from PPD.THIS IS IN FILTER\n", record->threshold);
        msgf("Returning successfully from setThreshold\n");
        return;
    }
    msgf("Threshold not found in PPD as well\n");
    // Neither source has one: the middle of the 0..255 range the page's
    // black-and-white threshold byte can take.
    record->threshold = kDefaultThreshold;
}

void setReduceGhosting(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "reduceGhost");
    if (!value.found()) {
        record->ghosting = kInvalidOption;
    } else {
        record->ghosting = value.text == "On" ? "ON" : "OFF";
    }
}

void setPrintDensity(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "printDensity");
    if (!value.found()) {
        record->printDensity = kInvalidOption;
    } else {
        record->printDensity = value.text == "On" ? "ON" : "OFF";
    }
}

void setImprovementSettings(JobSetting* record, const char* options) {
    msgf("Entered setImprovementSettings\n");
    OptionValue value = lookupOption(options, "improve");
    if (!value.found()) {
        record->improvementSettings = kInvalidOption;
        return;
    }
    if (value.source == OptionSource::kPpd) {
        msgf(
            "improvementSettingsValue is set to PPD default value in setImprovementSettings = "
            "%s\n",
            value.text.c_str());
    }
    static constexpr WordMapping kImprovements[] = {
        {"none", "OFF", "jobsetting->improvementSettings = VALUE_OFF IN FILTER\n"},
        {"reduceCurl", "PAPERCURL",
         "jobsetting->improvementSettings = VALUE_AT_IMPROVE_PAPERCURL in filter \n"},
        {"tonerFix", "TONERFIX",
         "jobsetting->improvementSettings = VALUE_AT_IMPROVE_TONERFIX in filter \n"},
        {"wrinkleFix", "CREASE",
         "jobsetting->improvementSettings = VALUE_AT_IMPROVE_CREASE in filter \n"},
    };
    const WordMapping* mapping = findMapping(kImprovements, value.text);
    if (mapping == nullptr) {
        // An unknown improvement: no FIMPROVE line, the printer keeps its own.
        record->improvementSettings = kInvalidOption;
        return;
    }
    record->improvementSettings = mapping->word;
    msgf("%s", mapping->message);
}

void setInkToUse(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "InkToUse");
    if (!value.found()) {
        record->inkToUse = kInvalidOption;
        return;
    }
    static constexpr WordMapping kInkSets[] = {
        {"ColorBlack", "COMPOSITEBLACK", nullptr},
        {"BlackColor", "COMPOSITEBLACK", nullptr},
        {"ColorOnly", "COMPOSITEONLY", nullptr},
        {"BlackOnly", "BLACKONLY", nullptr},
    };
    const WordMapping* mapping = findMapping(kInkSets, value.text);
    record->inkToUse = mapping != nullptr ? mapping->word : "AUTOMATIC";
}

void setColorOutput(JobSetting* record, const char* options) {
    OptionValue value = lookupOption(options, "ColorOutput");
    if (!value.found()) {
        record->colorOutput = kInvalidOption;
        return;
    }
    static constexpr WordMapping kModes[] = {
        {"Mono", "Mono", "jobsetting->colorOutput = VALUE_MONO IN FILTER\n"},
        {"Color", "Color", "jobsetting->colorOutput = VALUE_COLOR IN FILTER\n"},
        {"GrayScale", "GrayScale", "jobsetting->colorOutput = VALUE_GRAYSCALE IN FILTER\n"},
        {"Black", "Black", "jobsetting->colorOutput = VALUE_BLACK IN FILTER\n"},
    };
    const WordMapping* mapping = findMapping(kModes, value.text);
    if (mapping == nullptr) {
        record->colorOutput.clear();  // no colour output mode for the page
        return;
    }
    record->colorOutput = mapping->word;
    msgf("%s", mapping->message);
    // The page's colour space must describe the data actually sent: a gray
    // raster is never announced as RGB, nor an RGB raster as gray or
    // black-and-white (a colour-mode preset can render gray while the
    // option still says Color, and the other way round).
    if (record->isColor == 0 && record->colorOutput == "Color") {
        record->colorOutput = "GrayScale";
        msgf("DEBUG: The raster is gray; ColorOutput Color is sent as GrayScale\n");
    } else if (record->isColor != 0 && record->colorOutput != "Color") {
        msgf("DEBUG: The raster is in colour; ColorOutput %s is sent as Color\n",
             record->colorOutput.c_str());
        record->colorOutput = "Color";
    }
}

void setOutputOrder(JobSetting* record, const char* options) {
    msgf("Setting output order.\n");
    std::string order;
    bool fromTicket = false;
    {
        TicketOptions ticket(options);
        if (const char* value = ticket.get("OutputOrder")) {
            order = value;
            fromTicket = true;
            msgf("Found OutputOrder(%s) from ticket.\n", value);
        }
    }
    if (!fromTicket) {
        // Not an option of its own: the PPD's DefaultOutputOrder keyword.
        PpdAttribute attr = ppdAttribute(jobPpd(), "DefaultOutputOrder");
        switch (attr.state) {
            case PpdAttribute::kValue:
                order = attr.value;
                msgf("PPD OutputOrder(%s).\n", order.c_str());
                break;
            case PpdAttribute::kNoValue:
                order = "Normal";
                msgf("Last resort OutputOrder(%s).\n", order.c_str());
                break;
            case PpdAttribute::kAbsent:
                order = "Normal";
                msgf("optionNull Last resort OutputOrder(%s).\n", order.c_str());
                break;
        }
    }
    record->outputOrderReverse = order == "Reverse" ? 1 : 0;
}

void setOrientation(JobSetting* record, const char* options) {
    // IPP orientation-requested: 3 portrait, 4 landscape, 5 reverse
    // landscape, 6 reverse portrait.  The PPD has no say.
    TicketOptions ticket(options);
    switch (leadingInt(ticket.get("orientation-requested"))) {
        case 4:
            record->orientation = 1;
            break;
        case 5:
            record->orientation = 3;
            break;
        case 6:
            record->orientation = 2;
            break;
        default:
            record->orientation = 0;
            break;
    }
}

void setMirror(JobSetting* record, const cups_page_header2_t* header, const char* options) {
    record->mirror = static_cast<int32_t>(header->cupsRowStep);
    // Only a printer whose PPD offers mirroring honours the ticket's
    // choice; the PPD's default choice itself is not used.
    if (!ppdHasOption(jobPpd(), "ZemMirror")) return;
    TicketOptions ticket(options);
    const char* text = ticket.get("ZemMirror");
    if (text == nullptr) return;
    std::string value = text;
    if (value == "true" || value == "True" || value == "on" || value == "On") {
        // 2: the filter mirrors each line itself; 1: the raster already is.
        record->mirror = headerFlag(header->MirrorPrint) == 0 ? 2 : 1;
    } else if (value == "false" || value == "False" || value == "off" || value == "Off") {
        record->mirror = 1;
    }
}

void setFDateTime(JobSetting* record, const char*) {
    // The job's date stamp as a spreadsheet-style serial date: whole days
    // since 30 December 1899 plus the fraction of the day, in UTC.
    time_t now = jobNow();
    struct tm utc {};
    if (gmtime_r(&now, &utc) == nullptr) {
        record->fDateTime = 0.0f;  // a clock beyond what gmtime can express
        return;
    }
    long year = utc.tm_year + 1900L;
    long month = utc.tm_mon + 1L;
    long day = utc.tm_mday;
    // Julian Day Number after Fliegel and Van Flandern (Communications of
    // the ACM 11(10), 1968); every division truncates towards zero.
    long a = (month - 14) / 12;
    long jdn = 1461 * (year + 4800 + a) / 4 + 367 * (month - 2 - 12 * a) / 12 -
               3 * ((year + 4900 + a) / 100) / 4 + day - 32075;
    // JDN 2415019 is 30 December 1899.  Early 1900 counts one day less, as
    // spreadsheets do that hold 1900 to be a leap year.
    long days = jdn - 2415019;
    if (days <= 59) days -= 1;
    float fraction =
        static_cast<float>(3600 * utc.tm_hour + 60 * utc.tm_min + utc.tm_sec) / 86400.0f;
    record->fDateTime = static_cast<float>(days) + fraction;
}
