#include "status/NPAPrinterAlertHandler.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/messages.h"
#include "status/NPATHeader.h"
#include "status/NPATransportFactory.h"
#include "status/NPAValidator.h"
#include "status/OIRCommandReq.h"
#include "status/StatusWait.h"

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(10);
constexpr auto kReportPause = std::chrono::seconds(2);

}  // namespace

NPAPrinterAlertHandler::NPAPrinterAlertHandler(uint16_t kind)
    : pNPATransport(NPATransportFactory::CreateTransportObj(kind)) {}

NPAPrinterAlertHandler::NPAPrinterAlertHandler(std::unique_ptr<NPATransport> transport)
    : pNPATransport(std::move(transport)) {}

int64_t NPAPrinterAlertHandler::GetPrinterOIRStatus(const oirThreadParam* param) {
    recordCount = 0;
    if (!pNPATransport || param == nullptr) return -1;

    NPATHeaderReq header;
    header.setPacketID(kOirPacketID);
    OIRCommandReq request;
    std::string address(param->address, strnlen(param->address, kOirAddressSize));
    pNPATransport->InitializeConnection(address.c_str());

    std::array<uint8_t, kOirDatagramSize> datagram{};
    header.CopyNPATHdrBytes(datagram.data());
    request.CopyOIRReqBytes(datagram.data() + header.getHeaderLength());
    int64_t sent = pNPATransport->SendNPACommand(datagram.data(), datagram.size());
    if (sent <= 0) return sent;

    std::array<uint8_t, kOirReplySize> reply{};
    int64_t got = pNPATransport->ReadNPAResponse(reply.data(), reply.size());
    response = reply;
    // The packet starts behind the reply header, so only got - 12 of the bytes
    // read belong to it (a failed read gives nothing to parse).
    if (got > static_cast<int64_t>(kNpaReplyHeaderSize)) {
        int64_t packet = got - static_cast<int64_t>(kNpaReplyHeaderSize);
        if (packet > static_cast<int64_t>(kOirReplySize - kNpaReplyHeaderSize)) {
            packet = kOirReplySize - kNpaReplyHeaderSize;
        }
        int found = 0;
        if (oirResponse.ParseOIRResponse(response.data() + kNpaReplyHeaderSize,
                                         static_cast<uint16_t>(packet), &found) == 1) {
            recordCount = found;
        }
    } else {
        oirResponse.records.clear();
    }
    return 1;
}

void NPAPrinterAlertHandler::GetParsedString(std::vector<std::string>* texts) const {
    oirResponse.mappedString(texts);
}

void processOirThreadPrinterHandler(oirThreadParam* param) {
    NPAPrinterAlertHandler handler(NPA_TRANSPORT_9300);
    while (param->thread.running()) {
        param->flag.store(1);
        int64_t result = handler.GetPrinterOIRStatus(param);
        if (result >= 0 && handler.recordCount > 0) {
            std::vector<std::string> texts(static_cast<size_t>(handler.recordCount));
            handler.GetParsedString(&texts);
            if (!texts[0].empty()) {
                msgf("WARNING: %s\n", texts[0].c_str());
                pauseWhileRunning(param->thread, kReportPause);
            }
        }
        pauseWhileRunning(param->thread, kPollPause);
    }
}

void processOirThread(oirThreadParam* param) {
    processOirThreadPrinterHandler(param);
    param->finished.store(true);
}

int startOirThread(oirThreadParam* param) {
    if (param == nullptr) return EINVAL;
    param->thread.stop();  // one poller per record
    param->finished.store(false);
    if (!param->thread.start([param] { processOirThread(param); })) {
        param->finished.store(true);
        return EAGAIN;
    }
    param->flag.store(1);
    return 0;
}

void stopOirThread(oirThreadParam* param) {
    if (param != nullptr) param->thread.stop();
}
