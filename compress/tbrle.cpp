#include "compress/tbrle.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint8_t kRepeatFlag = 0x80;
constexpr uint32_t kMaxLiteral = 128;  // a literal length byte holds count - 1 <= 0x7F
constexpr uint32_t kMaxUnits = 8;      // units - 1 fits in 3 bits

// Unit codes of the repeat pieces (control byte bits 4-3) and their sizes.
constexpr uint32_t kUnit1 = 0, kUnit8 = 1, kUnit64 = 2, kUnit512 = 3;
static_assert(size_table[kUnit8] == 8 && size_table[kUnit64] == 64 && size_table[kUnit512] == 512);

constexpr uint8_t pieceByte(uint32_t classMinus1, uint32_t unitCode, uint32_t units) {
    return static_cast<uint8_t>(kRepeatFlag | (classMinus1 & 3) << 5 | unitCode << 3 | (units - 1));
}

// Packed bytes a repeat piece stands for.
constexpr uint32_t pieceLength(uint8_t b) {
    return uint32_t{count_table[b]} * size_table[(b >> 3) & 3];
}

// An input group of four pixels that all hold value v, as the plane gives it
// (value 0 is written as 4).
constexpr uint32_t uniformGroup(uint32_t value) {
    return (value == 0 ? 4u : value) * 0x01010101u;
}

// Packs the pixels p[0..n) (n <= 4) into one byte, first pixel in the low bits.
// A 0 repeats the value before it, carried across groups in `previous`; the
// pixels missing from a short last group repeat the last value too.
inline uint8_t packGroup(const uint8_t* p, uint32_t n, uint32_t& previous) {
    uint32_t packed = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (i < n && p[i] != 0) previous = p[i] & 3u;
        packed |= previous << (2 * i);
    }
    return static_cast<uint8_t>(packed);
}

// Output side of the encoder: every write is checked against the capacity.
class StreamWriter {
  public:
    StreamWriter(uint8_t* out, uint32_t capacity) : out_(out), capacity_(capacity) {}

    uint32_t size() const { return pos_; }

    // Repeat pieces of a whole run; false when they do not all fit.
    bool putRun(uint32_t classMinus1, uint32_t count) {
        const uint32_t need = encode_pattern_length(count);
        if (need > capacity_ - pos_) return false;
        pos_ += encode_pattern(out_ + pos_, capacity_ - pos_, classMinus1, count);
        return true;
    }

    // One packed byte of a literal run, opening a run (one byte reserved for its
    // length) when none is open or the open one is full.
    bool putLiteral(uint8_t packed) {
        if (literalCount_ == 0 || literalCount_ == kMaxLiteral) {
            if (capacity_ - pos_ < 2) return false;
            closeLiteral();
            literalAt_ = pos_++;
        } else if (capacity_ == pos_) {
            return false;
        }
        out_[pos_++] = packed;
        ++literalCount_;
        return true;
    }

    // Fills in the length byte of the open literal run, if any.
    void closeLiteral() {
        if (literalCount_ == 0) return;
        out_[literalAt_] = static_cast<uint8_t>(literalCount_ - 1);
        literalCount_ = 0;
    }

  private:
    uint8_t* out_;
    uint32_t capacity_;
    uint32_t pos_ = 0;
    uint32_t literalAt_ = 0;
    uint32_t literalCount_ = 0;  // 0: no literal run open
};

// Output side of the decoder: packed byte k goes to
// (k / bytesPerLine) * lineStride + k % bytesPerLine.  The caller has checked
// that the extent of every byte it will write lies within the output.
class PlaneWriter {
  public:
    PlaneWriter(uint8_t* out, uint32_t bytesPerLine, uint32_t lineStride)
        : out_(out), bytesPerLine_(bytesPerLine), lineStride_(lineStride) {}

    uint64_t written() const { return written_; }

    void fill(uint8_t value, uint64_t n) {
        while (n > 0) {
            const uint64_t chunk = std::min<uint64_t>(n, bytesPerLine_ - column_);
            std::memset(out_ + lineStart_ + column_, value, chunk);
            advance(chunk);
            n -= chunk;
        }
    }

    void copy(const uint8_t* from, uint64_t n) {
        while (n > 0) {
            const uint64_t chunk = std::min<uint64_t>(n, bytesPerLine_ - column_);
            std::memcpy(out_ + lineStart_ + column_, from, chunk);
            from += chunk;
            advance(chunk);
            n -= chunk;
        }
    }

  private:
    void advance(uint64_t chunk) {
        written_ += chunk;
        column_ += chunk;
        if (column_ == bytesPerLine_) {
            column_ = 0;
            lineStart_ += lineStride_;
        }
    }

    uint8_t* out_;
    uint64_t bytesPerLine_;
    uint64_t lineStride_;
    uint64_t lineStart_ = 0;
    uint64_t column_ = 0;
    uint64_t written_ = 0;
};

}  // namespace

uint32_t encode_pattern_length(uint32_t count) {
    const uint32_t units512 = count / 512;
    const uint32_t rest = count % 512;
    return (units512 + kMaxUnits - 1) / kMaxUnits + (rest >= 64 ? 1 : 0) +
           (rest % 64 >= 8 ? 1 : 0) + (rest % 8 != 0 ? 1 : 0);
}

uint32_t encode_pattern(uint8_t* output, uint32_t spaceLeft, uint32_t classMinus1, uint32_t count) {
    uint32_t written = 0;
    auto put = [&](uint32_t unitCode, uint32_t units) {
        if (written == spaceLeft) return false;
        output[written++] = pieceByte(classMinus1, unitCode, units);
        return true;
    };
    if (count >= 512) {
        // The first piece takes the odd part so that every further piece is a
        // full 8 units: 10 * 512 is 2 units, then 8.
        uint32_t units = count / 512;
        uint32_t piece = (units - 1) % kMaxUnits + 1;
        while (units > 0) {
            if (!put(kUnit512, piece)) return written;
            units -= piece;
            piece = kMaxUnits;
        }
        count %= 512;
    }
    // Below 512 every unit needs at most 7 pieces, so one piece each suffices.
    if (count >= 64) {
        if (!put(kUnit64, count / 64)) return written;
        count %= 64;
    }
    if (count >= 8) {
        if (!put(kUnit8, count / 8)) return written;
        count %= 8;
    }
    if (count >= 1) put(kUnit1, count);
    return written;
}

uint32_t tbrle_max_encoded_size(uint32_t inputLength) {
    const uint64_t packed = (uint64_t{inputLength} + 3) / 4;
    return static_cast<uint32_t>(std::max<uint64_t>(1, packed + (packed + 1) / 2));
}

uint32_t tbrle_encode(uint32_t capacity, uint8_t* output, uint32_t inputLength,
                      const uint8_t* input) {
    if (output == nullptr || capacity == 0 || (input == nullptr && inputLength > 0)) return 0;

    // Leading 0s take the value of the first pixel that is not 0; a plane with
    // no such pixel is the single byte 0x00.
    const uint8_t* firstSet =
        std::find_if(input, input + inputLength, [](uint8_t b) { return b != 0; });
    if (firstSet == input + inputLength) {
        output[0] = 0x00;
        return 1;
    }
    uint32_t previous = *firstSet & 3u;

    StreamWriter writer(output, capacity);
    uint32_t runClass = 0;  // class of the run under way, 0 when none
    uint32_t runLength = 0;
    uint32_t pos = 0;
    while (pos < inputLength) {
        if (runClass != 0) {
            // Continue the run under way without unpacking: a group of four 0s
            // (same value as before) or four pixels of the run's value.
            const uint32_t same = uniformGroup(runClass - 1);
            const uint64_t same2 = uint64_t{same} << 32 | same;
            while (inputLength - pos >= 8) {
                uint64_t pair;
                std::memcpy(&pair, input + pos, 8);
                if (pair != same2 && pair != 0) {
                    const uint32_t lo = static_cast<uint32_t>(pair);
                    const uint32_t hi = static_cast<uint32_t>(pair >> 32);
                    if ((lo != same && lo != 0) || (hi != same && hi != 0)) break;
                }
                runLength += 2;
                pos += 8;
            }
            if (inputLength - pos >= 4) {
                uint32_t group;
                std::memcpy(&group, input + pos, 4);
                if (group == same || group == 0) {
                    ++runLength;
                    pos += 4;
                    continue;
                }
            }
            if (pos == inputLength) break;
        }

        const uint32_t n = std::min<uint32_t>(4, inputLength - pos);
        const uint8_t packed = packGroup(input + pos, n, previous);
        pos += n;
        const uint32_t cls = compressable[packed];
        if (cls != 0) {
            writer.closeLiteral();
            if (cls == runClass) {
                ++runLength;
            } else {
                if (runClass != 0 && !writer.putRun(runClass - 1, runLength)) return 0;
                runClass = cls;
                runLength = 1;
            }
        } else {
            if (runClass != 0) {
                if (!writer.putRun(runClass - 1, runLength)) return 0;
                runClass = 0;
                runLength = 0;
            }
            if (!writer.putLiteral(packed)) return 0;
        }
    }

    if (writer.size() == 0) {
        // The whole plane is one run: its uniform byte alone stands for it.
        output[0] = byte_table[runClass];
        return 1;
    }
    if (runClass != 0) {
        if (!writer.putRun(runClass - 1, runLength)) return 0;
    } else {
        writer.closeLiteral();
    }
    return writer.size();
}

uint64_t tbrle_decoded_extent(uint32_t count, uint32_t bytesPerLine, uint32_t lineStride) {
    if (count == 0) return 0;
    if (bytesPerLine == 0) return count;
    const uint32_t last = count - 1;
    return uint64_t{last / bytesPerLine} * lineStride + last % bytesPerLine + 1;
}

uint32_t tbrle_decode(uint32_t expectedLength, uint8_t* output, uint32_t outputCapacity,
                      uint32_t streamLength, const uint8_t* stream, uint32_t bytesPerLine,
                      uint32_t lineStride) {
    if (output == nullptr || stream == nullptr || streamLength == 0) return 0;
    if (bytesPerLine == 0) {
        // One unbroken line: the plane is stored contiguously.
        bytesPerLine = std::max<uint32_t>(expectedLength, 1);
        lineStride = bytesPerLine;
    }
    if (lineStride < bytesPerLine) return 0;
    if (tbrle_decoded_extent(expectedLength, bytesPerLine, lineStride) > outputCapacity) return 0;

    PlaneWriter plane(output, bytesPerLine, lineStride);
    if (streamLength == 1) {
        plane.fill(stream[0], expectedLength);
        return static_cast<uint32_t>(
            tbrle_decoded_extent(expectedLength, bytesPerLine, lineStride));
    }

    uint64_t left = expectedLength;
    uint32_t i = 0;
    while (i < streamLength) {
        const uint8_t control = stream[i++];
        const uint32_t cls = decompressable[control];
        if (cls != 0) {
            // A run is the sum of all directly following pieces of its class.
            uint64_t run = pieceLength(control);
            while (i < streamLength && decompressable[stream[i]] == cls && run <= left) {
                run += pieceLength(stream[i++]);
            }
            if (run > left) return 0;
            plane.fill(byte_table[cls], run);
            left -= run;
        } else {
            const uint32_t n = uint32_t{control} + 1;
            if (n > left || n > streamLength - i) return 0;
            plane.copy(stream + i, n);
            i += n;
            left -= n;
        }
    }
    return static_cast<uint32_t>(
        tbrle_decoded_extent(static_cast<uint32_t>(plane.written()), bytesPerLine, lineStride));
}
