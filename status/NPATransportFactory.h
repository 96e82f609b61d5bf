// Makes the transport of a kind (NPATransportTypes).
#pragma once

#include <cstdint>
#include <memory>

#include "status/NPATransport.h"

class NPATransportFactory {
  public:
    // 1 -> NPATransport9300, 2 -> NPATransportUSB, anything else -> none.
    static std::unique_ptr<NPATransport> CreateTransportObj(uint16_t kind);
};
