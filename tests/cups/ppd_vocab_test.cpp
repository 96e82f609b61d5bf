// The generated printer description speaks the filter's vocabulary.
//
// Every page size and every choice of every option the filter reads is run
// through the filter's own setters, as the spooler would hand it over (the
// choice name in the ticket) and as the description's default.  A size or
// choice the filter does not know falls silently into its catch-all (the
// default size, "OFF", "AUTOMATIC", ...), so each one is pinned here; a name
// added to quenzel.drv without a row below fails the test.  The raster side
// is checked as pdftoraster sees it, through cupsRasterInterpretPPD.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "settings/jobsettings.h"
#include "settings/ppd.h"

namespace {

const char* const kBuiltPpd = QZ_BUILT_PPD;

struct CupsPpdCloser {
    void operator()(ppd_file_t* p) const { ppdClose(p); }
};
using CupsPpd = std::unique_ptr<ppd_file_t, CupsPpdCloser>;

// The raster header pdftoraster would start from for `options` (ticket
// syntax), the description's defaults marked first.
cups_page_header2_t headerFor(ppd_file_t* ppd, const std::string& options) {
    ppdMarkDefaults(ppd);
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(options.c_str(), 0, &parsed);
    cupsMarkOptions(ppd, count, parsed);
    cups_page_header2_t h{};
    EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd, count, parsed, nullptr), 0)
        << "options '" << options << "': " << cupsRasterErrorString();
    cupsFreeOptions(count, parsed);
    return h;
}

std::vector<std::string> choicesOf(ppd_file_t* ppd, const char* keyword) {
    std::vector<std::string> names;
    if (ppd_option_t* o = ppdFindOption(ppd, keyword)) {
        for (int i = 0; i < o->num_choices; ++i)
            names.emplace_back(o->choices[i].choice);
    }
    return names;
}

class BuiltPpd : public testing::Test {
  protected:
    void SetUp() override {
        ppd_.reset(ppdOpenFile(kBuiltPpd));
        ASSERT_TRUE(ppd_) << kBuiltPpd
                          << " does not open: " << ppdErrorString(ppdLastError(nullptr));
        setenv("PPD", kBuiltPpd, 1);
        resetJobPpd();
        collatedFlag_Prototype = 0;
    }
    void TearDown() override {
        unsetenv("PPD");
        resetJobPpd();
        collatedFlag_Prototype = 0;
    }

    // Runs one setter on a fresh record with the filter's chatter muted.
    JobSetting run(const std::function<void(JobSetting&)>& setter) {
        JobSetting record;
        record.isColor = 1;
        testing::internal::CaptureStderr();
        setter(record);
        (void)testing::internal::GetCapturedStderr();
        return record;
    }

    CupsPpd ppd_;
};

// What the printer is told for each page size of the description.
struct SizeOutcome {
    int kind;  // MediaSizeKind
    int value;
    const char* name;
};
constexpr SizeOutcome E(int value) {
    return {kMediaSizeEnumerated, value, ""};
}
constexpr SizeOutcome N(const char* name) {
    return {kMediaSizeNamed, 0, name};
}

const std::map<std::string, SizeOutcome>& expectedSizes() {
    static const std::map<std::string, SizeOutcome> table = {
        {"Letter", E(0)},
        {"Legal", E(1)},
        {"Executive", E(3)},
        {"Statement", E(19)},
        {"Folio", E(17)},
        {"Oficio", N("OFICIO")},
        {"A4", E(2)},
        {"A5", E(16)},
        {"A6", N("A6")},
        {"B5", E(11)},
        {"B5ISO", E(13)},
        {"B6", E(18)},
        {"B6ISO", N("B6")},
        {"Card3x5", N("INDEX CARD")},
        {"4x6", N("4 x 6 in")},
        {"5x7", N("5 x 7 in")},
        {"4x8", N("4 x 8 in")},
        {"8x10in", N("8 X 10 in")},
        {"10x15cm", N("10 x 15 cm")},
        {"10x20cm", N("10 x 20 cm")},
        {"13x18cm", N("13 x 18 cm")},
        {"L.Photo", N("L")},
        {"2L.Photo", N("2L")},
        {"PostcardHagaki", E(14)},
        {"DoublePostcardRotated", N("JPOSTD")},
        {"Env10", E(6)},
        {"Env9", E(255)},
        {"EnvC5", E(8)},
        {"EnvC6", N("C6")},
        {"EnvDL", E(9)},
        {"EnvISOB5", N("B5 ENV")},
        {"Envelope.279.540", E(7)},
        {"Envelope.314.414", N("A2 BARONIAL")},
        {"Envelop.261.448", N("PERSONAL")},
        {"EnvChou3", N("CHOKEI 3")},
        {"EnvChou4", N("CHOKEI 4")},
        {"Envelope.255.638", N("CHOKEI 40")},
        {"EnvKaku3", N("KAKU 3")},
        {"Envelope.558.757", N("KAKU 4")},
        {"Envelope.538.680", N("KAKU 5")},
        {"Envelope.459.649", N("KAKU 6")},
        {"Letter.FullBleed", E(0)},
        {"A4.FullBleed", E(2)},
        {"4x6.FullBleed", N("4 x 6 in")},
        {"5x7.FullBleed", N("5 x 7 in")},
        {"10x15cm.FullBleed", N("10 x 15 cm")},
        {"13x18cm.FullBleed", N("13 x 18 cm")},
        {"L.Photo.FullBleed", N("L")},
        {"2L.Photo.FullBleed", N("2L")},
        {"PostcardHagaki.FullBleed", E(14)},
    };
    return table;
}

bool isBorderless(const std::string& name) {
    return name.find("FullBleed") != std::string::npos;
}

TEST_F(BuiltPpd, EveryPageSizeIsOneThePrinterIsToldByItsOwnName) {
    std::set<std::string> seen;
    for (int i = 0; i < ppd_->num_sizes; ++i) {
        const ppd_size_t& size = ppd_->sizes[i];
        const std::string name = size.name;
        if (name == "Custom") continue;
        SCOPED_TRACE(name);
        seen.insert(name);
        auto want = expectedSizes().find(name);
        ASSERT_NE(want, expectedSizes().end()) << "a size without a row in the table above";

        cups_page_header2_t h = headerFor(ppd_.get(), "PageSize=" + name);
        const JobSetting r =
            run([&](JobSetting& rec) { setPaperSize(&rec, &h, ("PageSize=" + name).c_str()); });
        ASSERT_EQ(r.mediaSizeKind, want->second.kind);
        if (want->second.kind == kMediaSizeEnumerated) {
            EXPECT_EQ(r.mediaSize.mediaSizeEnum, want->second.value);
        } else {
            EXPECT_STREQ(r.mediaSize.mediaSizeName, want->second.name);
        }
        EXPECT_EQ(r.pageMode, isBorderless(name) ? "EDGETOEDGE" : "NORMAL");
    }
    EXPECT_EQ(seen.size(), expectedSizes().size()) << "a table row the description lacks";
}

// The filter puts a bordered page image 1/6 inch (12 points) from the left
// and top edges, a borderless one at the corner: the imageable area must
// start exactly there, or everything prints shifted.
TEST_F(BuiltPpd, MarginsAreWhereTheFilterPutsThePageImage) {
    for (int i = 0; i < ppd_->num_sizes; ++i) {
        const ppd_size_t& s = ppd_->sizes[i];
        if (std::strcmp(s.name, "Custom") == 0) continue;  // checked below
        SCOPED_TRACE(s.name);
        const float margin = isBorderless(s.name) ? 0.0f : 12.0f;
        EXPECT_FLOAT_EQ(s.left, margin);
        EXPECT_FLOAT_EQ(s.bottom, margin);
        EXPECT_FLOAT_EQ(s.width - s.right, margin);
        EXPECT_FLOAT_EQ(s.length - s.top, margin);
        EXPECT_GE(s.width, 216.0f);  // nothing below the custom minimum
        EXPECT_LE(s.width, 612.0f);  // nor above the widest medium
        EXPECT_LE(s.length, 1008.0f);
    }
    // And the raster agrees: Letter at 600 dpi renders 588 x 768 points.
    const cups_page_header2_t h = headerFor(ppd_.get(), "PageSize=Letter");
    EXPECT_EQ(h.Margins[0], 12u);
    EXPECT_EQ(h.Margins[1], 12u);
    EXPECT_EQ(h.cupsWidth, 4900u);
    EXPECT_EQ(h.cupsHeight, 6400u);
    const cups_page_header2_t b = headerFor(ppd_.get(), "PageSize=Letter.FullBleed");
    EXPECT_EQ(b.cupsWidth, 5100u);
    EXPECT_EQ(b.cupsHeight, 6600u);
}

TEST_F(BuiltPpd, CustomSizesRunFromThreeByFiveToLegalWithTheSameMargins) {
    ASSERT_TRUE(ppd_->variable_sizes);
    EXPECT_FLOAT_EQ(ppd_->custom_min[0], 216.0f);
    EXPECT_FLOAT_EQ(ppd_->custom_min[1], 360.0f);
    EXPECT_FLOAT_EQ(ppd_->custom_max[0], 612.0f);
    EXPECT_FLOAT_EQ(ppd_->custom_max[1], 1008.0f);
    for (float m : ppd_->custom_margins)
        EXPECT_FLOAT_EQ(m, 12.0f);
    // The filter caps custom pages by these attributes.
    testing::internal::CaptureStderr();
    EXPECT_EQ(getIntAttrFromPPD(jobPpd(), "MaxMediaWidth", 0), 612);
    EXPECT_EQ(getIntAttrFromPPD(jobPpd(), "MaxMediaHeight", 0), 1008);
    (void)testing::internal::GetCapturedStderr();

    // A 300 x 500 point page: custom, bordered, 4.17 x 6.95 inches padded.
    cups_page_header2_t h = headerFor(ppd_.get(), "PageSize=Custom.300x500");
    EXPECT_EQ(h.PageSize[0], 300u);
    EXPECT_EQ(h.PageSize[1], 500u);
    const JobSetting r =
        run([&](JobSetting& rec) { setPaperSize(&rec, &h, "PageSize=Custom.300x500"); });
    ASSERT_EQ(r.mediaSizeKind, kMediaSizeCustom);
    EXPECT_EQ(r.pageMode, "NORMAL");
    EXPECT_EQ(r.customMarg, 12);
    EXPECT_NEAR(r.mediaSize.custom.paddedPageW, 4.17, 0.005);
    EXPECT_NEAR(r.mediaSize.custom.paddedPageH, 6.95, 0.005);
}

TEST_F(BuiltPpd, DefaultSizeIsLetterWithBorders) {
    cups_page_header2_t h = headerFor(ppd_.get(), "");
    const JobSetting r = run([&](JobSetting& rec) { setPaperSize(&rec, &h, ""); });
    EXPECT_EQ(r.mediaSizeKind, kMediaSizeEnumerated);
    EXPECT_EQ(r.mediaSize.mediaSizeEnum, 0);
    EXPECT_EQ(r.pageMode, "NORMAL");
}

// One option the filter reads: each choice of the description and the word
// (or value) the filter makes of it.
struct OptionCase {
    const char* keyword;
    std::map<std::string, std::string> words;
    std::function<std::string(JobSetting&, const char* ticket)> apply;
};

std::vector<OptionCase> optionCases() {
    auto field = [](void (*setter)(JobSetting*, const char*), std::string JobSetting::*member) {
        return [setter, member](JobSetting& r, const char* ticket) {
            setter(&r, ticket);
            return r.*member;
        };
    };
    return {
        {"TonerSave", {{"Off", "OFF"}, {"On", "ON"}}, field(setTonerSave, &JobSetting::tonersave)},
        {"Sharpen", {{"Off", "OFF"}, {"On", "ON"}}, field(setSharpen, &JobSetting::sharpen)},
        {"ColorPreferences",
         {{"Automatic", "OBJECT"}, {"Natural", "IMAGE"}, {"Vivid", "GRAPHIC"}},
         field(setColorPreference, &JobSetting::colorPreference)},
        {"InkToUse",
         {{"Automatic", "AUTOMATIC"},
          {"ColorBlack", "COMPOSITEBLACK"},
          {"ColorOnly", "COMPOSITEONLY"},
          {"BlackOnly", "BLACKONLY"}},
         field(setInkToUse, &JobSetting::inkToUse)},
        {"improve",
         {{"none", "OFF"},
          {"reduceCurl", "PAPERCURL"},
          {"tonerFix", "TONERFIX"},
          {"wrinkleFix", "CREASE"}},
         field(setImprovementSettings, &JobSetting::improvementSettings)},
        {"reduceGhost",
         {{"Off", "OFF"}, {"On", "ON"}},
         field(setReduceGhosting, &JobSetting::ghosting)},
        {"printDensity",
         {{"Off", "OFF"}, {"On", "ON"}},
         field(setPrintDensity, &JobSetting::printDensity)},
        {"DupDryTime",
         {{"OFF", "OFF"}, {"SHORT", "SHORT"}, {"MEDIUM", "MEDIUM"}, {"LONG", "LONG"}},
         field(setDuplexDryTime, &JobSetting::duplexDryTime)},
        {"ColorOutput",
         {{"Color", "Color"}, {"GrayScale", "GrayScale"}, {"Mono", "Mono"}, {"Black", "Black"}},
         [](JobSetting& r, const char* ticket) {
             // Each choice sets the raster's colour space too (RGB for Color,
             // gray for the others), and the filter keeps the two in step.
             r.isColor = std::string(ticket) == "ColorOutput=Color" ? 1 : 0;
             setColorOutput(&r, ticket);
             return r.colorOutput;
         }},
        {"threshold",
         {{"64", "64"}, {"96", "96"}, {"128", "128"}, {"160", "160"}, {"192", "192"}},
         [](JobSetting& r, const char* ticket) {
             setThreshold(&r, ticket);
             return std::to_string(r.threshold);
         }},
        {"ZemMirror",
         {{"False", "1"}, {"True", "2"}},
         [](JobSetting& r, const char* ticket) {
             cups_page_header2_t h{};  // MirrorPrint off: the filter mirrors
             setMirror(&r, &h, ticket);
             return std::to_string(r.mirror);
         }},
    };
}

TEST_F(BuiltPpd, EveryChoiceOfAFilterOptionMapsToItsOwnWord) {
    for (const OptionCase& c : optionCases()) {
        SCOPED_TRACE(c.keyword);
        const std::vector<std::string> choices = choicesOf(ppd_.get(), c.keyword);
        ASSERT_FALSE(choices.empty()) << "the description lacks the option";
        EXPECT_EQ(choices.size(), c.words.size()) << "a choice without a row, or a row without one";
        for (const std::string& choice : choices) {
            SCOPED_TRACE(choice);
            auto want = c.words.find(choice);
            ASSERT_NE(want, c.words.end()) << "a choice without a row in the table above";
            const std::string ticket = std::string(c.keyword) + "=" + choice;
            std::string got;
            run([&](JobSetting& r) { got = c.apply(r, ticket.c_str()); });
            EXPECT_EQ(got, want->second);
        }
    }
}

// Without a ticket value the filter takes the description's default; the
// defaults are the quiet ones.
TEST_F(BuiltPpd, DefaultsAreThePlainSettings) {
    JobSetting r = run([](JobSetting& rec) {
        setTonerSave(&rec, "");
        setSharpen(&rec, "");
        setColorPreference(&rec, "");
        setInkToUse(&rec, "");
        setHalftone(&rec, "");
        setImprovementSettings(&rec, "");
        setReduceGhosting(&rec, "");
        setPrintDensity(&rec, "");
        setDuplexDryTime(&rec, "");
        setColorOutput(&rec, "");
        setThreshold(&rec, "");
        setOutputOrder(&rec, "");
    });
    EXPECT_EQ(r.tonersave, "OFF");
    EXPECT_EQ(r.sharpen, "OFF");
    EXPECT_EQ(r.colorPreference, "OBJECT");
    EXPECT_EQ(r.inkToUse, "AUTOMATIC");
    EXPECT_EQ(r.halftone, "DITHER");
    EXPECT_EQ(r.improvementSettings, "OFF");
    EXPECT_EQ(r.ghosting, "OFF");
    EXPECT_EQ(r.printDensity, "OFF");
    EXPECT_EQ(r.duplexDryTime, "OFF");
    EXPECT_EQ(r.colorOutput, "Color");
    EXPECT_EQ(r.threshold, 128);
    EXPECT_EQ(r.outputOrderReverse, 0);
}

// The colour mode sets the raster and the page's colour space together: a
// gray raster on a page announced as RGB (or the reverse) prints garbage.
TEST_F(BuiltPpd, ColorOutputChoosesTheRasterColourSpaceItAnnounces) {
    for (const std::string& choice : choicesOf(ppd_.get(), "ColorOutput")) {
        SCOPED_TRACE(choice);
        const cups_page_header2_t h = headerFor(ppd_.get(), "ColorOutput=" + choice);
        const bool color = choice == "Color";
        EXPECT_EQ(h.cupsColorSpace, color ? CUPS_CSPACE_RGB : CUPS_CSPACE_W);
        EXPECT_EQ(h.cupsBitsPerColor, 8u);
        EXPECT_EQ(h.cupsBitsPerPixel, color ? 24u : 8u);
        EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
        EXPECT_EQ(h.cupsCompression, 0u);
        EXPECT_EQ(h.cupsRowStep, 0u);  // the filter takes it as the mirror mode
    }
}

// Draft prints at 300 dpi: the filter puts draft pages at a 50-dot origin,
// which is the 12-point margin only at 300 dpi.
TEST_F(BuiltPpd, PrintQualityGivesOutputTypeAndResolution) {
    const std::map<std::string, std::pair<std::string, unsigned>> want = {
        {"Draft", {"DRAFT", 300}}, {"Normal", {"NORMAL", 600}}, {"High", {"FINE", 600}}};
    const std::vector<std::string> choices = choicesOf(ppd_.get(), "cupsPrintQuality");
    EXPECT_EQ(choices.size(), want.size());
    for (const std::string& choice : choices) {
        SCOPED_TRACE(choice);
        ASSERT_TRUE(want.count(choice));
        const cups_page_header2_t h = headerFor(ppd_.get(), "cupsPrintQuality=" + choice);
        EXPECT_STREQ(h.OutputType, want.at(choice).first.c_str());
        EXPECT_EQ(h.HWResolution[0], want.at(choice).second);
        EXPECT_EQ(h.HWResolution[1], want.at(choice).second);
    }
    EXPECT_EQ(headerFor(ppd_.get(), "").HWResolution[0], 600u);
    // The preset for IPP print-quality=draft keeps the colour mode's raster.
    const cups_page_header2_t d =
        headerFor(ppd_.get(), "ColorOutput=GrayScale cupsPrintQuality=Draft");
    EXPECT_EQ(d.cupsColorSpace, CUPS_CSPACE_W);
    EXPECT_EQ(d.HWResolution[0], 300u);
}

// MediaPosition goes out as the PCL XL MediaSource (1 auto, 2 manual feed,
// 3 multipurpose tray, 4 and 5 the cassettes); MediaType as its name.
TEST_F(BuiltPpd, TraysAndMediaTypesReachTheHeaderAsThePrinterNamesThem) {
    const std::map<std::string, unsigned> slots = {
        {"Auto", 1}, {"Manual", 2}, {"MPTray", 3}, {"Tray1", 4}, {"Tray2", 5}};
    const std::vector<std::string> choices = choicesOf(ppd_.get(), "InputSlot");
    EXPECT_EQ(choices.size(), slots.size());
    for (const std::string& choice : choices) {
        SCOPED_TRACE(choice);
        ASSERT_TRUE(slots.count(choice));
        EXPECT_EQ(headerFor(ppd_.get(), "InputSlot=" + choice).MediaPosition, slots.at(choice));
    }
    const std::vector<std::string> types = choicesOf(ppd_.get(), "MediaType");
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(std::string(ppdFindOption(ppd_.get(), "MediaType")->defchoice), "Automatic");
    for (const std::string& type : types) {
        SCOPED_TRACE(type);
        EXPECT_STREQ(headerFor(ppd_.get(), "MediaType=" + type).MediaType, type.c_str());
    }
}

TEST_F(BuiltPpd, DuplexChoicesSetDuplexAndTumble) {
    struct Want {
        const char* choice;
        unsigned duplex, tumble;
    };
    for (const Want& w :
         {Want{"None", 0, 0}, Want{"DuplexNoTumble", 1, 0}, Want{"DuplexTumble", 1, 1}}) {
        SCOPED_TRACE(w.choice);
        const cups_page_header2_t h = headerFor(ppd_.get(), std::string("Duplex=") + w.choice);
        EXPECT_EQ(static_cast<unsigned>(h.Duplex), w.duplex);
        EXPECT_EQ(static_cast<unsigned>(h.Tumble), w.tumble);
    }
    EXPECT_EQ(choicesOf(ppd_.get(), "Duplex").size(), 3u);
}

// Copies: pdftopdf leaves uncollated copies to the filter only with manual
// copies off, and writes collated ones into the PDF itself only when there
// is no Collate option (with one it would leave them to the filter, which
// prints collated jobs once).
TEST_F(BuiltPpd, CopiesAreLeftToFilterAndPdftopdfAsTheFilterExpects) {
    EXPECT_FALSE(ppd_->manual_copies);
    EXPECT_EQ(ppdFindOption(ppd_.get(), "Collate"), nullptr);
    ppd_attr_t* filter = ppdFindAttr(ppd_.get(), "cupsFilter2", nullptr);
    ASSERT_NE(filter, nullptr);
    EXPECT_STREQ(filter->value, "application/vnd.cups-pdf application/vnd.quenzel-pxl 0 quenzel");
    EXPECT_EQ(ppdFindNextAttr(ppd_.get(), "cupsFilter2", nullptr), nullptr);
    ppd_attr_t* order = ppdFindAttr(ppd_.get(), "DefaultOutputOrder", nullptr);
    ASSERT_NE(order, nullptr);
    EXPECT_STREQ(order->value, "Normal");
    EXPECT_STREQ(ppd_->manufacturer, "Quenzel");
    EXPECT_STREQ(ppd_->modelname, "Quenzel Color Laser");
}

}  // namespace
