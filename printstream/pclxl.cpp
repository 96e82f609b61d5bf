#include "printstream/pclxl.h"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>

namespace {

// A fixed-size record being built on the stack.  Numbers go in least
// significant byte first whatever the host's byte order; floats go in as the
// bits of their IEEE-754 single representation (copied, never computed).
template <size_t N>
class XLRecord {
  public:
    void put(uint8_t b) {
        assert(used_ < N);
        bytes_[used_++] = b;
    }
    void putU16(uint16_t v) {
        put(static_cast<uint8_t>(v));
        put(static_cast<uint8_t>(v >> 8));
    }
    // Two's complement: -1 goes out as FF FF.
    void putS16(int16_t v) { putU16(static_cast<uint16_t>(v)); }
    void putU32(uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            put(static_cast<uint8_t>(v >> shift));
    }
    void putReal32(float v) { putU32(std::bit_cast<uint32_t>(v)); }
    // The attribute tag and identifier that end every attribute.
    void putAttr(uint8_t attr) {
        put(kXLAttrUByte);
        put(attr);
    }
    // The element count of an array: ubyte up to 255, uint16 from 256 on.
    void putArrayCount(uint16_t count) {
        if (count <= 255) {
            put(kXLUByte);
            put(static_cast<uint8_t>(count));
        } else {
            put(kXLUInt16);
            putU16(count);
        }
    }
    void send(ByteSink sink) const { sink(bytes_.data(), static_cast<uint32_t>(used_)); }

  private:
    std::array<uint8_t, N> bytes_{};
    size_t used_ = 0;
};

// Type tag (1) + count tag (1) + count (up to 2).
using ArrayHead = XLRecord<4>;

void sendArrayHead(ByteSink sink, uint8_t type, uint16_t count) {
    ArrayHead head;
    head.put(type);
    head.putArrayCount(count);
    head.send(sink);
}

void sendAttrTail(ByteSink sink, uint8_t attr) {
    XLRecord<2> tail;
    tail.putAttr(attr);
    tail.send(sink);
}

// 16-bit arrays, signed or not: the elements go out one per sink call.
template <typename T>
void outputXLAttr16Array(ByteSink sink, uint8_t type, uint8_t attr, const T* elements,
                         uint16_t count) {
    if (sink == nullptr || (elements == nullptr && count != 0)) return;
    sendArrayHead(sink, type, count);
    for (uint16_t i = 0; i < count; ++i) {
        XLRecord<2> element;
        element.putU16(static_cast<uint16_t>(elements[i]));
        element.send(sink);
    }
    sendAttrTail(sink, attr);
}

}  // namespace

void outputBytes(ByteSink sink, const uint8_t* data, uint32_t length) {
    if (sink == nullptr || data == nullptr || length == 0) return;
    sink(data, length);
}

void outputOperator(ByteSink sink, uint8_t op) {
    if (sink == nullptr) return;
    sink(&op, 1);
}

void outputXLAttrByte(ByteSink sink, uint8_t attr, uint8_t value) {
    if (sink == nullptr) return;
    XLRecord<4> r;
    r.put(kXLUByte);
    r.put(value);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrUInt16(ByteSink sink, uint8_t attr, uint16_t value) {
    if (sink == nullptr) return;
    XLRecord<5> r;
    r.put(kXLUInt16);
    r.putU16(value);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrUInt32(ByteSink sink, uint8_t attr, uint32_t value) {
    if (sink == nullptr) return;
    XLRecord<7> r;
    r.put(kXLUInt32);
    r.putU32(value);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrReal32(ByteSink sink, uint8_t attr, const float& value) {
    if (sink == nullptr) return;
    XLRecord<7> r;
    r.put(kXLReal32);
    r.putReal32(value);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrUInt16XY(ByteSink sink, uint8_t attr, uint16_t x, uint16_t y) {
    if (sink == nullptr) return;
    XLRecord<7> r;
    r.put(kXLUInt16XY);
    r.putU16(x);
    r.putU16(y);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrSInt16XY(ByteSink sink, uint8_t attr, int16_t x, int16_t y) {
    if (sink == nullptr) return;
    XLRecord<7> r;
    r.put(kXLSInt16XY);
    r.putS16(x);
    r.putS16(y);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrReal32XY(ByteSink sink, uint8_t attr, const float& x, const float& y) {
    if (sink == nullptr) return;
    XLRecord<11> r;
    r.put(kXLReal32XY);
    r.putReal32(x);
    r.putReal32(y);
    r.putAttr(attr);
    r.send(sink);
}

void outputXLAttrByteArray(ByteSink sink, uint8_t attr, const uint8_t* data, uint16_t length) {
    if (sink == nullptr || (data == nullptr && length != 0)) return;
    sendArrayHead(sink, kXLUByteArray, length);
    for (uint16_t i = 0; i < length; ++i)
        sink(&data[i], 1);
    sendAttrTail(sink, attr);
}

void outputXLAttrUInt16Array(ByteSink sink, uint8_t attr, const uint16_t* elements,
                             uint16_t count) {
    outputXLAttr16Array(sink, kXLUInt16Array, attr, elements, count);
}

void outputXLAttrSInt16Array(ByteSink sink, uint8_t attr, const int16_t* elements, uint16_t count) {
    outputXLAttr16Array(sink, kXLSInt16Array, attr, elements, count);
}

void outputXLEmbedData(ByteSink sink, uint32_t length) {
    if (sink == nullptr) return;
    XLRecord<5> r;
    r.put(kXLDataLength);
    r.putU32(length);
    r.send(sink);
}
