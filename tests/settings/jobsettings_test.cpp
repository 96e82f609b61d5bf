// The record, the option lookup (ticket, then PPD default, then built-in
// outcome), the header-copying setters and the PPD integer attributes.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "settings/options.h"
#include "settings/ppd.h"
#include "settings_fixture.h"
#include "tests/harness/tempdir.h"

namespace {

using OptionLookup = SettingsTest;

TEST_F(OptionLookup, TicketBeatsPpdDefaultAndPpdFillsTheGaps) {
    usePpd("options.ppd");
    setTonerSave(&record, "TonerSave=Off");
    EXPECT_EQ(record.tonersave, "OFF");  // PPD default is On
    setTonerSave(&record, "Sharpen=On");
    EXPECT_EQ(record.tonersave, "ON");  // from the PPD default

    OptionValue fromPpd = lookupOption("", "DupDryTime");
    EXPECT_EQ(fromPpd.source, OptionSource::kPpd);
    EXPECT_EQ(fromPpd.text, "Level2");
    OptionValue fromTicket = lookupOption("DupDryTime=Level1", "DupDryTime");
    EXPECT_EQ(fromTicket.source, OptionSource::kTicket);
    EXPECT_EQ(fromTicket.text, "Level1");
    // A ticket value the PPD has no choice for still wins: the PPD is asked
    // for its default only.
    EXPECT_EQ(lookupOption("DupDryTime=Level9", "DupDryTime").text, "Level9");
}

TEST_F(OptionLookup, MissingOrUnreadablePpdFindsNothing) {
    for (const char* ppd : {"", "no-such-file.ppd", "not-a-ppd.ppd", "minimal.ppd"}) {
        SCOPED_TRACE(ppd);
        resetAll();
        if (*ppd != '\0') usePpd(ppd);
        EXPECT_FALSE(lookupOption("", "TonerSave").found());
        EXPECT_FALSE(lookupOption(nullptr, "TonerSave").found());
        EXPECT_EQ(lookupOption("TonerSave=On", "TonerSave").text, "On");
        EXPECT_EQ(getIntAttrFromPPD(jobPpd(), "MaxMediaWidth", 612), 612);
        EXPECT_EQ(ppdAttribute(jobPpd(), "DefaultOutputOrder").state, PpdAttribute::kAbsent);
    }
}

TEST_F(OptionLookup, PpdHandleIsSharedUntilReset) {
    usePpd("options.ppd");
    EXPECT_TRUE(lookupOption("", "TonerSave").found());
    // Every lookup of a job sees the same file, even if $PPD changes.
    setenv("PPD", (std::string(QZ_TEST_DATA_DIR) + "/settings/minimal.ppd").c_str(), 1);
    EXPECT_TRUE(lookupOption("", "TonerSave").found());
    resetJobPpd();
    EXPECT_FALSE(lookupOption("", "TonerSave").found());
}

// The one reset of every fixture reaches the settings module's own state: the
// PPD handle, the record pointer, the collation flag and the clock.
TEST_F(OptionLookup, ProcessResetForgetsTheJobsSettingsState) {
    usePpd("options.ppd");
    EXPECT_TRUE(lookupOption("", "TonerSave").found());
    JobSetting record;
    jobsetting = &record;
    collatedFlag_Prototype = 1;
    setJobClock([] { return time_t{0}; });
    unsetenv("PPD");
    resetProcessState();
    EXPECT_FALSE(lookupOption("", "TonerSave").found());
    EXPECT_EQ(jobsetting, nullptr);
    EXPECT_EQ(collatedFlag_Prototype, 0);
    setFDateTime(&record, "");
    EXPECT_GT(record.fDateTime, 40000.0f);  // the system clock again: after 2009
}

TEST_F(OptionLookup, TicketListsArePrefixSearchedInParsedOrder) {
    TicketOptions ticket("media-source=Tray1 PageSize=A4 media=Legal");
    EXPECT_EQ(ticket.size(), 3);
    EXPECT_STREQ(ticket.firstWithPrefix("media"), "Legal");  // parsed lists are sorted
    EXPECT_EQ(ticket.firstWithPrefix("ink"), nullptr);
    EXPECT_EQ(TicketOptions(nullptr).size(), 0);
}

using SimpleSetters = SettingsTest;

TEST_F(SimpleSetters, CollateComesFromTheTicketOnly) {
    struct Case {
        const char* ticket;
        const char* collation;
        uint8_t flag;
    };
    for (Case c : {Case{"Collate=false", "OFF", 0}, Case{"nocollate", "OFF", 0},
                   Case{"Collate=False", "ON", 1}, Case{"Collate=true", "ON", 1},
                   Case{"Collate=maybe", "ON", 1}, Case{"collate", "ON", 1}, Case{"", "OFF", 0}}) {
        SCOPED_TRACE(c.ticket);
        collatedFlag_Prototype = 0;
        setCollation(&record, &header, c.ticket);
        EXPECT_EQ(record.collation, c.collation);
        EXPECT_EQ(collatedFlag_Prototype, c.flag);
    }
    // The PPD's default (True) is not consulted, and the flag is never cleared.
    usePpd("options.ppd");
    collatedFlag_Prototype = 1;
    setCollation(&record, &header, "Collate=false");
    EXPECT_EQ(record.collation, "OFF");
    EXPECT_EQ(collatedFlag_Prototype, 1);
}

// Stores a raw 32-bit value, as a raster stream may carry, into a flag field.
void storeFlag(cups_bool_t& field, uint32_t value) {
    std::memcpy(&field, &value, sizeof value);
}

TEST_F(SimpleSetters, DuplexNeedsExactlyOneAndTumbleFlipsTheBinding) {
    struct Case {
        uint32_t duplex, tumble;
        const char* expectDuplex;
        const char* expectBinding;
    };
    // The last two: raw values outside the enum must be read without
    // undefined behaviour (UBSan checks the load) and count as "not 1".
    for (Case c : {Case{1, 0, "ON", "LONGEDGE"}, Case{1, 1, "ON", "SHORTEDGE"},
                   Case{0, 1, "OFF", "LONGEDGE"}, Case{2, 1, "OFF", "LONGEDGE"},
                   Case{1, 0x100, "ON", "LONGEDGE"}}) {
        storeFlag(header.Duplex, c.duplex);
        storeFlag(header.Tumble, c.tumble);
        setDuplex(&record, &header);
        EXPECT_EQ(record.duplex, c.expectDuplex) << c.duplex << "/" << c.tumble;
        EXPECT_EQ(record.binding, c.expectBinding) << c.duplex << "/" << c.tumble;
    }
}

TEST_F(SimpleSetters, HeaderValuesAndConstants) {
    header.MediaPosition = 3;
    header.HWResolution[0] = 1200;
    setPrintQuality(&record, &header);
    setMediaType(&record, &header);
    setResolution(&record, &header);
    setMediaSource(&record, &header);
    setCopies(&record);
    EXPECT_EQ(record.printQuality, "Normal");
    EXPECT_EQ(record.mediaType, "Plain");
    EXPECT_EQ(record.resolution, 1200u);
    EXPECT_EQ(record.mediaSource, 3u);
    EXPECT_EQ(record.copies, 1);

    setColorModel(&record, &header);
    EXPECT_EQ(record.colorModel, "CMYK");
    EXPECT_EQ(record.isColor, 1);
    header.cupsColorSpace = CUPS_CSPACE_W;
    setColorModel(&record, &header);
    EXPECT_EQ(record.colorModel, "BLACK");
    EXPECT_EQ(record.isColor, 0);
}

TEST_F(SimpleSetters, UnterminatedHeaderTextIsReadNoFurtherThanItsField) {
    std::memset(header.OutputType, 'Q', sizeof header.OutputType);
    std::memset(header.MediaType, 'M', sizeof header.MediaType);
    setPrintQuality(&record, &header);
    setMediaType(&record, &header);
    EXPECT_EQ(record.printQuality, std::string(64, 'Q'));
    EXPECT_EQ(record.mediaType, std::string(64, 'M'));
}

using PpdIntegers = SettingsTest;

TEST_F(PpdIntegers, ValuesDefaultsAndTheirLines) {
    usePpd("options.ppd");
    struct Case {
        const char* name;
        int expect;
        const char* line;
    };
    for (Case c :
         {Case{"MaxMediaWidth", 900, "MaxMediaWidth = 900\n"},
          Case{"QzUnitAttr", 42, "QzUnitAttr = 42\n"}, Case{"QzWordAttr", 0, "QzWordAttr = 0\n"},
          Case{"NoSuchAttr", 7, "Def NoSuchAttr = 7\n"}}) {
        int value = 0;
        EXPECT_EQ(stderrOf([&] { value = getIntAttrFromPPD(jobPpd(), c.name, 7); }), c.line);
        EXPECT_EQ(value, c.expect) << c.name;
    }
    EXPECT_EQ(stderrOf([] { getIntAttrFromPPD(nullptr, "MaxMediaHeight", 1008); }),
              "Def MaxMediaHeight = 1008\n");
}

TEST_F(PpdIntegers, AttributeBeyondIntRangeSaturates) {
    usePpd("options.ppd");
    testing::internal::CaptureStderr();
    EXPECT_EQ(getIntAttrFromPPD(jobPpd(), "QzHugeAttr", 0), INT_MAX);
    testing::internal::GetCapturedStderr();
}

using WholeRecord = SettingsTest;

TEST_F(WholeRecord, NoPpdAndEmptyTicketGiveTheBuiltInOutcomes) {
    record.isColor = 0;  // a stale value: setColorModel must run first
    testing::internal::CaptureStderr();
    initializeJobSetting(&record, &header, "");
    testing::internal::GetCapturedStderr();
    for (const std::string* field :
         {&record.duplexDryTime, &record.tonersave, &record.sharpen, &record.inkToUse,
          &record.colorOutput, &record.improvementSettings, &record.ghosting,
          &record.printDensity}) {
        EXPECT_EQ(*field, kInvalidOption);
    }
    EXPECT_EQ(record.colorPreference, "IMAGE");
    EXPECT_EQ(record.halftone, "DITHER");
    EXPECT_EQ(record.threshold, kDefaultThreshold);
    EXPECT_EQ(record.collation, "OFF");
    EXPECT_EQ(record.duplex, "OFF");
    EXPECT_EQ(record.pageMode, "NORMAL");
    EXPECT_EQ(record.mediaSizeKind, kMediaSizeEnumerated);
    EXPECT_EQ(record.mediaSize.mediaSizeEnum, 0);
    EXPECT_EQ(record.outputOrderReverse, 0);
    EXPECT_EQ(record.orientation, 0);
    EXPECT_EQ(record.mirror, 0);
    EXPECT_EQ(record.isColor, 1);
}

TEST_F(WholeRecord, SettersRunInOrderWithPpdDefaults) {
    usePpd("options.ppd");
    std::string log = stderrOf(
        [&] { initializeJobSetting(&record, &header, "ColorPreferences=Vivid Collate=true"); });
    EXPECT_EQ(record.colorPreference, "GRAPHIC");  // isColor was set before it
    EXPECT_EQ(record.collation, "ON");
    EXPECT_EQ(record.mediaSize.mediaSizeEnum, 1);  // Legal
    EXPECT_EQ(record.outputOrderReverse, 1);
    EXPECT_EQ(record.duplexDryTime, "Level2");
    EXPECT_EQ(record.threshold, 200);
    // The PPD default says GrayScale but the raster is RGB: the raster wins.
    EXPECT_EQ(record.colorOutput, "Color");
    // Output order before halftone before improvement before colour output.
    size_t order = log.find("Setting output order.\n");
    size_t halftone = log.find("Halftone is");
    size_t improve = log.find("Entered setImprovementSettings\n");
    size_t color = log.find("VALUE_GRAYSCALE");
    EXPECT_LT(order, halftone);
    EXPECT_LT(halftone, improve);
    EXPECT_LT(improve, color);
    EXPECT_NE(color, std::string::npos);
}

}  // namespace

namespace {

// The copies argument is read strictly within the spooler's 1 to 9999.
TEST(CopiesArgument, OnlyOneTo9999InPlainDigitsIsAccepted) {
    int32_t copies = -1;
    for (const char* text : {"1", "9999", "0042"}) {
        EXPECT_TRUE(parseCopies(text, &copies)) << text;
    }
    EXPECT_EQ(copies, 42);
    for (const char* text :
         {"", "0", "10000", "99999999999999999999", "-2", "+2", " 2", "2 ", "2x", "abc"}) {
        copies = -1;
        EXPECT_FALSE(parseCopies(text, &copies)) << text;
        EXPECT_EQ(copies, -1) << text;
    }
    EXPECT_FALSE(parseCopies(nullptr, &copies));
}

// Regression: a PPD that is a FIFO blocked the job in its open, and a huge one
// held it while libcups read it.  Neither is read; a real one still is.
TEST(PpdFile, FifosAndHugeFilesAreNotRead) {
    const harness::TempDir dir;
    const std::string fifo = dir.file("fifo.ppd");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(openPpd(fifo.c_str()), nullptr);

    const std::string huge = dir.write("huge.ppd", std::string("*PPD-Adobe: \"4.3\"\n"));
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(kMaxPpdBytes) + 1), 0);
    EXPECT_EQ(openPpd(huge.c_str()), nullptr);

    EXPECT_NE(openPpd((std::string(QZ_TEST_DATA_DIR) + "/settings/options.ppd").c_str()), nullptr);
}

}  // namespace
