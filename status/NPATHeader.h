// The 8-byte network transport header in front of every NPA packet sent over UDP:
// 01 00 00 31, then a 32-bit packet identifier, least significant byte first.
#pragma once

#include <cstdint>

class NPATHeaderReq {
  public:
    static constexpr uint64_t kDefaultPacketID = 0x12345678;
    static constexpr int kHeaderLength = 8;

    void setPacketID(uint64_t identifier) { packetID = identifier; }
    int getHeaderLength() const { return kHeaderLength; }
    // Writes the eight header bytes; the payload goes behind them.
    void CopyNPATHdrBytes(uint8_t* destination) const;

    uint8_t byte0 = 0x01;
    uint8_t byte1 = 0x00;
    uint8_t byte2 = 0x00;
    uint8_t byte3 = 0x31;
    uint64_t packetID = kDefaultPacketID;
};
