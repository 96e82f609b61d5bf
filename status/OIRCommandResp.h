// The operator-intervention (OIR) status reply and its texts.
//
// Reply packet: A5, length (2 bytes), flags, command, parameter, record count R,
// then R records one after another.  A record: device-type code (1-16), a byte not
// interpreted, state code (1-60), the record's whole length L (>= 4, these four
// bytes included), L - 4 bytes not interpreted.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kOirMinReply = 8;
inline constexpr size_t kOirRecordHeader = 4;
inline constexpr size_t kOirSlotSize = 259;  // record header + up to 255 record bytes
inline constexpr int kOirDeviceCodes = 16;
inline constexpr int kOirStateCodes = 60;
inline constexpr size_t kOirTextSize = 50;

// Word tables, indexed by code - 1.
extern const std::array<const char*, kOirDeviceCodes> kOirDeviceWords;
extern const std::array<const char*, kOirStateCodes> kOirStateWords;

class OIRCommandResp {
  public:
    // Parses `length` bytes of a reply packet.  1, or -1 when the length is
    // less than 8 or the first byte is not 0xA5.  Records are taken while they
    // lie wholly inside the `length` bytes; a record that reaches past them, or
    // has a length below 4, ends the list.  *recordCount = records taken.
    int ParseOIRResponse(const uint8_t* data, uint16_t length, int* recordCount);

    // Text k = device word of record k immediately followed by its state word
    // (no separator), for the records whose codes are in range; other texts,
    // and texts beyond the records, are left as they were.
    void mappedString(std::vector<std::string>* texts) const;

    uint8_t startByte = 0;
    std::array<uint8_t, 2> length{};
    uint8_t flags = 0;
    uint8_t command = 0;
    uint8_t parameter = 0;
    uint8_t recordCount = 0;
    std::vector<std::array<uint8_t, kOirSlotSize>> records;
};
