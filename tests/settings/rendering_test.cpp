// Rendering and finishing options: value mappings, PPD defaults, built-in
// outcomes, and the diagnostic lines the setters write.
#include <climits>
#include <cstdio>

#include "settings_fixture.h"

namespace {

using Setter = void (*)(JobSetting*, const char*);

// One option value and the word its setter must produce.
struct Mapping {
    const char* ticket;
    const char* word;
};

struct TextSetter {
    const char* label;
    Setter setter;
    std::string JobSetting::*field;
    std::vector<Mapping> mappings;  // ticket values, "any other value" last
    const char* fromPpd;            // word from options.ppd's default choice
    const char* neither;            // word with no PPD and an empty ticket
};

const std::vector<TextSetter>& textSetters() {
    static const std::vector<TextSetter> kSetters = {
        {"DupDryTime",
         setDuplexDryTime,
         &JobSetting::duplexDryTime,
         {{"DupDryTime=Level1", "Level1"}, {"DupDryTime=anything", "anything"}},
         "Level2",
         kInvalidOption},
        {"Sharpen",
         setSharpen,
         &JobSetting::sharpen,
         {{"Sharpen=On", "ON"},
          {"Sharpen=ON", "ON"},
          {"Sharpen=on", "ON"},
          {"Sharpen=OFF", "OFF"},
          {"Sharpen=off", "OFF"},
          {"Sharpen=maybe", kInvalidOption}},
         "OFF",
         kInvalidOption},
        {"TonerSave",
         setTonerSave,
         &JobSetting::tonersave,
         {{"TonerSave=On", "ON"},
          {"TonerSave", "ON"},
          {"TonerSave=Off", "OFF"},
          {"noTonerSave", "OFF"},
          {"TonerSave=on", "OFF"},
          {"TonerSave=True", "OFF"}},
         "ON",
         kInvalidOption},
        {"HalftoneLevel",
         setHalftone,
         &JobSetting::halftone,
         {{"HalftoneLevel=Dither", "DITHER"}, {"HalftoneLevel=dither", "ERRORDIFFUSION"}},
         "ERRORDIFFUSION",
         "DITHER"},
        {"reduceGhost",
         setReduceGhosting,
         &JobSetting::ghosting,
         {{"reduceGhost=On", "ON"}, {"reduceGhost=on", "OFF"}},
         "ON",
         kInvalidOption},
        {"printDensity",
         setPrintDensity,
         &JobSetting::printDensity,
         {{"printDensity=On", "ON"}, {"printDensity=Off", "OFF"}},
         "OFF",
         kInvalidOption},
        {"improve",
         setImprovementSettings,
         &JobSetting::improvementSettings,
         {{"improve=none", "OFF"},
          {"improve=reduceCurl", "PAPERCURL"},
          {"improve=tonerFix", "TONERFIX"},
          {"improve=wrinkleFix", "CREASE"},
          {"improve=ReduceCurl", kInvalidOption}},
         "OFF",
         kInvalidOption},
        {"InkToUse",
         setInkToUse,
         &JobSetting::inkToUse,
         {{"InkToUse=ColorBlack", "COMPOSITEBLACK"},
          {"InkToUse=BlackColor", "COMPOSITEBLACK"},
          {"InkToUse=ColorOnly", "COMPOSITEONLY"},
          {"InkToUse=BlackOnly", "BLACKONLY"},
          {"InkToUse=Automatic", "AUTOMATIC"}},
         "COMPOSITEBLACK",
         kInvalidOption},
        {"ColorOutput",
         setColorOutput,
         &JobSetting::colorOutput,
         {{"ColorOutput=Mono", "Mono"},
          {"ColorOutput=Color", "Color"},
          {"ColorOutput=GrayScale", "GrayScale"},
          {"ColorOutput=Black", "Black"},
          {"ColorOutput=Grayscale", ""}},
         "GrayScale",
         kInvalidOption},
    };
    return kSetters;
}

using RenderingOptions = SettingsTest;

TEST_F(RenderingOptions, TicketValuesPpdDefaultsAndNeither) {
    for (const TextSetter& s : textSetters()) {
        SCOPED_TRACE(s.label);
        testing::internal::CaptureStderr();
        resetAll();
        for (const Mapping& m : s.mappings) {
            // The colour output mode follows the raster (see below): give each
            // word a raster it fits.
            record.isColor = std::string(m.word) == "Color" ? 1 : 0;
            s.setter(&record, m.ticket);
            EXPECT_EQ(record.*s.field, m.word) << m.ticket;
        }
        s.setter(&record, "");
        EXPECT_EQ(record.*s.field, s.neither);
        usePpd("minimal.ppd");
        s.setter(&record, "");
        EXPECT_EQ(record.*s.field, s.neither);
        usePpd("options.ppd");
        record.isColor = std::string(s.fromPpd) == "Color" ? 1 : 0;
        s.setter(&record, "");
        EXPECT_EQ(record.*s.field, s.fromPpd);
        testing::internal::GetCapturedStderr();
    }
}

// Regression: a colour-mode preset can render a gray raster while the
// ColorOutput option still says Color (and the other way round); the page's
// colour space must describe the data sent, so the raster wins.
TEST_F(RenderingOptions, ColorOutputNeverContradictsTheRaster) {
    struct Case {
        uint8_t isColor;
        const char* ticket;
        const char* word;
    };
    for (Case c : {Case{0, "ColorOutput=Color", "GrayScale"}, Case{1, "ColorOutput=Mono", "Color"},
                   Case{1, "ColorOutput=GrayScale", "Color"}, Case{1, "ColorOutput=Black", "Color"},
                   Case{0, "ColorOutput=Black", "Black"}, Case{1, "ColorOutput=Color", "Color"},
                   Case{1, "ColorOutput=Other", ""}, Case{0, "", kInvalidOption}}) {
        record.isColor = c.isColor;
        testing::internal::CaptureStderr();
        setColorOutput(&record, c.ticket);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(record.colorOutput, c.word) << c.ticket << " isColor " << int{c.isColor};
    }
}

TEST_F(RenderingOptions, ColorPreferenceFollowsTheColourOfTheJob) {
    struct Case {
        uint8_t isColor;
        const char* ticket;
        const char* word;
    };
    for (Case c :
         {Case{0, "ColorPreferences=Vivid", "IMAGE"}, Case{1, "ColorPreferences=Vivid", "GRAPHIC"},
          Case{1, "ColorPreferences=Automatic", "OBJECT"},
          Case{1, "ColorPreferences=Natural", "IMAGE"},
          Case{1, "ColorPreferences=Custom", "OBJECT"}, Case{1, "", "IMAGE"}}) {
        record.isColor = c.isColor;
        setColorPreference(&record, c.ticket);
        EXPECT_EQ(record.colorPreference, c.word) << int(c.isColor) << " " << c.ticket;
    }
    usePpd("options.ppd");  // default Natural
    setColorPreference(&record, "");
    EXPECT_EQ(record.colorPreference, "IMAGE");
}

TEST_F(RenderingOptions, DiagnosticLines) {
    struct Case {
        Setter setter;
        const char* ticket;
        const char* log;
    };
    const Case cases[] = {
        {setSharpen, "Sharpen=on", "sharpenValue=on => jobsetting->sharpen=ON\n"},
        {setSharpen, "", ""},
        {setTonerSave, "TonerSave=On", "jobsetting->tonersave: ON\n"},  // line feed added
        {setTonerSave, "", ""},
        {setHalftone, "", "Halftone is Dither in FILTER\n"},
        {setHalftone, "HalftoneLevel=Dither",
         "Halftone is Dither in FILTER\nHalftone is Dither in FILTER\n"},
        {setHalftone, "HalftoneLevel=Stochastic",
         "Halftone is Dither in FILTER\nHalftone is ErrorDiffusion in FILTER\n"},
        {setImprovementSettings, "improve=none",
         "Entered setImprovementSettings\n"
         "jobsetting->improvementSettings = VALUE_OFF IN FILTER\n"},
        {setImprovementSettings, "improve=wrinkleFix",
         "Entered setImprovementSettings\n"
         "jobsetting->improvementSettings = VALUE_AT_IMPROVE_CREASE in filter \n"},
        {setImprovementSettings, "improve=bogus", "Entered setImprovementSettings\n"},
        {setColorOutput, "ColorOutput=Black", "jobsetting->colorOutput = VALUE_BLACK IN FILTER\n"},
        {setColorOutput, "ColorOutput=Mono", "jobsetting->colorOutput = VALUE_MONO IN FILTER\n"},
        {setThreshold, "threshold=77",
         "Found Threshold = (77) from ticket IN FILTER\n"
         "Returning successfully from setThreshold\n"},
        {setThreshold, "",
         "Threshold NOT found in ticket IN FILTER\nThreshold not found in PPD as well\n"},
        {setOutputOrder, "OutputOrder=Reverse",
         "Setting output order.\nFound OutputOrder(Reverse) from ticket.\n"},
        {setOutputOrder, "",
         "Setting output order.\noptionNull Last resort OutputOrder(Normal).\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stderrOf([&] { c.setter(&record, c.ticket); }), c.log) << c.ticket;
    }
}

TEST_F(RenderingOptions, DiagnosticLinesForPpdValues) {
    usePpd("options.ppd");
    EXPECT_EQ(stderrOf([&] { setImprovementSettings(&record, ""); }),
              "Entered setImprovementSettings\n"
              "improvementSettingsValue is set to PPD default value in setImprovementSettings "
              "= none\n"
              "jobsetting->improvementSettings = VALUE_OFF IN FILTER\n");
    EXPECT_EQ(stderrOf([&] { setThreshold(&record, ""); }),
              "Threshold NOT found in ticket IN FILTER\n"
              "Threshold set to 200 from PPD.THIS IS IN FILTER\n"
              "Returning successfully from setThreshold\n");
    EXPECT_EQ(stderrOf([&] { setOutputOrder(&record, ""); }),
              "Setting output order.\nPPD OutputOrder(Reverse).\n");
    usePpd("mirror.ppd");  // the keyword is there, with an empty value
    EXPECT_EQ(stderrOf([&] { setOutputOrder(&record, ""); }),
              "Setting output order.\nLast resort OutputOrder(Normal).\n");
}

TEST_F(RenderingOptions, ThresholdValues) {
    testing::internal::CaptureStderr();
    setThreshold(&record, "threshold=77");
    EXPECT_EQ(record.threshold, 77);
    setThreshold(&record, "threshold=abc");
    EXPECT_EQ(record.threshold, 0);
    setThreshold(&record, "");
    EXPECT_EQ(record.threshold, kDefaultThreshold);
    // ThresholdBeyondIntRangeSaturates (atoi would overflow).
    setThreshold(&record, "threshold=99999999999");
    EXPECT_EQ(record.threshold, INT32_MAX);
    usePpd("options.ppd");
    setThreshold(&record, "");
    EXPECT_EQ(record.threshold, 200);
    testing::internal::GetCapturedStderr();
}

TEST_F(RenderingOptions, OutputOrderAndOrientation) {
    testing::internal::CaptureStderr();
    setOutputOrder(&record, "OutputOrder=reverse");
    EXPECT_EQ(record.outputOrderReverse, 0);
    setOutputOrder(&record, "OutputOrder=Reverse");
    EXPECT_EQ(record.outputOrderReverse, 1);
    usePpd("options.ppd");
    setOutputOrder(&record, "");
    EXPECT_EQ(record.outputOrderReverse, 1);
    setOutputOrder(&record, "OutputOrder=Normal");
    EXPECT_EQ(record.outputOrderReverse, 0);
    testing::internal::GetCapturedStderr();

    // options.ppd offers orientation-requested 4; the ticket alone counts.
    for (auto [ticket, expect] : {std::pair{"orientation-requested=4", 1},
                                  {"orientation-requested=5", 3},
                                  {"orientation-requested=6", 2},
                                  {"orientation-requested=3", 0},
                                  {"orientation-requested=abc", 0},
                                  {"", 0}}) {
        setOrientation(&record, ticket);
        EXPECT_EQ(record.orientation, expect) << ticket;
    }
}

TEST_F(RenderingOptions, MirrorNeedsThePpdOptionAndTheTicket) {
    header.cupsRowStep = 7;
    struct Case {
        const char* ticket;
        uint32_t mirrorPrint;  // raw: a raster may carry any value
        int32_t mirror;
    };
    usePpd("mirror.ppd");
    for (Case c :
         {Case{"ZemMirror=On", 0, 2}, Case{"ZemMirror=true", 0, 2}, Case{"ZemMirror=On", 1, 1},
          Case{"ZemMirror=On", 5, 1}, Case{"ZemMirror=Off", 0, 1}, Case{"noZemMirror", 0, 1},
          Case{"ZemMirror=ON", 0, 7}, Case{"", 0, 7}}) {  // the PPD's default True is not used
        std::memcpy(&header.MirrorPrint, &c.mirrorPrint, sizeof c.mirrorPrint);
        setMirror(&record, &header, c.ticket);
        EXPECT_EQ(record.mirror, c.mirror) << c.ticket << " " << c.mirrorPrint;
    }
    usePpd("options.ppd");  // no ZemMirror option
    setMirror(&record, &header, "ZemMirror=On");
    EXPECT_EQ(record.mirror, 7);
}

time_t newYear2024() {
    return 1704112496;
}  // 2024-01-01 12:34:56 UTC
time_t epoch() {
    return 0;
}  // 1970-01-01 00:00:00 UTC
time_t newYear1900() {
    return -2208988800;
}  // 1900-01-01 00:00:00 UTC

TEST_F(RenderingOptions, DateStampIsASerialDayWithFraction) {
    char text[32];
    setJobClock(newYear2024);
    setFDateTime(&record, "");
    std::snprintf(text, sizeof text, "%f", static_cast<double>(record.fDateTime));
    EXPECT_STREQ(text, "45292.523438");  // golden: the PJL FDATETIME value
    setJobClock(epoch);
    setFDateTime(&record, "");
    EXPECT_EQ(record.fDateTime, 25569.0f);
    setJobClock(newYear1900);  // early 1900 counts one day less
    setFDateTime(&record, "");
    EXPECT_EQ(record.fDateTime, 1.0f);
}

}  // namespace
