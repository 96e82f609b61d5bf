#include "printstream/pagestream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "printstream/jobstream.h"
#include "settings/record.h"

namespace {

// Page origin in dots (the session measures in the print resolution): no
// offset for borderless pages, a smaller one for draft quality.
constexpr int16_t kOriginNoBorder = 0;
constexpr int16_t kOriginDraft = 50;
constexpr int16_t kOriginNormal = 100;

constexpr float kPageScale = 1.0f;

// Fixed values of the printer-specific image attributes.
constexpr uint8_t kImageExtFA = 8;
constexpr uint8_t kImageExtF9 = 2;
constexpr uint16_t kImageExtF8 = 0;
constexpr uint16_t kImageExtF6 = 6;

// A text as a ubyte_array attribute; arrays hold at most 65535 bytes.
void outputTextAttr(ByteSink sink, uint8_t attr, const char* text, size_t length) {
    auto count = static_cast<uint16_t>(std::min<size_t>(length, UINT16_MAX));
    outputXLAttrByteArray(sink, attr, reinterpret_cast<const uint8_t*>(text), count);
}

void writeMediaSize(ByteSink sink, const JobSetting& js) {
    switch (js.mediaSizeKind) {
        case kMediaSizeEnumerated:
            outputXLAttrByte(sink, kAttrMediaSize,
                             static_cast<uint8_t>(js.mediaSize.mediaSizeEnum));
            break;
        case kMediaSizeNamed: {
            // Bounded by the field, in case the name fills it without a NUL.
            const char* name = js.mediaSize.mediaSizeName;
            outputTextAttr(sink, kAttrMediaSize, name,
                           strnlen(name, sizeof(js.mediaSize.mediaSizeName)));
            break;
        }
        default:  // custom size, in inches as the record holds it
            outputXLAttrReal32XY(sink, kAttrCustomMediaSize, js.mediaSize.custom.paddedPageW,
                                 js.mediaSize.custom.paddedPageH);
            outputXLAttrByte(sink, kAttrCustomMediaSizeUnits, eInch);
            break;
    }
}

// BorderType and BeginPage; returns the page origin.
int16_t writeBorderAndBeginPage(ByteSink sink, const JobSetting& js) {
    if (js.pageMode.find("NORMAL") == std::string::npos) {
        outputXLAttrByte(sink, kAttrBorderType, eNoBorder);
        msgf("BorderType - FullBleed: eNoBorder \n");
        outputOperator(sink, kOpBeginPage);
        return kOriginNoBorder;
    }
    if (js.mediaSizeKind == kMediaSizeCustom && js.customMarg == 0) {
        outputXLAttrByte(sink, kAttrBorderType, eNoBorder);
        msgf("BorderType - Custom: eNoBorder \n");
        outputOperator(sink, kOpBeginPage);
        return kOriginNoBorder;
    }
    outputXLAttrByte(sink, kAttrBorderType, eWithBorder);
    msgf("BorderType - Not Custom or No Margin: eWithBorder \n");
    outputOperator(sink, kOpBeginPage);
    // The quality text comes from the job; keep it on one line of the log.
    msgf("PageOrigin for print quality - %s \n", replaceControlBytes(js.printQuality).c_str());
    return js.printQuality == "DRAFT" ? kOriginDraft : kOriginNormal;
}

void writeColorSpace(ByteSink sink, const JobSetting& js) {
    const std::string& output = js.colorOutput;
    if (output == "Color") {
        msgf("start_page - jobsetting->colorOutput == VALUE_COLOR ==> eRGB IN FILTER\n");
        outputXLAttrByte(sink, kAttrColorSpace, eRGB);
    } else if (output == "Mono") {
        msgf("start_page - jobsetting->colorOutput == VALUE_MONO ==> eGray IN FILTER\n");
        outputXLAttrByte(sink, kAttrColorSpace, eGray);
    } else if (output == "Black") {
        msgf(
            "start_page - jobsetting->colorOutput == VALUE_BLACK ==> eBlackAndWhite IN "
            "FILTER\n");
        outputXLAttrByte(sink, kAttrColorSpace, eBlackAndWhite);
        outputXLAttrByte(sink, kAttrBWThreshold, static_cast<uint8_t>(js.threshold));
    } else if (output == "GrayScale") {
        msgf("start_page - jobsetting->colorOutput == VALUE_GRAYSCALE ==> eGray IN FILTER\n");
        outputXLAttrByte(sink, kAttrColorSpace, eGray);
        outputXLAttrByte(sink, kAttrHalftone, 0);
        msgf("start_page - AFTER setting the Halftone to IN FILTER\n");
    }
    // Anything else: the printer keeps its default colour space.
    outputOperator(sink, kOpSetColorSpace);
    msgf("start_page - After setting XLSetColorSpace IN FILTER\n");
}

}  // namespace

void start_page(ByteSink sink, const JobSetting* settings) {
    if (settings == nullptr) {
        msgf("start_page - no job settings, page not opened\n");
        return;
    }
    const JobSetting& js = *settings;

    outputXLAttrByte(sink, kAttrOrientation, ePortraitOrientation);
    outputXLAttrByte(sink, kAttrMediaSource, static_cast<uint8_t>(js.mediaSource));
    writeMediaSize(sink, js);
    if (js.mediaType != "Automatic") {
        outputTextAttr(sink, kAttrMediaType, js.mediaType.data(), js.mediaType.size());
    }
    outputXLAttrUInt16(sink, kAttrJobCopies, static_cast<uint16_t>(js.copies));

    int16_t origin = writeBorderAndBeginPage(sink, js);
    outputXLAttrSInt16XY(sink, kAttrPageOrigin, origin, origin);
    outputOperator(sink, kOpSetPageOrigin);

    outputXLAttrReal32XY(sink, kAttrPageScale, kPageScale, kPageScale);
    outputOperator(sink, kOpSetPageScale);

    writeColorSpace(sink, js);

    outputXLAttrByte(sink, kAttrModeValue, kModeValue);
    outputXLAttrByte(sink, kAttrColorJob, js.isColor ? 1 : 0);
    outputOperator(sink, kOpPageExtension);

    outputXLAttrByte(sink, kAttrROP3, kROPSourceCopy);
    outputOperator(sink, kOpSetROP);
}

void end_page(ByteSink sink) {
    outputXLAttrUInt16(sink, kAttrPageCopies, 1);
    outputOperator(sink, kOpEndPage);
}

void writeImageHeader(ByteSink sink, uint32_t firstLine, uint32_t width, uint32_t rows,
                      uint32_t resolution) {
    outputXLAttrSInt16XY(sink, kAttrPoint, 0, static_cast<int16_t>(firstLine));
    outputOperator(sink, kOpSetCursor);
    outputXLAttrByte(sink, kAttrColorMapping, eDirectPixel);
    outputXLAttrByte(sink, kAttrColorDepth, e8Bit);
    outputXLAttrUInt16(sink, kAttrSourceWidth, static_cast<uint16_t>(width));
    outputXLAttrUInt16(sink, kAttrSourceHeight, static_cast<uint16_t>(rows));
    outputXLAttrUInt16XY(sink, kAttrDestinationSize, static_cast<uint16_t>(width),
                         static_cast<uint16_t>(rows));
    outputXLAttrByte(sink, kAttrImageExtFA, kImageExtFA);
    outputXLAttrByte(sink, kAttrImageExtF9, kImageExtF9);
    outputXLAttrUInt16(sink, kAttrImageExtF8, kImageExtF8);
    outputXLAttrUInt16(sink, kAttrImageExtF7, static_cast<uint16_t>(resolution));
    outputXLAttrUInt16(sink, kAttrImageExtF6, kImageExtF6);
    outputOperator(sink, kOpBeginImage);
}

void writeReadImageBlock(ByteSink sink, uint32_t rows, uint8_t compressMode, uint32_t dataLength) {
    outputXLAttrUInt16(sink, kAttrStartLine, 0);
    outputXLAttrUInt16(sink, kAttrBlockHeight, static_cast<uint16_t>(rows));
    outputXLAttrByte(sink, kAttrCompressMode, compressMode);
    outputOperator(sink, kOpReadImage);
    outputXLEmbedData(sink, dataLength);
}

void writeEndImage(ByteSink sink) {
    outputOperator(sink, kOpEndImage);
}
