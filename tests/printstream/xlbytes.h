// Test helpers: a capturing byte sink and builders that spell out PCL XL items
// byte by byte, independently of the encoder under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A byte sink that keeps everything it receives, and the size of each call.
struct Capture {
    Bytes bytes;
    std::vector<uint32_t> sizes;

    int64_t operator()(const uint8_t* data, uint32_t length) {
        bytes.insert(bytes.end(), data, data + length);
        sizes.push_back(length);
        return length;
    }
    void clear() {
        bytes.clear();
        sizes.clear();
    }
};

// Joins pieces into one byte string.
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
inline std::string asText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// Readable form for failure messages: "C0 00 F8 28".
inline std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

// Little-endian 16 and 32 bits.
inline Bytes le16(uint16_t v) {
    return {uint8_t(v), uint8_t(v >> 8)};
}
inline Bytes le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// Attributes: value with its type tag, then F8 and the identifier.  Floats are
// given as their IEEE-754 bit patterns (1.0f = 0x3F800000).
inline Bytes attr(uint8_t id) {
    return {0xF8, id};
}
inline Bytes attrUByte(uint8_t id, uint8_t v) {
    return {0xC0, v, 0xF8, id};
}
inline Bytes attrU16(uint8_t id, uint16_t v) {
    return cat({{0xC1}, le16(v), attr(id)});
}
inline Bytes attrU16XY(uint8_t id, uint16_t x, uint16_t y) {
    return cat({{0xD1}, le16(x), le16(y), attr(id)});
}
inline Bytes attrS16XY(uint8_t id, int16_t x, int16_t y) {
    return cat({{0xD3}, le16(uint16_t(x)), le16(uint16_t(y)), attr(id)});
}
inline Bytes attrReal32XY(uint8_t id, uint32_t xBits, uint32_t yBits) {
    return cat({{0xD5}, le32(xBits), le32(yBits), attr(id)});
}
// ubyte_array with a one-byte count (texts shorter than 256 bytes).
inline Bytes attrUByteArray(uint8_t id, std::string_view s) {
    return cat({{0xC8, 0xC0, uint8_t(s.size())}, text(s), attr(id)});
}
inline Bytes op(uint8_t code) {
    return {code};
}
inline Bytes embed(uint32_t length) {
    return cat({{0xFA}, le32(length)});
}

// Fixture base: clean capture before every case.
class CaptureTest : public ::testing::Test {
  protected:
    Capture capture;
};
