// Page begin and end from the job record, and the items around one image.
#include "printstream/pagestream.h"

#include <cstring>
#include <string>

#include "base/messages.h"
#include "base/processstate.h"
#include "settings/record.h"
#include "tests/printstream/xlbytes.h"

namespace {

constexpr uint32_t kOne = 0x3F800000;  // 1.0f

// An ordinary A4 colour page.
JobSetting a4ColorJob() {
    JobSetting js;
    js.printQuality = "NORMAL";
    js.mediaType = "Automatic";
    js.pageMode = "NORMAL";
    js.colorOutput = "Color";
    js.mediaSource = 1;
    js.isColor = 1;
    js.copies = 1;
    js.resolution = 600;
    js.mediaSizeKind = kMediaSizeEnumerated;
    js.mediaSize.mediaSizeEnum = 2;  // A4
    return js;
}

// The bytes from the start of the page to SetPageScale, for a page with the
// given media items, border type and origin.
Bytes pageHead(const Bytes& media, uint8_t border, int16_t origin) {
    return cat({attrUByte(0x28, 0),  // Orientation portrait
                media, attrU16(0xEC, 1), attrUByte(0xED, border), op(0x43),
                attrS16XY(0x2A, origin, origin), op(0x75), attrReal32XY(0x2B, kOne, kOne),
                op(0x77)});
}
// From SetColorSpace to the end of the page opening, for a colour job.
Bytes pageTail(uint8_t colorJob) {
    return cat({op(0x6A), attrUByte(0xEF, 80), attrUByte(0xEE, colorJob), op(0x40),
                attrUByte(0x2C, 0xCC), op(0x7B)});
}
// Source 1, A4 by enumeration, no media type.
Bytes a4Media() {
    return cat({attrUByte(0x26, 1), attrUByte(0x25, 2)});
}

class PageStream : public CaptureTest {
  protected:
    void SetUp() override {
        CaptureTest::SetUp();
        resetProcessState();
        js_ = a4ColorJob();
        settings_ = &js_;
    }
    // Runs start_page and returns what went to standard error.
    std::string startPage() {
        testing::internal::CaptureStderr();
        start_page(capture, settings_);
        return testing::internal::GetCapturedStderr();
    }
    JobSetting js_;
    const JobSetting* settings_ = nullptr;
};

TEST_F(PageStream, A4ColourPageBeginAndEnd) {
    std::string err = startPage();
    // The A4 colour page opening, byte for byte as the printer expects it.
    EXPECT_EQ(hex(capture.bytes),
              "C0 00 F8 28 C0 01 F8 26 C0 02 F8 25 C1 01 00 F8 EC C0 02 F8 ED 43 "
              "D3 64 00 64 00 F8 2A 75 D5 00 00 80 3F 00 00 80 3F F8 2B 77 C0 02 F8 03 6A "
              "C0 50 F8 EF C0 01 F8 EE 40 C0 CC F8 2C 7B");
    EXPECT_EQ(err,
              "BorderType - Not Custom or No Margin: eWithBorder \n"
              "PageOrigin for print quality - NORMAL \n"
              "start_page - jobsetting->colorOutput == VALUE_COLOR ==> eRGB IN FILTER\n"
              "start_page - After setting XLSetColorSpace IN FILTER\n");
    capture.clear();
    end_page(capture);
    EXPECT_EQ(hex(capture.bytes), hex({0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}));
}

TEST_F(PageStream, EdgeToEdgeHasNoBorderAndZeroOrigin) {
    js_.pageMode = "EDGETOEDGE";
    std::string err = startPage();
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(a4Media(), 1, 0), attrUByte(0x03, 2), pageTail(1)})));
    EXPECT_NE(err.find("BorderType - FullBleed: eNoBorder \n"), std::string::npos);
    EXPECT_EQ(err.find("PageOrigin for print quality"), std::string::npos);
}

TEST_F(PageStream, DraftQualityMovesOriginTo50) {
    js_.printQuality = "DRAFT";
    std::string err = startPage();
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(a4Media(), 2, 50), attrUByte(0x03, 2), pageTail(1)})));
    EXPECT_NE(err.find("PageOrigin for print quality - DRAFT \n"), std::string::npos);
}

TEST_F(PageStream, CustomSizeBorderFollowsTheMargin) {
    js_.mediaSizeKind = kMediaSizeCustom;
    js_.mediaSize.custom = {8.5f, 11.0f};
    const Bytes media = cat({attrUByte(0x26, 1), attrReal32XY(0x2F, 0x41080000, 0x41300000),
                             attrUByte(0x30, 0)});  // CustomMediaSizeUnits eInch
    js_.customMarg = 0;
    std::string err = startPage();
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(media, 1, 0), attrUByte(0x03, 2), pageTail(1)})));
    EXPECT_NE(err.find("BorderType - Custom: eNoBorder \n"), std::string::npos);

    capture.clear();
    js_.customMarg = 12;
    err = startPage();
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(media, 2, 100), attrUByte(0x03, 2), pageTail(1)})));
    EXPECT_NE(err.find("eWithBorder"), std::string::npos);
}

TEST_F(PageStream, MediaTypeOtherThanAutomaticIsSentAsByteArray) {
    js_.mediaType = "Plain";
    startPage();
    const Bytes media = cat({a4Media(), attrUByteArray(0x27, "Plain")});
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(media, 2, 100), attrUByte(0x03, 2), pageTail(1)})));
}

TEST_F(PageStream, MediaSizeByNameIsSentAsByteArray) {
    js_.mediaSizeKind = kMediaSizeNamed;
    std::strcpy(js_.mediaSize.mediaSizeName, "Postcard");
    startPage();
    const Bytes media = cat({attrUByte(0x26, 1), attrUByteArray(0x25, "Postcard")});
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(media, 2, 100), attrUByte(0x03, 2), pageTail(1)})));

    // A name that fills the field without a terminating NUL is read no further.
    capture.clear();
    std::memset(js_.mediaSize.mediaSizeName, 'N', sizeof(js_.mediaSize.mediaSizeName));
    startPage();
    const Bytes head = {0xC0, 0x01, 0xF8, 0x26, 0xC8, 0xC0, 64};
    ASSERT_GT(capture.bytes.size(), 10u + 64u + 2u);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin() + 4, capture.bytes.begin() + 11)), hex(head));
    EXPECT_EQ(hex(Bytes(capture.bytes.begin() + 11 + 64, capture.bytes.begin() + 13 + 64)),
              hex(attr(0x25)));
}

TEST_F(PageStream, LandscapeJobStillSendsPortrait) {
    js_.orientation = 1;
    startPage();
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 4)),
              hex(attrUByte(0x28, 0)));
}

struct ColorCase {
    const char* output;
    Bytes colorSpace;  // items between SetPageScale and SetColorSpace
    const char* debug;
};

TEST_F(PageStream, ColourSpaceFollowsColourOutput) {
    const std::string after = "start_page - After setting XLSetColorSpace IN FILTER\n";
    const ColorCase cases[] = {
        {"Color", attrUByte(0x03, 2),
         "start_page - jobsetting->colorOutput == VALUE_COLOR ==> eRGB IN FILTER\n"},
        {"Mono", attrUByte(0x03, 1),
         "start_page - jobsetting->colorOutput == VALUE_MONO ==> eGray IN FILTER\n"},
        // BWThreshold takes the low byte of the threshold (0x180 -> 0x80).
        {"Black", cat({attrUByte(0x03, 3), attrUByte(0xEB, 0x80)}),
         "start_page - jobsetting->colorOutput == VALUE_BLACK ==> eBlackAndWhite IN FILTER\n"},
        {"GrayScale", cat({attrUByte(0x03, 1), attrUByte(0xEA, 0)}),
         "start_page - jobsetting->colorOutput == VALUE_GRAYSCALE ==> eGray IN FILTER\n"
         "start_page - AFTER setting the Halftone to IN FILTER\n"},
        {"INVALIDOPTION", {}, ""},
        {"", {}, ""},
        {"color", {}, ""},  // the words are matched exactly
    };
    js_.threshold = 0x180;
    js_.pageMode = "EDGETOEDGE";  // keeps the quality line out of the log
    for (const ColorCase& c : cases) {
        capture.clear();
        js_.colorOutput = c.output;
        std::string err = startPage();
        EXPECT_EQ(hex(capture.bytes),
                  hex(cat({pageHead(a4Media(), 1, 0), c.colorSpace, pageTail(1)})))
            << "colorOutput " << c.output;
        EXPECT_EQ(err, "BorderType - FullBleed: eNoBorder \n" + std::string(c.debug) + after)
            << "colorOutput " << c.output;
    }
}

TEST_F(PageStream, GrayJobSendsColorJobZero) {
    js_.isColor = 0;
    js_.colorOutput = "Mono";
    startPage();
    EXPECT_EQ(hex(capture.bytes),
              hex(cat({pageHead(a4Media(), 2, 100), attrUByte(0x03, 1), pageTail(0)})));
}

TEST_F(PageStream, QualityWithControlBytesStaysOnOneLogLine) {
    js_.printQuality = "X\nERROR: fake";
    std::string err = startPage();
    EXPECT_NE(err.find("PageOrigin for print quality - X ERROR: fake \n"), std::string::npos);
    EXPECT_EQ(err.find("\nERROR: "), std::string::npos);
}

TEST_F(PageStream, NoJobRecordWritesNothing) {
    settings_ = nullptr;
    std::string err = startPage();
    EXPECT_TRUE(capture.bytes.empty());
    EXPECT_NE(err.find("no job settings"), std::string::npos);
}

using ImageItems = CaptureTest;

TEST_F(ImageItems, FullImageHeaderAndBlocksOf256RowsAt600Dpi) {
    writeImageHeader(capture, 0, 2560, 256, 600);
    writeReadImageBlock(capture, 256, eJPEGBandCompression, 0x1234);
    const Bytes header = capture.bytes;
    capture.clear();
    writeReadImageBlock(capture, 256, eTBRLECompression, 77);
    const Bytes tagBlock = capture.bytes;
    capture.clear();
    writeEndImage(capture);

    // The full-image opening (32 bands of width 2560 from line 0 at 600 dpi), byte for byte.
    EXPECT_EQ(hex(header),
              "D3 00 00 00 00 F8 4C 6B C0 00 F8 64 C0 02 F8 62 C1 00 0A F8 6C C1 00 01 F8 6B "
              "D1 00 0A 00 01 F8 67 C0 08 F8 FA C0 02 F8 F9 C1 00 00 F8 F8 C1 58 02 F8 F7 "
              "C1 06 00 F8 F6 B0 C1 00 00 F8 6D C1 00 01 F8 63 C0 F6 F8 65 B1 FA 34 12 00 00");
    EXPECT_EQ(hex(tagBlock), hex(cat({attrU16(0x6D, 0), attrU16(0x63, 256), attrUByte(0x65, 0xF7),
                                      op(0xB1), embed(77)})));
    EXPECT_EQ(hex(capture.bytes), hex({0xB2}));
}

TEST_F(ImageItems, ImageHeaderPlacesTheImageAtItsFirstLine) {
    writeImageHeader(capture, 3072, 4960, 232, 1200);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 7)),
              hex(attrS16XY(0x4C, 0, 3072)));
    const std::string h = hex(capture.bytes);
    EXPECT_NE(h.find(hex(attrU16XY(0x67, 4960, 232))), std::string::npos);
    EXPECT_NE(h.find(hex(attrU16(0xF7, 1200))), std::string::npos);
}

}  // namespace
