// Shared bits of the libFuzzer targets.
#pragma once

#include <cstddef>
#include <cstdint>

// An invariant that holds whatever the input; a break stops the run.
inline void fuzzCheck(bool ok) {
    if (!ok) __builtin_trap();
}

// Reads the fuzzer's input front to back: small numbers that steer a case,
// then the rest as data.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t take(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes && pos_ < size_; ++i)
            value = value << 8 | data_[pos_++];
        return value;
    }
    const uint8_t* rest() const { return data_ + pos_; }
    size_t restSize() const { return size_ - pos_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
