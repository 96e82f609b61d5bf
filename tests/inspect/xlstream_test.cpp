// The PCL XL token reader: values of every shape, operators with embedded
// data, and malformed tokens reported at the offset where they start.
#include <gtest/gtest.h>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/xlstream.h"

using jobtest::operator+;
using jobtest::operator+=;

using inspect::XlOperation;
using inspect::XlReader;
using jobtest::Bytes;

namespace {

struct Read {
    XlReader::Status status;
    std::vector<XlOperation> ops;
    uint64_t errorOffset = 0;
    std::string error;
};

Read readAll(const Bytes& bytes, size_t start = 0) {
    XlReader reader(bytes, start);
    Read r;
    XlOperation op;
    while ((r.status = reader.next(op)) == XlReader::Status::Operation)
        r.ops.push_back(op);
    r.errorOffset = reader.errorOffset();
    r.error = reader.error();
    return r;
}

TEST(InspectXlReader, ReadsEveryValueShapeLittleEndian) {
    const Bytes bytes = {
        0xC0, 0x07, 0xF8, 0x01,                                            // ubyte 7
        0xC1, 0x34, 0x12, 0xF8, 0x02,                                      // uint16 0x1234
        0xC2, 0x78, 0x56, 0x34, 0x12, 0xF8, 0x03,                          // uint32 0x12345678
        0xC3, 0xFF, 0xFF, 0xF8, 0x04,                                      // sint16 -1
        0xC4, 0xFE, 0xFF, 0xFF, 0xFF, 0xF8, 0x05,                          // sint32 -2
        0xC5, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x06,                          // real32 1.0
        0xD3, 0xFF, 0xFF, 0x02, 0x00, 0xF8, 0x07,                          // sint16_xy -1, 2
        0xE1, 1,    0,    2,    0,    3,    0,    4,    0,    0xF8, 0x08,  // uint16_box 1 2 3 4
        0xC9, 0xC0, 0x02, 0x01, 0x00, 0x00, 0x01, 0xF8, 0x09,              // uint16_array {1, 256}
        0xC0, 0x00, 0xF9, 0x34, 0x12,  // two-byte attribute id 0x1234
        0x41,                          // BeginSession
    };
    const Read r = readAll(bytes);
    ASSERT_EQ(r.status, XlReader::Status::EndOfInput) << r.error;
    ASSERT_EQ(r.ops.size(), 1u);
    const XlOperation& op = r.ops[0];
    EXPECT_EQ(op.op, 0x41);
    EXPECT_EQ(op.opOffset, bytes.size() - 1);
    ASSERT_EQ(op.attrs.size(), 10u);
    const std::vector<std::vector<double>> want = {{7},   {0x1234}, {0x12345678}, {-1},     {-2},
                                                   {1.0}, {-1, 2},  {1, 2, 3, 4}, {1, 256}, {0}};
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(op.attrs[i].values, want[i]) << "attribute " << i;
        if (i < 9) {
            EXPECT_EQ(op.attrs[i].id, i + 1);
        }
    }
    EXPECT_EQ(op.attrs[9].id, 0x1234);
    EXPECT_TRUE(op.attrs[9].longId);
    EXPECT_EQ(op.attrs[1].offset, 4u);
}

TEST(InspectXlReader, ArrayLengthPrefixesAndText) {
    // Label: a 256-byte array takes the uint16 length prefix C1 00 01.
    const std::string long256(256, 'x');
    const Bytes bytes = jobtest::attrUbyteArray(0x27, "Plain") +
                        jobtest::attrUbyteArray(0x27, long256) + jobtest::attrUbyteArray(0x27, "") +
                        jobtest::op(0x43);
    EXPECT_EQ((Bytes{bytes.begin() + 10, bytes.begin() + 14}), (Bytes{0xC8, 0xC1, 0x00, 0x01}));
    const Read r = readAll(bytes);
    ASSERT_EQ(r.ops.size(), 1u);
    EXPECT_EQ(r.ops[0].attrs[0].text(), "Plain");
    EXPECT_EQ(r.ops[0].attrs[1].text(), long256);
    EXPECT_EQ(r.ops[0].attrs[2].text(), "");
}

TEST(InspectXlReader, EmbeddedDataBelongsToTheOperatorBeforeIt) {
    const Bytes bytes = jobtest::op(0xB1) + jobtest::embedded({1, 2, 3}) +
                        Bytes{0xB1, 0xFB, 0x02, 9, 8} + jobtest::op(0xB2) + Bytes{0x1B, '%'};
    const Read r = readAll(bytes);
    EXPECT_EQ(r.status, XlReader::Status::End);
    ASSERT_EQ(r.ops.size(), 3u);
    EXPECT_TRUE(r.ops[0].hasData);
    EXPECT_EQ(r.ops[0].dataOffset, 1u);
    EXPECT_EQ(Bytes(r.ops[0].data.begin(), r.ops[0].data.end()), (Bytes{1, 2, 3}));
    EXPECT_EQ(r.ops[0].end, 9u);
    EXPECT_EQ(Bytes(r.ops[1].data.begin(), r.ops[1].data.end()), (Bytes{9, 8}));
    EXPECT_FALSE(r.ops[2].hasData);
}

// Each malformed stream must stop the reader with an error at the offset of
// the token that is wrong, and never read past the end.
TEST(InspectXlReader, MalformedTokensAreReportedWhereTheyStart) {
    struct Case {
        const char* label;
        Bytes bytes;
        uint64_t offset;
        const char* text;
    };
    const Case cases[] = {
        {"embedded length of 4 GB in a short stream",
         {0x41, 0xB1, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2},
         2,
         "runs past the end"},
        {"truncated uint32 value", {0x41, 0xC2, 0x01, 0x02}, 1, "truncated value"},
        {"truncated array body", {0xC8, 0xC1, 0x00, 0x10, 'a', 'b'}, 0, "truncated value"},
        {"array length of type uint32", {0xC8, 0xC2, 0, 0, 0, 0}, 1, "array length of type uint32"},
        {"unknown data type", {0xC6, 0x00, 0xF8, 0x01}, 0, "unknown data type 0xC6"},
        {"unknown tag", {0x41, 0x00}, 1, "unknown tag 0x00"},
        {"value without attribute tag", {0xC0, 0x01, 0x41}, 2, "expected an attribute tag"},
        {"attribute tag without value", {0xF8, 0x01, 0x41}, 0, "without a value"},
        {"data length without operator", {0xFA, 0, 0, 0, 0}, 0, "does not follow an operator"},
        {"stream ends after an attribute", {0xC0, 0x01, 0xF8, 0x02}, 0, "before its operator"},
        {"ESC after an attribute", {0xC0, 0x01, 0xF8, 0x02, 0x1B}, 0, "before its operator"},
        {"truncated attribute id", {0xC0, 0x01, 0xF9, 0x02}, 0, "truncated attribute"},
        {"truncated data length", {0xB1, 0xFA, 0x01, 0x00}, 1, "truncated embedded data length"},
    };
    for (const Case& c : cases) {
        const Read r = readAll(c.bytes);
        EXPECT_EQ(r.status, XlReader::Status::Error) << c.label;
        EXPECT_EQ(r.errorOffset, c.offset) << c.label << ": " << r.error;
        EXPECT_NE(r.error.find(c.text), std::string::npos) << c.label << ": " << r.error;
    }
}

TEST(InspectXlReader, BoundsTheAttributesBeforeOneOperator) {
    Bytes bytes;
    for (size_t i = 0; i <= inspect::kMaxAttributes; ++i)
        bytes += jobtest::attrUbyte(1, 0);
    bytes += jobtest::op(0x41);
    const Read r = readAll(bytes);
    EXPECT_EQ(r.status, XlReader::Status::Error);
    EXPECT_EQ(r.errorOffset, inspect::kMaxAttributes * 4);
}

}  // namespace
