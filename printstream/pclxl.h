// PCL XL binary encoding, protocol class 2.1, little-endian binding.
//
// The tables below are the wire bytes: data type tags, attribute identifiers,
// operators and enumeration values, the standard ones and the printer-specific
// extensions this filter sends.  The emitters are layered: a value is written
// with its type tag, an attribute is its value followed by the attribute tag
// (0xF8) and the identifier, and the operator that consumes the attributes is
// written last by outputOperator().  Every emitter takes the byte sink as its
// first argument, builds its bytes in a small local array, hands them over and
// keeps nothing; with a null sink it writes nothing.  The sink's result is not
// examined.
#pragma once

#include <cstdint>

#include "base/sink.h"

// Data type tags.  0xC0 and 0xC1 also tag the element count of an array.
enum XLDataTag : uint8_t {
    kXLUByte = 0xC0,
    kXLUInt16 = 0xC1,
    kXLUInt32 = 0xC2,
    kXLReal32 = 0xC5,
    kXLUByteArray = 0xC8,
    kXLUInt16Array = 0xC9,
    kXLSInt16Array = 0xCB,
    kXLUInt16XY = 0xD1,
    kXLSInt16XY = 0xD3,
    kXLReal32XY = 0xD5,
    kXLAttrUByte = 0xF8,   // the next byte is an attribute identifier
    kXLDataLength = 0xFA,  // embedded data follows, its length as a 32-bit value
};

// Attribute identifiers.
enum XLAttribute : uint8_t {
    kAttrColorSpace = 0x03,
    kAttrMediaSize = 0x25,
    kAttrMediaSource = 0x26,
    kAttrMediaType = 0x27,
    kAttrOrientation = 0x28,
    kAttrPageOrigin = 0x2A,
    kAttrPageScale = 0x2B,
    kAttrROP3 = 0x2C,
    kAttrCustomMediaSize = 0x2F,
    kAttrCustomMediaSizeUnits = 0x30,
    kAttrPageCopies = 0x31,
    kAttrPoint = 0x4C,
    kAttrColorDepth = 0x62,
    kAttrBlockHeight = 0x63,
    kAttrColorMapping = 0x64,
    kAttrCompressMode = 0x65,
    kAttrDestinationSize = 0x67,
    kAttrSourceHeight = 0x6B,
    kAttrSourceWidth = 0x6C,
    kAttrStartLine = 0x6D,
    kAttrCommentData = 0x81,
    kAttrDataOrg = 0x82,
    kAttrMeasure = 0x86,
    kAttrSourceType = 0x88,
    kAttrUnitsPerMeasure = 0x89,
    kAttrErrorReport = 0x8F,

    // Printer-specific page attributes.
    kAttrHalftone = 0xEA,     // ubyte, 0 for gray-scale output
    kAttrBWThreshold = 0xEB,  // ubyte, black-and-white threshold
    kAttrJobCopies = 0xEC,    // uint16
    kAttrBorderType = 0xED,   // ubyte, XLBorderType
    kAttrColorJob = 0xEE,     // ubyte, 1 for a colour job
    kAttrModeValue = 0xEF,    // ubyte, always kModeValue

    // Printer-specific image attributes, sent before BeginImage with fixed
    // values (and the resolution for 0xF7); the printer defines their meaning.
    kAttrImageExtF6 = 0xF6,  // uint16 6
    kAttrImageExtF7 = 0xF7,  // uint16 resolution
    kAttrImageExtF8 = 0xF8,  // uint16 0
    kAttrImageExtF9 = 0xF9,  // ubyte 2
    kAttrImageExtFA = 0xFA,  // ubyte 8
};

// Operators.
enum XLOperator : uint8_t {
    kOpPageExtension = 0x40,  // printer-specific: takes ModeValue and ColorJob
    kOpBeginSession = 0x41,
    kOpEndSession = 0x42,
    kOpBeginPage = 0x43,
    kOpEndPage = 0x44,
    kOpComment = 0x47,
    kOpOpenDataSource = 0x48,
    kOpCloseDataSource = 0x49,
    kOpSetColorSpace = 0x6A,
    kOpSetCursor = 0x6B,
    kOpSetPageOrigin = 0x75,
    kOpSetPageScale = 0x77,
    kOpSetROP = 0x7B,
    kOpBeginImage = 0xB0,
    kOpReadImage = 0xB1,
    kOpEndImage = 0xB2,
};

// Enumeration values, grouped by the attribute that takes them.
enum XLMeasure : uint8_t { eInch = 0 };
enum XLErrorReport : uint8_t { eBackChAndErrPage = 3 };
enum XLDataSource : uint8_t { eDefaultDataSource = 0 };
enum XLDataOrg : uint8_t { eBinaryLowByteFirst = 1 };
enum XLOrientation : uint8_t { ePortraitOrientation = 0 };
enum XLColorSpace : uint8_t {
    eGray = 1,
    eRGB = 2,
    eBlackAndWhite = 3,  // printer-specific
};
enum XLColorMapping : uint8_t { eDirectPixel = 0 };
enum XLColorDepth : uint8_t { e8Bit = 2 };
enum XLCompressMode : uint8_t {
    eJPEGBandCompression = 246,  // printer-specific: joined headerless JPEG bands
    eTBRLECompression = 247,     // printer-specific: TBRLE-coded plane, one byte per pixel
};
enum XLBorderType : uint8_t {  // printer-specific
    eNoBorder = 1,
    eWithBorder = 2,
};
inline constexpr uint8_t kModeValue = 80;       // the only ModeValue this filter sends
inline constexpr uint8_t kROPSourceCopy = 204;  // ROP3 0xCC: destination = source

// Raw bytes, unchanged (embedded data after outputXLEmbedData, PJL text).
void outputBytes(ByteSink sink, const uint8_t* data, uint32_t length);

void outputOperator(ByteSink sink, uint8_t op);
void outputXLAttrByte(ByteSink sink, uint8_t attr, uint8_t value);
void outputXLAttrUInt16(ByteSink sink, uint8_t attr, uint16_t value);
void outputXLAttrUInt32(ByteSink sink, uint8_t attr, uint32_t value);
void outputXLAttrReal32(ByteSink sink, uint8_t attr, const float& value);
void outputXLAttrUInt16XY(ByteSink sink, uint8_t attr, uint16_t x, uint16_t y);
void outputXLAttrSInt16XY(ByteSink sink, uint8_t attr, int16_t x, int16_t y);
void outputXLAttrReal32XY(ByteSink sink, uint8_t attr, const float& x, const float& y);

// Arrays: one sink call for the type tag and count, one per element (one byte
// or one 16-bit value), one for the attribute tag and identifier.  A null
// `data` with a non-zero count writes nothing: the count would promise
// elements that are not there.
void outputXLAttrByteArray(ByteSink sink, uint8_t attr, const uint8_t* data, uint16_t length);
void outputXLAttrUInt16Array(ByteSink sink, uint8_t attr, const uint16_t* elements, uint16_t count);
void outputXLAttrSInt16Array(ByteSink sink, uint8_t attr, const int16_t* elements, uint16_t count);

// Header of a block of embedded data: 0xFA and the 32-bit length.  The caller
// writes exactly `length` bytes of data right after it, through the same sink.
void outputXLEmbedData(ByteSink sink, uint32_t length);
