#include "status/NPATransportFactory.h"

#include "status/NPATransport9300.h"
#include "status/NPATransportUSB.h"

std::unique_ptr<NPATransport> NPATransportFactory::CreateTransportObj(uint16_t kind) {
    switch (kind) {
        case NPA_TRANSPORT_9300:
            return std::make_unique<NPATransport9300>();
        case NPA_TRANSPORT_USB:
            return std::make_unique<NPATransportUSB>();
        default:
            return nullptr;
    }
}
