// PCL XL binary stream reader for the job inspector.
//
// Reads the little-endian binding of PCL XL protocol class 2.1 token by token
// and hands out one operation at a time: the attributes written before an
// operator, the operator, and the embedded data that follows it.  The tables
// here are written out independently of the filter's own encoder on purpose:
// the inspector is the oracle that the filter's output is checked against.
//
// The reader is meant for hostile input: every length is checked against the
// bytes that are left before anything is read or kept, arrays are bounded by
// their 16-bit element count, and an operation holds at most kMaxAttributes
// attributes.  Embedded data is not copied; it is a view into the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace inspect {

// Data type tags, with their wire values.
enum XlType : uint8_t {
    kXlUbyte = 0xC0,
    kXlUint16 = 0xC1,
    kXlUint32 = 0xC2,
    kXlSint16 = 0xC3,
    kXlSint32 = 0xC4,
    kXlReal32 = 0xC5,
    kXlUbyteArray = 0xC8,
    kXlUint16Array = 0xC9,
    kXlUint32Array = 0xCA,
    kXlSint16Array = 0xCB,
    kXlSint32Array = 0xCC,
    kXlReal32Array = 0xCD,
    kXlUbyteXy = 0xD0,
    kXlUint16Xy = 0xD1,
    kXlUint32Xy = 0xD2,
    kXlSint16Xy = 0xD3,
    kXlSint32Xy = 0xD4,
    kXlReal32Xy = 0xD5,
    kXlUbyteBox = 0xE0,
    kXlUint16Box = 0xE1,
    kXlUint32Box = 0xE2,
    kXlSint16Box = 0xE3,
    kXlSint32Box = 0xE4,
    kXlReal32Box = 0xE5,
};

// Attribute and embedded-data tags.
enum XlTag : uint8_t {
    kXlAttrUbyte = 0xF8,
    kXlAttrUint16 = 0xF9,
    kXlDataLength = 0xFA,
    kXlDataLengthByte = 0xFB,
};

// The operators a job of ours holds (0x40 is the printer's page extension).
enum XlOperator : uint8_t {
    kOpPageExtension = 0x40,
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

// Attribute identifiers (0xEA-0xEF and 0xF6-0xFA are printer extensions).
enum XlAttribute : uint16_t {
    kAtColorSpace = 0x03,
    kAtMediaSize = 0x25,
    kAtMediaSource = 0x26,
    kAtMediaType = 0x27,
    kAtOrientation = 0x28,
    kAtPageOrigin = 0x2A,
    kAtPageScale = 0x2B,
    kAtROP3 = 0x2C,
    kAtCustomMediaSize = 0x2F,
    kAtCustomMediaSizeUnits = 0x30,
    kAtPageCopies = 0x31,
    kAtPoint = 0x4C,
    kAtColorDepth = 0x62,
    kAtBlockHeight = 0x63,
    kAtColorMapping = 0x64,
    kAtCompressMode = 0x65,
    kAtDestinationSize = 0x67,
    kAtSourceHeight = 0x6B,
    kAtSourceWidth = 0x6C,
    kAtStartLine = 0x6D,
    kAtCommentData = 0x81,
    kAtDataOrg = 0x82,
    kAtMeasure = 0x86,
    kAtSourceType = 0x88,
    kAtUnitsPerMeasure = 0x89,
    kAtErrorReport = 0x8F,
    kAtHalftone = 0xEA,
    kAtBWThreshold = 0xEB,
    kAtJobCopies = 0xEC,
    kAtBorderType = 0xED,
    kAtColorJob = 0xEE,
    kAtModeValue = 0xEF,
    kAtImageF6 = 0xF6,
    kAtImageF7 = 0xF7,
    kAtImageF8 = 0xF8,
    kAtImageF9 = 0xF9,
    kAtImageFA = 0xFA,
};

// Image compression modes of the printer.
inline constexpr int kCompressJpegBands = 246;
inline constexpr int kCompressTbrle = 247;

// At most this many attributes may stand before one operator.
inline constexpr size_t kMaxAttributes = 64;

// Name of a data type tag ("uint16_xy"), or "type 0xNN".
std::string xlTypeName(uint8_t type);
// Name of an operator ("BeginSession"), or "operator 0xNN".
std::string xlOperatorName(uint8_t op);
// Name of an attribute ("SourceWidth (0x6C)"), always with its number.
std::string xlAttributeName(uint16_t id);

// One attribute: a typed value and the identifier that follows it.
struct XlAttr {
    uint64_t offset = 0;  // offset of the value's type tag
    uint16_t id = 0;
    bool longId = false;         // written with the two-byte attribute tag 0xF9
    uint8_t type = 0;            // data type tag
    std::vector<double> values;  // elements; every integer and real32 is exact in a double

    bool isArray() const { return type >= kXlUbyteArray && type <= kXlReal32Array; }
    // The elements of a ubyte array as text (other types: empty).
    std::string text() const;
};

// One operator with the attributes before it and the data after it.
struct XlOperation {
    uint64_t offset = 0;    // first byte of the operation (first attribute or the operator)
    uint64_t opOffset = 0;  // the operator byte
    uint8_t op = 0;
    std::vector<XlAttr> attrs;
    bool hasData = false;
    uint64_t dataOffset = 0;  // the embedded-data tag
    std::span<const uint8_t> data;
    uint64_t end = 0;  // offset after the operation (after its data)

    const XlAttr* find(uint16_t id) const;
};

class XlReader {
  public:
    enum class Status {
        Operation,   // `op` holds the next operation
        End,         // an ESC byte at a token boundary: the PCL XL stream ends at position()
        EndOfInput,  // the job ends at a token boundary, with no attribute pending
        Error,       // a malformed token; see errorOffset() and error(); reading stops
    };

    XlReader(std::span<const uint8_t> job, size_t start);

    Status next(XlOperation& op);

    size_t position() const { return pos_; }
    uint64_t errorOffset() const { return errorOffset_; }
    const std::string& error() const { return error_; }

  private:
    bool readValue(XlAttr& attr);
    bool fail(uint64_t offset, std::string message);
    bool need(size_t bytes, uint64_t tokenOffset, const char* what);

    std::span<const uint8_t> job_;
    size_t pos_;
    bool failed_ = false;
    uint64_t errorOffset_ = 0;
    std::string error_;
};

}  // namespace inspect
