// The PCL XL encoder: byte-exact items and the sink-call pattern of each primitive.
#include "printstream/pclxl.h"

#include <array>
#include <vector>

#include "tests/printstream/xlbytes.h"

namespace {

using PclXlPrimitives = CaptureTest;

TEST_F(PclXlPrimitives, ScalarAttributesMatchTheirByteExamples) {
    // ubyte: tag C0, value, F8, attribute (Orientation 0).
    outputXLAttrByte(captureSink, 40, 0);
    EXPECT_EQ(hex(gCaptured), hex({0xC0, 0x00, 0xF8, 0x28}));
    resetCapture();
    // uint16 little-endian (JobCopies 1).
    outputXLAttrUInt16(captureSink, 236, 1);
    EXPECT_EQ(hex(gCaptured), hex({0xC1, 0x01, 0x00, 0xF8, 0xEC}));
    resetCapture();
    // uint32, least significant byte first.
    outputXLAttrUInt32(captureSink, 0x6C, 0x12345678);
    EXPECT_EQ(hex(gCaptured), hex({0xC2, 0x78, 0x56, 0x34, 0x12, 0xF8, 0x6C}));
    resetCapture();
    // real32: the float's bit pattern, little-endian (0.5f = 0x3F000000).
    float half = 0.5f;
    outputXLAttrReal32(captureSink, 0x2B, half);
    EXPECT_EQ(hex(gCaptured), hex({0xC5, 0x00, 0x00, 0x00, 0x3F, 0xF8, 0x2B}));
    resetCapture();
    // operator: one byte.
    outputOperator(captureSink, 0x41);
    EXPECT_EQ(hex(gCaptured), hex({0x41}));
}

TEST_F(PclXlPrimitives, PairsMatchTheirByteExamples) {
    // uint16_xy (UnitsPerMeasure 600 x 600).
    outputXLAttrUInt16XY(captureSink, 0x89, 600, 600);
    EXPECT_EQ(hex(gCaptured), hex({0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89}));
    resetCapture();
    // sint16_xy: -1 is FF FF in two's complement.
    outputXLAttrSInt16XY(captureSink, 42, -1, -1);
    EXPECT_EQ(hex(gCaptured), hex({0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0x2A}));
    resetCapture();
    // sint16_xy: the most negative value.
    outputXLAttrSInt16XY(captureSink, 42, -32768, 1);
    EXPECT_EQ(hex(gCaptured), hex({0xD3, 0x00, 0x80, 0x01, 0x00, 0xF8, 0x2A}));
    resetCapture();
    // real32_xy (PageScale 1.0 x 1.0).
    float one = 1.0f;
    outputXLAttrReal32XY(captureSink, 0x2B, one, one);
    EXPECT_EQ(hex(gCaptured),
              hex({0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B}));
    resetCapture();
    // real32_xy keeps x and y apart and negative values intact (-2.5f = 0xC0200000).
    float x = 8.5f, y = -2.5f;
    outputXLAttrReal32XY(captureSink, 0x2F, x, y);
    EXPECT_EQ(hex(gCaptured), hex(attrReal32XY(0x2F, 0x41080000, 0xC0200000)));
}

TEST_F(PclXlPrimitives, EveryFixedSizeItemIsOneSinkCall) {
    float f = 1.0f;
    outputOperator(captureSink, 0x44);
    outputXLAttrByte(captureSink, 1, 2);
    outputXLAttrUInt16(captureSink, 1, 2);
    outputXLAttrUInt32(captureSink, 1, 2);
    outputXLAttrReal32(captureSink, 1, f);
    outputXLAttrUInt16XY(captureSink, 1, 2, 3);
    outputXLAttrSInt16XY(captureSink, 1, 2, 3);
    outputXLAttrReal32XY(captureSink, 1, f, f);
    outputXLEmbedData(captureSink, 9);
    EXPECT_EQ(gCallSizes, (std::vector<uint32_t>{1, 4, 5, 7, 7, 7, 7, 11, 5}));
}

TEST_F(PclXlPrimitives, EmbedDataHeaderIsFaAndLittleEndianLength) {
    outputXLEmbedData(captureSink, 0x12345);
    EXPECT_EQ(hex(gCaptured), hex({0xFA, 0x45, 0x23, 0x01, 0x00}));
}

TEST_F(PclXlPrimitives, ByteArrayCountPrefixSwitchesAfter255) {
    std::vector<uint8_t> data(256, 0xAB);
    // 255 elements: one-byte count C0 FF.
    outputXLAttrByteArray(captureSink, 0x27, data.data(), 255);
    ASSERT_EQ(gCaptured.size(), 3u + 255u + 2u);
    EXPECT_EQ(hex(Bytes(gCaptured.begin(), gCaptured.begin() + 3)), hex({0xC8, 0xC0, 0xFF}));
    EXPECT_EQ(hex(Bytes(gCaptured.end() - 2, gCaptured.end())), hex(attr(0x27)));
    resetCapture();
    // 256 elements: two-byte count C1 00 01.
    outputXLAttrByteArray(captureSink, 0x27, data.data(), 256);
    ASSERT_EQ(gCaptured.size(), 4u + 256u + 2u);
    EXPECT_EQ(hex(Bytes(gCaptured.begin(), gCaptured.begin() + 4)), hex({0xC8, 0xC1, 0x00, 0x01}));
    EXPECT_EQ(gCaptured[4], 0xAB);
    EXPECT_EQ(gCaptured[259], 0xAB);
}

TEST_F(PclXlPrimitives, ByteArrayCallsHeaderThenEachByteThenTail) {
    const uint8_t data[] = {'P', 'l', 'a', 'i', 'n'};
    outputXLAttrByteArray(captureSink, 0x27, data, 5);
    EXPECT_EQ(hex(gCaptured), hex(attrUByteArray(0x27, "Plain")));
    EXPECT_EQ(gCallSizes, (std::vector<uint32_t>{3, 1, 1, 1, 1, 1, 2}));
}

TEST_F(PclXlPrimitives, EmptyByteArrayIsCountZeroThenAttribute) {
    const uint8_t none = 0;
    outputXLAttrByteArray(captureSink, 0x27, &none, 0);
    EXPECT_EQ(hex(gCaptured), hex({0xC8, 0xC0, 0x00, 0xF8, 0x27}));
    resetCapture();
    // No data pointer is fine when there are no elements.
    outputXLAttrByteArray(captureSink, 0x27, nullptr, 0);
    EXPECT_EQ(hex(gCaptured), hex({0xC8, 0xC0, 0x00, 0xF8, 0x27}));
}

TEST_F(PclXlPrimitives, ArrayWithCountButNoDataWritesNothing) {
    outputXLAttrByteArray(captureSink, 0x27, nullptr, 3);
    outputXLAttrUInt16Array(captureSink, 0x27, nullptr, 3);
    outputXLAttrSInt16Array(captureSink, 0x27, nullptr, 3);
    EXPECT_TRUE(gCaptured.empty());
}

TEST_F(PclXlPrimitives, SixteenBitArraysGoOutOneElementPerCall) {
    const uint16_t u[] = {0x0102, 0xFFFF};
    outputXLAttrUInt16Array(captureSink, 0x50, u, 2);
    EXPECT_EQ(hex(gCaptured), hex({0xC9, 0xC0, 0x02, 0x02, 0x01, 0xFF, 0xFF, 0xF8, 0x50}));
    EXPECT_EQ(gCallSizes, (std::vector<uint32_t>{3, 2, 2, 2}));
    resetCapture();
    const int16_t s[] = {-1, -2, 3};
    outputXLAttrSInt16Array(captureSink, 0x51, s, 3);
    EXPECT_EQ(hex(gCaptured),
              hex({0xCB, 0xC0, 0x03, 0xFF, 0xFF, 0xFE, 0xFF, 0x03, 0x00, 0xF8, 0x51}));
    resetCapture();
    // 256 elements take the two-byte count here too.
    std::vector<int16_t> many(256, -1);
    outputXLAttrSInt16Array(captureSink, 0x51, many.data(), 256);
    ASSERT_EQ(gCaptured.size(), 4u + 512u + 2u);
    EXPECT_EQ(hex(Bytes(gCaptured.begin(), gCaptured.begin() + 4)), hex({0xCB, 0xC1, 0x00, 0x01}));
    EXPECT_EQ(gCallSizes.size(), 1u + 256u + 1u);
}

TEST_F(PclXlPrimitives, NullSinkWritesNothingAndDoesNotFail) {
    float f = 1.0f;
    const uint8_t b[] = {1, 2};
    const uint16_t u[] = {1};
    const int16_t s[] = {-1};
    outputOperator(nullptr, 0x41);
    outputXLAttrByte(nullptr, 1, 2);
    outputXLAttrUInt16(nullptr, 1, 2);
    outputXLAttrUInt32(nullptr, 1, 2);
    outputXLAttrReal32(nullptr, 1, f);
    outputXLAttrUInt16XY(nullptr, 1, 2, 3);
    outputXLAttrSInt16XY(nullptr, 1, 2, 3);
    outputXLAttrReal32XY(nullptr, 1, f, f);
    outputXLAttrByteArray(nullptr, 1, b, 2);
    outputXLAttrUInt16Array(nullptr, 1, u, 1);
    outputXLAttrSInt16Array(nullptr, 1, s, 1);
    outputXLEmbedData(nullptr, 5);
    outputBytes(nullptr, b, 2);
    EXPECT_TRUE(gCaptured.empty());
}

}  // namespace
