#include "tools/inspect/xlstream.h"

#include <bit>
#include <cstdio>

namespace inspect {
namespace {

std::string hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

// Shape of a data type: element size in bytes, element count (0 for arrays,
// whose count comes from the length prefix), and whether elements are signed
// or floats.  The low three bits of the tag select the element type (ubyte,
// uint16, uint32, sint16, sint32, real32); the high bits select single, array,
// xy pair or box.
struct TypeShape {
    unsigned elementSize = 0;
    unsigned count = 0;
    bool isArray = false;
    unsigned base = 0;  // 0 ubyte, 1 uint16, 2 uint32, 3 sint16, 4 sint32, 5 real32
};

bool shapeOf(uint8_t type, TypeShape& shape) {
    static constexpr unsigned kSizes[6] = {1, 2, 4, 2, 4, 4};
    const unsigned base = type & 0x07u;
    if (base > 5) return false;
    shape.base = base;
    shape.elementSize = kSizes[base];
    switch (type & 0xF8u) {
        case 0xC0:
            shape.count = 1;
            return true;
        case 0xC8:
            shape.isArray = true;
            return true;
        case 0xD0:
            shape.count = 2;
            return true;
        case 0xE0:
            shape.count = 4;
            return true;
        default:
            return false;
    }
}

double readElement(const uint8_t* p, unsigned base) {
    switch (base) {
        case 0:
            return p[0];
        case 1:
            return static_cast<uint16_t>(p[0] | p[1] << 8);
        case 3:
            return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
        default:
            break;
    }
    const uint32_t u =
        uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    if (base == 2) return u;
    if (base == 4) return static_cast<int32_t>(u);
    // real32: the four bytes are the IEEE-754 single, least significant first.
    return std::bit_cast<float>(u);
}

struct OpName {
    uint8_t op;
    const char* name;
};
constexpr OpName kOperatorNames[] = {
    {0x40, "PageExtension"}, {0x41, "BeginSession"},   {0x42, "EndSession"},
    {0x43, "BeginPage"},     {0x44, "EndPage"},        {0x46, "VendorUnique"},
    {0x47, "Comment"},       {0x48, "OpenDataSource"}, {0x49, "CloseDataSource"},
    {0x6A, "SetColorSpace"}, {0x6B, "SetCursor"},      {0x75, "SetPageOrigin"},
    {0x77, "SetPageScale"},  {0x7B, "SetROP"},         {0xB0, "BeginImage"},
    {0xB1, "ReadImage"},     {0xB2, "EndImage"},
};

struct AttrName {
    uint16_t id;
    const char* name;
};
constexpr AttrName kAttributeNames[] = {
    {0x03, "ColorSpace"},      {0x25, "MediaSize"},
    {0x26, "MediaSource"},     {0x27, "MediaType"},
    {0x28, "Orientation"},     {0x2A, "PageOrigin"},
    {0x2B, "PageScale"},       {0x2C, "ROP3"},
    {0x2F, "CustomMediaSize"}, {0x30, "CustomMediaSizeUnits"},
    {0x31, "PageCopies"},      {0x4C, "Point"},
    {0x62, "ColorDepth"},      {0x63, "BlockHeight"},
    {0x64, "ColorMapping"},    {0x65, "CompressMode"},
    {0x67, "DestinationSize"}, {0x6B, "SourceHeight"},
    {0x6C, "SourceWidth"},     {0x6D, "StartLine"},
    {0x81, "CommentData"},     {0x82, "DataOrg"},
    {0x86, "Measure"},         {0x88, "SourceType"},
    {0x89, "UnitsPerMeasure"}, {0x8F, "ErrorReport"},
    {0xEA, "Halftone"},        {0xEB, "BWThreshold"},
    {0xEC, "JobCopies"},       {0xED, "BorderType"},
    {0xEE, "ColorJob"},        {0xEF, "ModeValue"},
};

}  // namespace

std::string xlTypeName(uint8_t type) {
    static constexpr const char* kBase[6] = {"ubyte",  "uint16", "uint32",
                                             "sint16", "sint32", "real32"};
    TypeShape shape;
    if (!shapeOf(type, shape)) return "type " + hex2(type);
    std::string name = kBase[shape.base];
    if (shape.isArray) return name + "_array";
    if (shape.count == 2) return name + "_xy";
    if (shape.count == 4) return name + "_box";
    return name;
}

std::string xlOperatorName(uint8_t op) {
    for (const auto& entry : kOperatorNames) {
        if (entry.op == op) return entry.name;
    }
    return "operator " + hex2(op);
}

std::string xlAttributeName(uint16_t id) {
    char num[16];
    std::snprintf(num, sizeof num, id > 0xFF ? "0x%04X" : "0x%02X", id);
    for (const auto& entry : kAttributeNames) {
        if (entry.id == id) return std::string(entry.name) + " (" + num + ")";
    }
    return std::string("attribute ") + num;
}

std::string XlAttr::text() const {
    std::string s;
    if (type != kXlUbyteArray) return s;
    s.reserve(values.size());
    for (double v : values)
        s.push_back(static_cast<char>(static_cast<uint8_t>(v)));
    return s;
}

const XlAttr* XlOperation::find(uint16_t id) const {
    for (const auto& a : attrs) {
        if (a.id == id) return &a;
    }
    return nullptr;
}

XlReader::XlReader(std::span<const uint8_t> job, size_t start)
    : job_(job), pos_(start <= job.size() ? start : job.size()) {}

bool XlReader::fail(uint64_t offset, std::string message) {
    failed_ = true;
    errorOffset_ = offset;
    error_ = std::move(message);
    return false;
}

bool XlReader::need(size_t bytes, uint64_t tokenOffset, const char* what) {
    const size_t left = job_.size() - pos_;
    if (bytes <= left) return true;
    return fail(tokenOffset, std::string("truncated ") + what + ": needs " + std::to_string(bytes) +
                                 " bytes, " + std::to_string(left) + " left");
}

// Reads one typed value at pos_ (the type tag) into attr.
bool XlReader::readValue(XlAttr& attr) {
    const uint64_t start = pos_;
    const uint8_t type = job_[pos_];
    TypeShape shape;
    if (!shapeOf(type, shape)) return fail(start, "unknown data type " + hex2(type));
    attr.offset = start;
    attr.type = type;
    ++pos_;
    size_t count = shape.count;
    if (shape.isArray) {
        // The element count is itself a ubyte or a uint16 value.
        if (!need(1, start, "array length")) return false;
        const uint8_t lenType = job_[pos_];
        if (lenType == kXlUbyte) {
            if (!need(2, start, "array length")) return false;
            count = job_[pos_ + 1];
            pos_ += 2;
        } else if (lenType == kXlUint16) {
            if (!need(3, start, "array length")) return false;
            count = static_cast<size_t>(job_[pos_ + 1] | job_[pos_ + 2] << 8);
            pos_ += 3;
        } else {
            return fail(
                pos_, "array length of type " + xlTypeName(lenType) + ", expected ubyte or uint16");
        }
    }
    const size_t bytes = count * shape.elementSize;  // at most 65535 x 4
    if (!need(bytes, start, ("value of type " + xlTypeName(type)).c_str())) return false;
    attr.values.resize(count);
    for (size_t i = 0; i < count; ++i) {
        attr.values[i] = readElement(&job_[pos_ + i * shape.elementSize], shape.base);
    }
    pos_ += bytes;
    return true;
}

XlReader::Status XlReader::next(XlOperation& op) {
    if (failed_) return Status::Error;
    op = XlOperation{};
    op.offset = pos_;
    while (true) {
        if (pos_ >= job_.size()) {
            if (!op.attrs.empty()) {
                fail(op.attrs.back().offset, "job ends after an attribute, before its operator");
                return Status::Error;
            }
            return Status::EndOfInput;
        }
        const uint64_t tokenOffset = pos_;
        const uint8_t b = job_[pos_];
        if (b == 0x1B && op.attrs.empty()) return Status::End;
        if (b >= 0xC0 && b <= 0xEF) {
            if (op.attrs.size() >= kMaxAttributes) {
                fail(tokenOffset, "more than " + std::to_string(kMaxAttributes) +
                                      " attributes before an operator");
                return Status::Error;
            }
            XlAttr attr;
            if (!readValue(attr)) return Status::Error;
            // A value must be followed by its attribute identifier.
            if (!need(1, attr.offset, "attribute")) return Status::Error;
            const uint8_t tag = job_[pos_];
            if (tag == kXlAttrUbyte) {
                if (!need(2, attr.offset, "attribute")) return Status::Error;
                attr.id = job_[pos_ + 1];
                pos_ += 2;
            } else if (tag == kXlAttrUint16) {
                if (!need(3, attr.offset, "attribute")) return Status::Error;
                attr.id = static_cast<uint16_t>(job_[pos_ + 1] | job_[pos_ + 2] << 8);
                attr.longId = true;
                pos_ += 3;
            } else {
                fail(pos_, "value at offset " + std::to_string(attr.offset) +
                               " is followed by byte " + hex2(tag) +
                               ", expected an attribute tag (0xF8)");
                return Status::Error;
            }
            op.attrs.push_back(std::move(attr));
            continue;
        }
        if (b >= 0x40 && b <= 0xBF) {
            op.op = b;
            op.opOffset = tokenOffset;
            ++pos_;
            // Embedded data belongs to the operator right before it.
            if (pos_ < job_.size() &&
                (job_[pos_] == kXlDataLength || job_[pos_] == kXlDataLengthByte)) {
                const uint64_t dataTag = pos_;
                const bool wide = job_[pos_] == kXlDataLength;
                const size_t headBytes = wide ? 5 : 2;
                if (!need(headBytes, dataTag, "embedded data length")) return Status::Error;
                const uint8_t* p = &job_[pos_ + 1];
                const uint64_t length = wide ? (uint64_t{p[0]} | uint64_t{p[1]} << 8 |
                                                uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24)
                                             : p[0];
                pos_ += headBytes;
                const uint64_t left = job_.size() - pos_;
                if (length > left) {
                    fail(dataTag, "embedded data of " + std::to_string(length) +
                                      " bytes runs past the end of the job (" +
                                      std::to_string(left) + " bytes left)");
                    return Status::Error;
                }
                op.hasData = true;
                op.dataOffset = dataTag;
                op.data = job_.subspan(pos_, static_cast<size_t>(length));
                pos_ += static_cast<size_t>(length);
            }
            op.end = pos_;
            return Status::Operation;
        }
        if (b == kXlDataLength || b == kXlDataLengthByte) {
            fail(tokenOffset, "embedded data that does not follow an operator");
        } else if (b == kXlAttrUbyte || b == kXlAttrUint16) {
            fail(tokenOffset, "attribute tag without a value before it");
        } else if (b == 0x1B) {
            fail(op.attrs.back().offset,
                 "the PCL XL stream ends after an attribute, before its operator");
        } else {
            fail(tokenOffset, "unknown tag " + hex2(b));
        }
        return Status::Error;
    }
}

}  // namespace inspect
