// USB transport of the operator-intervention poller: a stand-in that sends and
// receives nothing (on USB the status requests travel inside the job stream).
#pragma once

#include "status/NPATransport.h"

class NPATransportUSB : public NPATransport {
  public:
    int64_t InitializeConnection(const char* address) override;
    int64_t SendNPACommand(const uint8_t* data, uint64_t length) override;
    int64_t ReadNPAResponse(uint8_t* buffer, uint64_t size) override;
    int64_t ShutdownConnection() override;
};
