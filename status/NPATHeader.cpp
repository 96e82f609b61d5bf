#include "status/NPATHeader.h"

void NPATHeaderReq::CopyNPATHdrBytes(uint8_t* destination) const {
    destination[0] = byte0;
    destination[1] = byte1;
    destination[2] = byte2;
    destination[3] = byte3;
    // Only the low 32 bits of the identifier travel, least significant first.
    for (int i = 0; i < 4; ++i)
        destination[4 + i] = static_cast<uint8_t>(packetID >> (8 * i));
}
