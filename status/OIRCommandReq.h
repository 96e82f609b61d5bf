// The operator-intervention (OIR) status request: A5 00 03 50 04 06.
#pragma once

#include <cstdint>

class OIRCommandReq {
  public:
    static constexpr int kLength = 6;

    int getOIRLength() const { return kLength; }
    // Writes the six request bytes (length big-endian).
    void CopyOIRReqBytes(uint8_t* destination) const;

    uint8_t startByte = 0xA5;
    uint16_t length = 3;
    uint8_t flags = 0x50;
    uint8_t command = 0x04;
    uint8_t parameter = 0x06;
};
