// Paper size and printable area: which of the printer's three page size forms
// (MediaSize enumeration, media name, custom inches) the job uses, whether it
// prints borderless, and for custom sizes the padded page and image extents.
#include "settings/papersize.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "settings/jobsettings.h"
#include "settings/options.h"
#include "settings/ppd.h"

namespace {

// How a row's keywords are matched against a page size name (case-sensitive).
enum class Test : uint8_t {
    kAbsent,    // the row is not part of this table
    kContains,  // a keyword occurs anywhere in the name
    kEquals,    // the name is exactly a keyword
};

struct Outcome {
    MediaSizeKind kind;
    int32_t value;     // kMediaSizeEnumerated: PCL XL MediaSize enumeration
    const char* name;  // kMediaSizeNamed: media name for the printer
};

constexpr Outcome enumerated(int32_t value) {
    return {kMediaSizeEnumerated, value, nullptr};
}
constexpr Outcome named(const char* name) {
    return {kMediaSizeNamed, 0, name};
}
constexpr Outcome kCustomSize{kMediaSizeCustom, 0, nullptr};

using Keys = std::array<std::string_view, 3>;

// One row serves both tables: the ticket's page size name and the PPD's
// default page size are tested against the same rows in the same order, with
// a few rows absent from, or differing in, the PPD default table.
struct MediaRow {
    Test ticketTest;
    Test ppdTest;
    Keys keys;
    Outcome ticket;
    Outcome ppd;
};

constexpr MediaRow both(Test test, Keys keys, Outcome outcome) {
    return {test, test, keys, outcome, outcome};
}
constexpr MediaRow ticketOnly(Test test, Keys keys, Outcome outcome) {
    return {test, Test::kAbsent, keys, outcome, outcome};
}

constexpr Test kHas = Test::kContains;
constexpr Test kIs = Test::kEquals;

// First match wins, so order matters: "5x7" catches "2L-5x7in.Photo" and
// "5x7.Photo" before their own rows on the ticket path, "B5ISO" and
// "EnvISOB5" come before the plain "B5", and "B6ISO" before "B6".
constexpr std::array<MediaRow, 50> kMediaRows = {{
    both(kHas, {"Letter"}, enumerated(0)),
    both(kHas, {"Legal"}, enumerated(1)),
    both(kIs, {"Statement"}, enumerated(19)),
    both(kIs, {"Executive"}, enumerated(3)),
    both(kIs, {"Folio"}, enumerated(17)),
    both(kIs, {"Oficio"}, named("OFICIO")),
    both(kHas, {"Card3x5"}, named("INDEX CARD")),
    both(kHas, {"Custom"}, kCustomSize),
    both(kHas, {"4x6"}, named("4 x 6 in")),
    ticketOnly(kHas, {"5x7"}, named("5 x 7 in")),
    ticketOnly(kHas, {"3x5"}, named("3 x 5 in")),
    ticketOnly(kHas, {"3.5x5"}, named("3.5 x 5 in")),
    both(kHas, {"10x15cm"}, named("10 x 15 cm")),
    both(kHas, {"4x8"}, named("4 x 8 in")),
    both(kHas, {"10x20cm"}, named("10 x 20 cm")),
    both(kHas, {"A4"}, enumerated(2)),
    both(kHas, {"A5"}, enumerated(16)),
    both(kHas, {"A6"}, named("A6")),
    both(kHas, {"PostcardHagaki"}, enumerated(14)),
    ticketOnly(kHas, {"Hagaki"}, named("JPOST")),
    // The printer knows the double postcard by name; a PPD default selects
    // it by number.
    {kHas, kHas, {"DoublePostcard"}, named("JPOSTD"), enumerated(15)},
    ticketOnly(kHas, {"8x10in"}, named("8 X 10 in")),
    both(kHas, {"2L-5x7in.Photo", "2L.Photo"}, named("2L")),
    both(kHas, {"L-312x5.Photo", "L.Photo", "312x5.Photo"}, named("L")),
    both(kHas, {"5x7.Photo"}, named("5 x 7 in")),
    both(kHas, {"13x18cm"}, named("13 x 18 cm")),
    both(kIs, {"Envelope.279.540"}, enumerated(7)),
    // 255 lies outside the published enumeration; the printer takes it as
    // its #9 envelope.
    both(kIs, {"Env9"}, enumerated(255)),
    both(kIs, {"Env10"}, enumerated(6)),
    both(kIs, {"EnvC5"}, enumerated(8)),
    both(kIs, {"EnvDL"}, enumerated(9)),
    both(kIs, {"EnvISOB5"}, named("B5 ENV")),
    ticketOnly(kIs, {"Envelope_jpn_C3"}, named("CHOKEI 3")),
    ticketOnly(kIs, {"Envelope_jpn_C4"}, named("CHOKEI 4")),
    ticketOnly(kIs, {"Envelope_jpn_Y4"}, named("YOUKEI 4")),
    // The ticket must name ISO B5 exactly; a PPD default only has to contain it.
    {kIs, kHas, {"B5ISO"}, enumerated(13), enumerated(13)},
    both(kHas, {"B5"}, enumerated(11)),
    both(kIs, {"EnvC6"}, named("C6")),
    both(kIs, {"Envelope.314.414"}, named("A2 BARONIAL")),
    both(kIs, {"Envelop.261.448"}, named("PERSONAL")),
    both(kIs, {"EnvChou3"}, named("CHOKEI 3")),
    both(kIs, {"EnvChou4"}, named("CHOKEI 4")),
    both(kIs, {"Envelope.255.638"}, named("CHOKEI 40")),
    both(kIs, {"EnvKaku3"}, named("KAKU 3")),
    both(kIs, {"Envelope.558.757"}, named("KAKU 4")),
    both(kIs, {"Envelope.538.680"}, named("KAKU 5")),
    both(kIs, {"Envelope.459.649"}, named("KAKU 6")),
    both(kIs, {"OthEnv"}, named("OTHER ENVELOPE")),
    both(kHas, {"B6ISO"}, named("B6")),
    both(kHas, {"B6"}, enumerated(18)),
}};

enum class Source { kTicket, kPpdDefault };

bool rowMatches(Test test, const Keys& keys, std::string_view name) {
    for (std::string_view key : keys) {
        if (key.empty()) continue;
        if (test == Test::kContains && name.find(key) != std::string_view::npos) return true;
        if (test == Test::kEquals && name == key) return true;
    }
    return false;
}

const Outcome* matchMedia(std::string_view name, Source source) {
    for (const MediaRow& row : kMediaRows) {
        Test test = source == Source::kTicket ? row.ticketTest : row.ppdTest;
        if (test != Test::kAbsent && rowMatches(test, row.keys, name)) {
            return source == Source::kTicket ? &row.ticket : &row.ppd;
        }
    }
    return nullptr;
}

void setEnumeratedSize(JobSetting* record, int32_t value) {
    record->mediaSizeKind = kMediaSizeEnumerated;
    std::memset(&record->mediaSize, 0, sizeof record->mediaSize);
    record->mediaSize.mediaSizeEnum = value;
}

void setNamedSize(JobSetting* record, const char* name) {
    record->mediaSizeKind = kMediaSizeNamed;
    std::memset(&record->mediaSize, 0, sizeof record->mediaSize);
    // At most 63 characters, so the name stays NUL-terminated in its 64 bytes.
    size_t length = strnlen(name, kMaxMediaNameLength);
    std::memcpy(record->mediaSize.mediaSizeName, name, length);
}

// Pixel counts and margins of the header are unsigned; the record's are signed.
int32_t clampToInt32(uint32_t value) {
    return value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

// A custom page: the page extent is the padded raster image plus the left
// (bottom) margin on both sides, capped by the printer's largest medium.
void setCustomSize(JobSetting* record, cups_page_header2_t* header, Source source) {
    record->mediaSizeKind = kMediaSizeCustom;
    std::memset(&record->mediaSize, 0, sizeof record->mediaSize);
    record->customMarg = clampToInt32(header->Margins[0]);

    // A raster without a resolution is taken as 600 dpi.  Only the ticket
    // path writes that back into the header, where later users see it; the
    // PPD default path leaves the header alone and the arithmetic below
    // substitutes 600 for a zero resolution by itself.
    if (source == Source::kTicket) {
        if (header->HWResolution[0] == 0) header->HWResolution[0] = kFallbackResolution;
        if (header->HWResolution[1] == 0) header->HWResolution[1] = kFallbackResolution;
    }

    // The largest medium in points; a PPD giving none, or a nonsensical
    // non-positive one, leaves the 8.5 x 14 inch default.
    ppd_file_t* ppd = jobPpd();
    int maxWidth = getIntAttrFromPPD(ppd, "MaxMediaWidth", kDefaultMaxMediaWidth);
    if (maxWidth <= 0) maxWidth = kDefaultMaxMediaWidth;
    float pageW = decideCustomPageWidth(header->cupsWidth, header->Margins[0],
                                        static_cast<uint32_t>(maxWidth), header->HWResolution[0]);
    record->mediaSize.custom.paddedPageW = pageW;
    record->paddedPixW = decideCustomPixelWidth(header->Margins[0], header->HWResolution[0], pageW);

    int maxHeight = getIntAttrFromPPD(ppd, "MaxMediaHeight", kDefaultMaxMediaHeight);
    if (maxHeight <= 0) maxHeight = kDefaultMaxMediaHeight;
    float pageH = decideCustomPageWidth(header->cupsHeight, header->Margins[1],
                                        static_cast<uint32_t>(maxHeight), header->HWResolution[1]);
    record->mediaSize.custom.paddedPageH = pageH;

    msgf("%s:paddedPageW=%.6f paddedPageH=%.6f paddedPixW=%d customMarg=%d\n",
         source == Source::kTicket ? "sps" : "cms", static_cast<double>(pageW),
         static_cast<double>(pageH), record->paddedPixW, record->customMarg);
}

void applyOutcome(JobSetting* record, cups_page_header2_t* header, const Outcome& outcome,
                  Source source) {
    switch (outcome.kind) {
        case kMediaSizeEnumerated:
            setEnumeratedSize(record, outcome.value);
            break;
        case kMediaSizeNamed:
            setNamedSize(record, outcome.name);
            break;
        case kMediaSizeCustom:
            setCustomSize(record, header, source);
            break;
    }
}

// `value` to two decimals the way "%.2f" prints it (round to nearest), read
// back as a float.  to_chars/from_chars do the same as snprintf/strtof but
// do not depend on the locale's decimal point.
float toHundredths(float value) {
    std::array<char, 64> text;
    auto [end, error] = std::to_chars(text.data(), text.data() + text.size(),
                                      static_cast<double>(value), std::chars_format::fixed, 2);
    if (error != std::errc()) return value;
    float result = value;
    std::from_chars(text.data(), end, result);
    return result;
}

}  // namespace

float decideCustomPageWidth(uint32_t pixels, uint32_t marginPoints, uint32_t maximumPoints,
                            uint32_t resolution) {
    if (resolution == 0) resolution = kFallbackResolution;  // never divide by zero
    // Pad the image to a multiple of 16 pixels (in 64 bits: a width near
    // 2^32 must not wrap to 0).
    uint64_t padded = (uint64_t{pixels} + 15) & ~uint64_t{15};
    // Both margins in pixels, in double precision; the sum is rounded to
    // single precision and divided by the resolution in single precision.
    double margins = 2.0 * marginPoints * resolution / 72.0;
    float sum = static_cast<float>(static_cast<double>(padded) + margins);
    float width = sum / static_cast<float>(resolution);
    float rounded = toHundredths(width);
    float limit = static_cast<float>(maximumPoints / 72.0);
    float result = limit < rounded ? limit : rounded;
    // One line: every message ends its line.
    msgf("b4 %.2f   ->   ( %.2f vs %.2f ) -> after %.2f\n", static_cast<double>(width),
         static_cast<double>(rounded), static_cast<double>(limit), static_cast<double>(result));
    return result;
}

int32_t decideCustomPixelWidth(uint32_t marginPoints, uint32_t resolution, float pageWidthInches) {
    if (resolution == 0) resolution = kFallbackResolution;
    // Page width in pixels (single precision) less both margins (double).
    float page = pageWidthInches * static_cast<float>(resolution);
    double pixels = static_cast<double>(page) - 2.0 * marginPoints * resolution / 72.0;
    // A page no wider than its margins has no image (and a negative width
    // would corrupt every buffer sized from it); out-of-range values would
    // make the conversion below undefined.
    if (!(pixels > 0.0)) return 0;
    constexpr int32_t kLargest = INT32_MAX - 15;  // a multiple of 16
    if (pixels > kLargest) return kLargest;
    int32_t n = static_cast<int32_t>(pixels);  // truncates towards zero
    return (n + 15) / 16 * 16;
}

void checkMediaSize(JobSetting* record, cups_page_header2_t* header, const char* name) {
    const Outcome* outcome = name != nullptr ? matchMedia(name, Source::kPpdDefault) : nullptr;
    if (outcome == nullptr) {
        setEnumeratedSize(record, 0);  // Letter
        return;
    }
    applyOutcome(record, header, *outcome, Source::kPpdDefault);
}

void setPaperSize(JobSetting* record, cups_page_header2_t* header, const char* options) {
    ppd_file_t* ppd = jobPpd();
    setEnumeratedSize(record, 0);  // Letter until something says otherwise
    record->pageMode = "NORMAL";

    TicketOptions ticket(options);
    // The page size keyword, or failing that the first "media..." option
    // (media itself, but also any longer name starting with it).
    const char* name = ticket.get("PageSize");
    if (name == nullptr) name = ticket.firstWithPrefix("media");

    if (name != nullptr && *name != '\0') {
        std::string chosen = name;
        if (const Outcome* outcome = matchMedia(chosen, Source::kTicket)) {
            applyOutcome(record, header, *outcome, Source::kTicket);
        } else if (auto fallback = ppdOptionDefault(ppd, "PageSize")) {
            // An unknown name: the PPD's default size stands in for it,
            // borderless test included.
            checkMediaSize(record, header, fallback->c_str());
            chosen = std::move(*fallback);
        }
        if (chosen.find("FullBleed") != std::string::npos) record->pageMode = "EDGETOEDGE";
        return;
    }

    // No size in the ticket: borderless when the imageable area is the
    // whole sheet, and the PPD's default size.
    const unsigned* box = header->ImagingBoundingBox;
    if (box[0] == 0 && box[1] == 0 && box[2] == header->PageSize[0] &&
        box[3] == header->PageSize[1]) {
        record->pageMode = "EDGETOEDGE";
    }
    if (auto fallback = ppdOptionDefault(ppd, "PageSize")) {
        checkMediaSize(record, header, fallback->c_str());
    }
}

namespace {

struct Unit {
    std::string_view name;
    double points;  // points per unit
};
constexpr Unit kUnits[] = {{"in", 72.0},         {"cm", 72.0 / 2.54}, {"mm", 72.0 / 25.4},
                           {"m", 72.0 / 0.0254}, {"ft", 72.0 * 12},   {"pt", 1.0}};

// A non-negative decimal number at the start of `text`; advances past it.
std::optional<double> takeNumber(std::string_view& text) {
    double value = 0;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || !(value >= 0) || !std::isfinite(value)) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    // 8.50 -> 8.5, 3.00 -> 3
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.') out.pop_back();
    return out;
}

std::string inchesAndPoints(double width, double height) {
    return formatNumber(width / 72.0) + " x " + formatNumber(height / 72.0) + " in (" +
           formatNumber(width) + " x " + formatNumber(height) + " pt)";
}

}  // namespace

std::optional<CustomPageRequest> parseCustomPageName(std::string_view name) {
    constexpr std::string_view kPrefix = "Custom.";
    if (!startsWithNoCase(name, kPrefix)) return std::nullopt;
    std::string_view rest = name.substr(kPrefix.size());
    CustomPageRequest request;
    auto width = takeNumber(rest);
    if (!width || rest.empty() || (rest.front() != 'x' && rest.front() != 'X')) return request;
    rest.remove_prefix(1);
    auto height = takeNumber(rest);
    if (!height) return request;
    double scale = 1.0;
    if (!rest.empty()) {
        const Unit* unit = nullptr;
        for (const Unit& u : kUnits) {
            if (rest.size() == u.name.size() && startsWithNoCase(rest, u.name)) unit = &u;
        }
        if (unit == nullptr) return request;
        scale = unit->points;
        request.unitGiven = true;
    }
    request.widthPoints = *width * scale;
    request.heightPoints = *height * scale;
    return request;
}

std::string customSizeRefusal(const char* options, const ppd_file_t* ppd) {
    TicketOptions ticket(options);
    const char* name = ticket.get("PageSize");
    if (name == nullptr) name = ticket.firstWithPrefix("media");
    if (name == nullptr) return {};
    auto request = parseCustomPageName(name);
    if (!request) return {};
    if (ppd == nullptr || ppd->variable_sizes == 0) return {};
    const double minW = ppd->custom_min[0], minH = ppd->custom_min[1];
    const double maxW = ppd->custom_max[0], maxH = ppd->custom_max[1];
    if (!(maxW > 0) || !(maxH > 0)) return {};
    // Half a point of slack, so that 76.2 x 127 mm still counts as 3 x 5 in.
    constexpr double kSlack = 0.5;
    const double w = request->widthPoints, h = request->heightPoints;
    if (w + kSlack >= minW && w - kSlack <= maxW && h + kSlack >= minH && h - kSlack <= maxH) {
        return {};
    }
    std::string why = "The custom page size " + std::string(name);
    if (w <= 0 || h <= 0) {
        why += " cannot be read as a width and a height";
    } else {
        why += " is " + inchesAndPoints(w, h);
        why += request->unitGiven ? "" : " (without a unit the numbers are points)";
    }
    why += "; this printer takes " + inchesAndPoints(minW, minH) + " to " +
           inchesAndPoints(maxW, maxH) +
           ". Give the unit after the size, as in Custom.5x7in, Custom.127x178mm or Custom.13x18cm";
    return why;
}
