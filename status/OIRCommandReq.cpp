#include "status/OIRCommandReq.h"

void OIRCommandReq::CopyOIRReqBytes(uint8_t* destination) const {
    destination[0] = startByte;
    destination[1] = static_cast<uint8_t>(length >> 8);
    destination[2] = static_cast<uint8_t>(length);
    destination[3] = flags;
    destination[4] = command;
    destination[5] = parameter;
}
