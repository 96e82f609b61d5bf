#include "status/NPATransportUSB.h"

int64_t NPATransportUSB::InitializeConnection(const char* /*address*/) {
    return 0;
}
int64_t NPATransportUSB::SendNPACommand(const uint8_t* /*data*/, uint64_t /*length*/) {
    return 0;
}
int64_t NPATransportUSB::ReadNPAResponse(uint8_t* /*buffer*/, uint64_t /*size*/) {
    return 0;
}
int64_t NPATransportUSB::ShutdownConnection() {
    return 0;
}
