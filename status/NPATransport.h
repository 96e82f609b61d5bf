// The exchangeable transport of the operator-intervention poller.
#pragma once

#include <cstdint>

enum NPATransportTypes : uint16_t {
    NPA_TRANSPORT_9300 = 1,  // UDP to port 9300 of the printer
    NPA_TRANSPORT_USB = 2,   // placeholder: does nothing
};

class NPATransport {
  public:
    virtual ~NPATransport();
    // 0 when the transport is ready to be used (or tried), -1 on failure.
    virtual int64_t InitializeConnection(const char* address) = 0;
    // Bytes sent, or -1.
    virtual int64_t SendNPACommand(const uint8_t* data, uint64_t length) = 0;
    // Bytes received into `buffer` (cleared first), or -1.
    virtual int64_t ReadNPAResponse(uint8_t* buffer, uint64_t size) = 0;
    virtual int64_t ShutdownConnection() = 0;

    bool connected = false;
};
