// The PCL XL encoder: byte-exact items and the sink-call pattern of each primitive.
#include "printstream/pclxl.h"

#include <array>
#include <vector>

#include "tests/printstream/xlbytes.h"

namespace {

using PclXlPrimitives = CaptureTest;

TEST_F(PclXlPrimitives, ScalarAttributesMatchTheirByteExamples) {
    // ubyte: tag C0, value, F8, attribute (Orientation 0).
    outputXLAttrByte(capture, 40, 0);
    EXPECT_EQ(hex(capture.bytes), hex({0xC0, 0x00, 0xF8, 0x28}));
    capture.clear();
    // uint16 little-endian (JobCopies 1).
    outputXLAttrUInt16(capture, 236, 1);
    EXPECT_EQ(hex(capture.bytes), hex({0xC1, 0x01, 0x00, 0xF8, 0xEC}));
    capture.clear();
    // uint32, least significant byte first.
    outputXLAttrUInt32(capture, 0x6C, 0x12345678);
    EXPECT_EQ(hex(capture.bytes), hex({0xC2, 0x78, 0x56, 0x34, 0x12, 0xF8, 0x6C}));
    capture.clear();
    // real32: the float's bit pattern, little-endian (0.5f = 0x3F000000).
    float half = 0.5f;
    outputXLAttrReal32(capture, 0x2B, half);
    EXPECT_EQ(hex(capture.bytes), hex({0xC5, 0x00, 0x00, 0x00, 0x3F, 0xF8, 0x2B}));
    capture.clear();
    // operator: one byte.
    outputOperator(capture, 0x41);
    EXPECT_EQ(hex(capture.bytes), hex({0x41}));
}

TEST_F(PclXlPrimitives, PairsMatchTheirByteExamples) {
    // uint16_xy (UnitsPerMeasure 600 x 600).
    outputXLAttrUInt16XY(capture, 0x89, 600, 600);
    EXPECT_EQ(hex(capture.bytes), hex({0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89}));
    capture.clear();
    // sint16_xy: -1 is FF FF in two's complement.
    outputXLAttrSInt16XY(capture, 42, -1, -1);
    EXPECT_EQ(hex(capture.bytes), hex({0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xF8, 0x2A}));
    capture.clear();
    // sint16_xy: the most negative value.
    outputXLAttrSInt16XY(capture, 42, -32768, 1);
    EXPECT_EQ(hex(capture.bytes), hex({0xD3, 0x00, 0x80, 0x01, 0x00, 0xF8, 0x2A}));
    capture.clear();
    // real32_xy (PageScale 1.0 x 1.0).
    float one = 1.0f;
    outputXLAttrReal32XY(capture, 0x2B, one, one);
    EXPECT_EQ(hex(capture.bytes),
              hex({0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B}));
    capture.clear();
    // real32_xy keeps x and y apart and negative values intact (-2.5f = 0xC0200000).
    float x = 8.5f, y = -2.5f;
    outputXLAttrReal32XY(capture, 0x2F, x, y);
    EXPECT_EQ(hex(capture.bytes), hex(attrReal32XY(0x2F, 0x41080000, 0xC0200000)));
}

TEST_F(PclXlPrimitives, EveryFixedSizeItemIsOneSinkCall) {
    float f = 1.0f;
    outputOperator(capture, 0x44);
    outputXLAttrByte(capture, 1, 2);
    outputXLAttrUInt16(capture, 1, 2);
    outputXLAttrUInt32(capture, 1, 2);
    outputXLAttrReal32(capture, 1, f);
    outputXLAttrUInt16XY(capture, 1, 2, 3);
    outputXLAttrSInt16XY(capture, 1, 2, 3);
    outputXLAttrReal32XY(capture, 1, f, f);
    outputXLEmbedData(capture, 9);
    EXPECT_EQ(capture.sizes, (std::vector<uint32_t>{1, 4, 5, 7, 7, 7, 7, 11, 5}));
}

TEST_F(PclXlPrimitives, EmbedDataHeaderIsFaAndLittleEndianLength) {
    outputXLEmbedData(capture, 0x12345);
    EXPECT_EQ(hex(capture.bytes), hex({0xFA, 0x45, 0x23, 0x01, 0x00}));
}

TEST_F(PclXlPrimitives, ByteArrayCountPrefixSwitchesAfter255) {
    std::vector<uint8_t> data(256, 0xAB);
    // 255 elements: one-byte count C0 FF.
    outputXLAttrByteArray(capture, 0x27, data.data(), 255);
    ASSERT_EQ(capture.bytes.size(), 3u + 255u + 2u);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 3)),
              hex({0xC8, 0xC0, 0xFF}));
    EXPECT_EQ(hex(Bytes(capture.bytes.end() - 2, capture.bytes.end())), hex(attr(0x27)));
    capture.clear();
    // 256 elements: two-byte count C1 00 01.
    outputXLAttrByteArray(capture, 0x27, data.data(), 256);
    ASSERT_EQ(capture.bytes.size(), 4u + 256u + 2u);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 4)),
              hex({0xC8, 0xC1, 0x00, 0x01}));
    EXPECT_EQ(capture.bytes[4], 0xAB);
    EXPECT_EQ(capture.bytes[259], 0xAB);
}

TEST_F(PclXlPrimitives, ByteArrayCallsHeaderThenEachByteThenTail) {
    const uint8_t data[] = {'P', 'l', 'a', 'i', 'n'};
    outputXLAttrByteArray(capture, 0x27, data, 5);
    EXPECT_EQ(hex(capture.bytes), hex(attrUByteArray(0x27, "Plain")));
    EXPECT_EQ(capture.sizes, (std::vector<uint32_t>{3, 1, 1, 1, 1, 1, 2}));
}

TEST_F(PclXlPrimitives, EmptyByteArrayIsCountZeroThenAttribute) {
    const uint8_t none = 0;
    outputXLAttrByteArray(capture, 0x27, &none, 0);
    EXPECT_EQ(hex(capture.bytes), hex({0xC8, 0xC0, 0x00, 0xF8, 0x27}));
    capture.clear();
    // No data pointer is fine when there are no elements.
    outputXLAttrByteArray(capture, 0x27, nullptr, 0);
    EXPECT_EQ(hex(capture.bytes), hex({0xC8, 0xC0, 0x00, 0xF8, 0x27}));
}

TEST_F(PclXlPrimitives, ArrayWithCountButNoDataWritesNothing) {
    outputXLAttrByteArray(capture, 0x27, nullptr, 3);
    outputXLAttrUInt16Array(capture, 0x27, nullptr, 3);
    outputXLAttrSInt16Array(capture, 0x27, nullptr, 3);
    EXPECT_TRUE(capture.bytes.empty());
}

TEST_F(PclXlPrimitives, SixteenBitArraysGoOutOneElementPerCall) {
    const uint16_t u[] = {0x0102, 0xFFFF};
    outputXLAttrUInt16Array(capture, 0x50, u, 2);
    EXPECT_EQ(hex(capture.bytes), hex({0xC9, 0xC0, 0x02, 0x02, 0x01, 0xFF, 0xFF, 0xF8, 0x50}));
    EXPECT_EQ(capture.sizes, (std::vector<uint32_t>{3, 2, 2, 2}));
    capture.clear();
    const int16_t s[] = {-1, -2, 3};
    outputXLAttrSInt16Array(capture, 0x51, s, 3);
    EXPECT_EQ(hex(capture.bytes),
              hex({0xCB, 0xC0, 0x03, 0xFF, 0xFF, 0xFE, 0xFF, 0x03, 0x00, 0xF8, 0x51}));
    capture.clear();
    // 256 elements take the two-byte count here too.
    std::vector<int16_t> many(256, -1);
    outputXLAttrSInt16Array(capture, 0x51, many.data(), 256);
    ASSERT_EQ(capture.bytes.size(), 4u + 512u + 2u);
    EXPECT_EQ(hex(Bytes(capture.bytes.begin(), capture.bytes.begin() + 4)),
              hex({0xCB, 0xC1, 0x00, 0x01}));
    EXPECT_EQ(capture.sizes.size(), 1u + 256u + 1u);
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
    EXPECT_TRUE(capture.bytes.empty());
}

}  // namespace
