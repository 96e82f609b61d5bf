// Page size form, borderless mode and custom page extents.
#include "settings/papersize.h"
#include "settings/ppd.h"
#include "settings_fixture.h"

namespace {

// What the record should say about the size: an enumeration value, or a name.
struct Size {
    const char* name;  // page size name tested
    int32_t kind;
    int32_t enumValue;
    const char* mediaName;
};
constexpr Size E(const char* name, int32_t value) {
    return {name, kMediaSizeEnumerated, value, ""};
}
constexpr Size N(const char* name, const char* media) {
    return {name, kMediaSizeNamed, 0, media};
}

void expectSize(const JobSetting& record, const Size& size) {
    SCOPED_TRACE(size.name);
    ASSERT_EQ(record.mediaSizeKind, size.kind);
    if (size.kind == kMediaSizeEnumerated) {
        EXPECT_EQ(record.mediaSize.mediaSizeEnum, size.enumValue);
    } else {
        EXPECT_STREQ(record.mediaSize.mediaSizeName, size.mediaName);
    }
}

using TicketMediaTable = SettingsTest;

TEST_F(TicketMediaTable, RowsThatTrapACarelessOrder) {
    const Size cases[] = {
        E("Letter", 0),
        E("Letter.FullBleed", 0),
        E("Legal", 1),
        E("A4", 2),
        E("A5", 16),
        N("A6", "A6"),
        E("Statement", 19),
        E("Executive", 3),
        N("Card3x5", "INDEX CARD"),  // before the plain 3x5 row
        N("3x5", "3 x 5 in"),
        N("3.5x5", "3.5 x 5 in"),
        N("5x7", "5 x 7 in"),
        N("2L-5x7in.Photo", "5 x 7 in"),  // the 5x7 row comes first
        N("5x7.Photo", "5 x 7 in"),
        N("2L.Photo", "2L"),
        N("L.Photo", "L"),
        N("312x5.Photo", "L"),
        E("PostcardHagaki", 14),
        N("Hagaki", "JPOST"),
        N("DoublePostcard", "JPOSTD"),  // a name on the ticket path
        N("8x10in", "8 X 10 in"),
        E("Env9", 255),  // outside the published enumeration
        E("Env10", 6),
        N("EnvISOB5", "B5 ENV"),
        N("Envelope_jpn_C3", "CHOKEI 3"),
        E("B5ISO", 13),
        E("B5ISO.FullBleed", 11),  // equals, then contains "B5"
        N("OthEnv", "OTHER ENVELOPE"),
        N("B6ISO", "B6"),
        E("B6", 18),
        E("Statement.FullBleed", 0),  // equals rows want the whole name
    };
    for (const Size& size : cases) {
        std::string ticket = std::string("PageSize=") + size.name;
        setPaperSize(&record, &header, ticket.c_str());
        expectSize(record, size);
    }
}

TEST_F(TicketMediaTable, FullBleedAndTheMediaOption) {
    setPaperSize(&record, &header, "PageSize=A4.FullBleed");
    expectSize(record, E("A4.FullBleed", 2));
    EXPECT_EQ(record.pageMode, "EDGETOEDGE");

    setPaperSize(&record, &header, "media=A4");
    expectSize(record, E("media=A4", 2));
    EXPECT_EQ(record.pageMode, "NORMAL");
    setPaperSize(&record, &header, "media-col=A5");  // any name starting with "media"
    expectSize(record, E("media-col=A5", 16));
    setPaperSize(&record, &header, "PageSize=Legal media=A4");
    expectSize(record, E("PageSize beats media", 1));
}

TEST_F(TicketMediaTable, UnknownNamesFallBackToThePpdDefault) {
    usePpd("options.ppd");  // default Legal
    setPaperSize(&record, &header, "PageSize=Tabloid");
    expectSize(record, E("Tabloid, PPD Legal", 1));

    usePpdWithDefaultSize("A4.FullBleed");  // its name takes the ticket's place
    setPaperSize(&record, &header, "PageSize=Tabloid");
    expectSize(record, E("Tabloid, PPD A4.FullBleed", 2));
    EXPECT_EQ(record.pageMode, "EDGETOEDGE");

    usePpd("minimal.ppd");  // no PageSize: Letter stays, the ticket's name is tested
    setPaperSize(&record, &header, "PageSize=Tabloid.FullBleed");
    expectSize(record, E("Tabloid.FullBleed, no PPD size", 0));
    EXPECT_EQ(record.pageMode, "EDGETOEDGE");
}

using PpdDefaultMediaTable = SettingsTest;

TEST_F(PpdDefaultMediaTable, DiffersFromTheTicketTable) {
    const Size cases[] = {
        E("DoublePostcard", 15),  // a number here, a name on the ticket
        N("2L.Photo", "2L"),
        N("2L-5x7in.Photo", "2L"),  // no 5x7 row
        N("5x7.Photo", "5 x 7 in"),
        E("B5ISO.FullBleed", 13),  // contains, not equals
        E("Hagaki", 0),
        E("8x10in", 0),
        E("3x5", 0),
        E("Envelope_jpn_C3", 0),
        E("Tabloid", 0),
        N("EnvISOB5", "B5 ENV"),
    };
    for (const Size& size : cases) {
        checkMediaSize(&record, &header, size.name);
        expectSize(record, size);
    }
    checkMediaSize(&record, &header, nullptr);
    expectSize(record, E("null", 0));
}

TEST_F(PpdDefaultMediaTable, UsedWhenTheTicketNamesNoSize) {
    usePpdWithDefaultSize("DoublePostcard");
    setPaperSize(&record, &header, "");
    expectSize(record, E("PPD DoublePostcard", 15));

    usePpdWithDefaultSize("2L.Photo");
    setPaperSize(&record, &header, "Collate=true");
    expectSize(record, N("PPD 2L.Photo", "2L"));

    // No FullBleed test on this path: the bounding box alone decides.
    usePpdWithDefaultSize("A4.FullBleed");
    setPaperSize(&record, &header, "");
    expectSize(record, E("PPD A4.FullBleed", 2));
    EXPECT_EQ(record.pageMode, "NORMAL");
}

TEST_F(PpdDefaultMediaTable, BorderlessWhenTheImageableAreaIsTheWholeSheet) {
    header.ImagingBoundingBox[0] = header.ImagingBoundingBox[1] = 0;
    header.ImagingBoundingBox[2] = 612;
    header.ImagingBoundingBox[3] = 792;
    setPaperSize(&record, &header, "");
    EXPECT_EQ(record.pageMode, "EDGETOEDGE");
    header.ImagingBoundingBox[3] = 791;
    setPaperSize(&record, &header, "");
    EXPECT_EQ(record.pageMode, "NORMAL");
}

using CustomSize = SettingsTest;

TEST_F(CustomSize, NarrowPageWithMargins) {
    header.cupsWidth = 2400;
    header.cupsHeight = 6600;
    header.Margins[0] = 12;
    header.Margins[1] = 0;
    std::string log =
        stderrOf([&] { setPaperSize(&record, &header, "PageSize=Custom.4.33x11in"); });
    ASSERT_EQ(record.mediaSizeKind, kMediaSizeCustom);
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageW, 4.33f);
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageH, 11.01f);  // 6608 / 600
    EXPECT_EQ(record.paddedPixW, 2400);                            // 2598 - 200 = 2398, padded
    EXPECT_EQ(record.customMarg, 12);
    // Golden: the diagnostic lines of both extents and the summary, in order.
    EXPECT_EQ(log,
              "Def MaxMediaWidth = 612\n"
              "b4 4.33   ->   ( 4.33 vs 8.50 ) -> after 4.33\n"
              "Def MaxMediaHeight = 1008\n"
              "b4 11.01   ->   ( 11.01 vs 14.00 ) -> after 11.01\n"
              "sps:paddedPageW=4.330000 paddedPageH=11.010000 paddedPixW=2400 customMarg=12\n");
}

TEST_F(CustomSize, WidePageIsCappedByTheLargestMedium) {
    header.cupsWidth = 5100;
    header.Margins[0] = header.Margins[1] = 0;
    std::string log = stderrOf([&] { setPaperSize(&record, &header, "PageSize=Custom.9x11in"); });
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageW, 8.5f);  // 8.51 capped
    EXPECT_EQ(record.paddedPixW, 5104);
    EXPECT_NE(log.find("b4 8.51   ->   ( 8.51 vs 8.50 ) -> after 8.50\n"), std::string::npos);

    usePpd("options.ppd");  // MaxMediaWidth 900 points = 12.5 in
    header.cupsWidth = 9000;
    testing::internal::CaptureStderr();
    setPaperSize(&record, &header, "PageSize=Custom.15x11in");
    testing::internal::GetCapturedStderr();
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageW, 12.5f);
}

TEST_F(CustomSize, ZeroResolutionBecomes600OnTheTicketPathOnly) {
    header.cupsWidth = 2400;
    header.Margins[0] = 12;
    header.HWResolution[0] = header.HWResolution[1] = 0;
    testing::internal::CaptureStderr();
    setPaperSize(&record, &header, "PageSize=Custom.4x11in");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(header.HWResolution[0], 600u);
    EXPECT_EQ(header.HWResolution[1], 600u);
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageW, 4.33f);
    EXPECT_EQ(record.paddedPixW, 2400);
}

TEST_F(CustomSize, ZeroResolutionOnPpdDefaultPathDoesNotDivideByZero) {
    header.cupsWidth = 2400;
    header.Margins[0] = 12;
    header.HWResolution[0] = header.HWResolution[1] = 0;
    std::string log = stderrOf([&] { checkMediaSize(&record, &header, "Custom.4x11in"); });
    EXPECT_EQ(header.HWResolution[0], 0u);  // the header is left alone here
    EXPECT_FLOAT_EQ(record.mediaSize.custom.paddedPageW, 4.33f);
    EXPECT_EQ(record.paddedPixW, 2400);
    EXPECT_NE(log.find("cms:paddedPageW=4.330000 "), std::string::npos);
}

TEST_F(CustomSize, ExtentArithmeticStaysInRange) {
    testing::internal::CaptureStderr();
    // PixelWidthNear2To32DoesNotWrapToZero: padding 0xFFFFFFF5 must not give 0.
    EXPECT_FLOAT_EQ(decideCustomPageWidth(0xFFFFFFF5u, 0, 612, 600), 8.5f);
    // MarginsWiderThanPageGiveNoNegativeWidth: 1 in less 2 x 1 in of margins.
    EXPECT_EQ(decideCustomPixelWidth(72, 600, 1.0f), 0);
    // HugePageGivesNoUndefinedConversion.
    EXPECT_EQ(decideCustomPixelWidth(0, 0xFFFFFFFFu, 1e9f), INT32_MAX - 15);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(decideCustomPixelWidth(12, 600, 4.33f), 2400);
    EXPECT_EQ(decideCustomPixelWidth(0, 600, 8.5f), 5104);
}

TEST_F(CustomSize, MediaNameStaysTerminated) {
    setPaperSize(&record, &header, "PageSize=OthEnv");
    EXPECT_EQ(record.mediaSize.mediaSizeName[14], '\0');
    EXPECT_EQ(record.mediaSize.mediaSizeName[kMaxMediaNameLength], '\0');
}

TEST(CustomSizeName, UnitsAndPointsByDefault) {
    auto inches = parseCustomPageName("Custom.5x7in");
    ASSERT_TRUE(inches);
    EXPECT_DOUBLE_EQ(inches->widthPoints, 360);
    EXPECT_DOUBLE_EQ(inches->heightPoints, 504);
    EXPECT_TRUE(inches->unitGiven);
    auto mm = parseCustomPageName("custom.76.2X127MM");
    ASSERT_TRUE(mm);
    EXPECT_NEAR(mm->widthPoints, 216, 1e-9);
    EXPECT_NEAR(mm->heightPoints, 360, 1e-9);
    auto cm = parseCustomPageName("Custom.13x18cm");
    ASSERT_TRUE(cm);
    EXPECT_NEAR(cm->widthPoints, 368.5, 0.1);
    auto points = parseCustomPageName("Custom.5x7");
    ASSERT_TRUE(points);
    EXPECT_DOUBLE_EQ(points->widthPoints, 5);
    EXPECT_FALSE(points->unitGiven);
    // Unreadable custom names read as 0 x 0; other names are not custom.
    for (const char* bad : {"Custom.", "Custom.5x", "Custom.5x7furlongs", "Custom.-5x7in"}) {
        auto request = parseCustomPageName(bad);
        ASSERT_TRUE(request) << bad;
        EXPECT_EQ(request->widthPoints, 0) << bad;
    }
    EXPECT_FALSE(parseCustomPageName("Letter"));
    EXPECT_FALSE(parseCustomPageName("5x7.Photo"));
}

// A description with custom sizes from 3 x 5 in to 8.5 x 14 in.
class CustomSizeRange : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        char path[] = "/tmp/qz-range-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = path;
        std::ofstream(path_)
            << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
               "*ModelName: \"Range\"\n*NickName: \"Range\"\n*OpenUI *PageSize: PickOne\n"
               "*DefaultPageSize: Letter\n*PageSize Letter: \"\"\n*CloseUI: *PageSize\n"
               "*VariablePaperSize: True\n*MaxMediaWidth: \"612\"\n*MaxMediaHeight: \"1008\"\n"
               "*CustomPageSize True: \"pop pop pop pop pop\"\n"
               "*ParamCustomPageSize Width: 1 points 216 612\n"
               "*ParamCustomPageSize Height: 2 points 360 1008\n";
        ppd_ = openPpd(path_.c_str());
        ASSERT_TRUE(ppd_);
    }
    void TearDown() override {
        ppd_.reset();
        std::remove(path_.c_str());
        SettingsTest::TearDown();
    }
    std::string refusal(const char* options) { return customSizeRefusal(options, ppd_.get()); }
    std::string path_;
    PpdFile ppd_;
};

TEST_F(CustomSizeRange, SizesOutsideTheRangeAreRefusedWithSizeAndRange) {
    std::string why = refusal("PageSize=Custom.5x7");
    EXPECT_NE(why.find("Custom.5x7 is 0.07 x 0.1 in (5 x 7 pt)"), std::string::npos) << why;
    EXPECT_NE(why.find("without a unit the numbers are points"), std::string::npos) << why;
    EXPECT_NE(why.find("3 x 5 in (216 x 360 pt) to 8.5 x 14 in (612 x 1008 pt)"), std::string::npos)
        << why;
    EXPECT_NE(refusal("PageSize=Custom.2x3in").find("2 x 3 in"), std::string::npos);
    EXPECT_NE(refusal("media=Custom.9x14in"), "");  // too wide, named by media
    EXPECT_NE(refusal("PageSize=Custom.5x7parsecs").find("cannot be read"), std::string::npos);
}

TEST_F(CustomSizeRange, SizesInsideTheRangeAndOtherNamesPass) {
    for (const char* fine :
         {"PageSize=Custom.3x5in", "PageSize=Custom.76.2x127mm", "PageSize=Custom.8.5x14in",
          "PageSize=Custom.360x504", "PageSize=A4", "media=iso_a4_210x297mm", "", "TonerSave=On"}) {
        EXPECT_EQ(refusal(fine), "") << fine;
    }
    // No description, or one without custom sizes: nothing to check against.
    EXPECT_EQ(customSizeRefusal("PageSize=Custom.5x7", nullptr), "");
    PpdFile plain = openPpd((std::string(QZ_TEST_DATA_DIR) + "/settings/minimal.ppd").c_str());
    ASSERT_TRUE(plain);
    EXPECT_EQ(customSizeRefusal("PageSize=Custom.5x7", plain.get()), "");
}

}  // namespace
