// The operator-intervention (OIR) status poller.
//
// A handler asks the printer for its OIR records through a transport (UDP port
// 9300 in practice), turns each record into a short text from the word tables
// (status/OIRCommandResp.h) and, on its own thread, reports the first text as
// a "WARNING:" line.  The filter's job flow does not start it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/waiter.h"
#include "status/NPATransport.h"
#include "status/OIRCommandResp.h"

inline constexpr size_t kOirAddressSize = 200;
inline constexpr size_t kOirReplySize = 540;
inline constexpr uint64_t kOirPacketID = 0x1111;
inline constexpr int kOirDatagramSize = 14;  // transport header + request

// The thread's parameter record, owned by whoever starts the thread; it owns
// the thread, and stopOirThread() (or the record's end) stops and joins it.
struct oirThreadParam {
    char address[kOirAddressSize] = {};  // printer's IPv4 address, terminated
    // Set to 1 once the thread is created and again before every poll.
    std::atomic<uint8_t> flag{0};
    // True while no thread uses this record (the thread sets it as the very
    // last thing it does).
    std::atomic<bool> finished{true};
    // The poller; stopping it ends its pauses at once.
    StoppableThread thread;
};

class NPAPrinterAlertHandler {
  public:
    // Uses a new transport of `kind` from the factory (none for an unknown kind:
    // every poll then fails with -1).
    explicit NPAPrinterAlertHandler(uint16_t kind);
    // Uses the given transport (tests hand in a fake).
    explicit NPAPrinterAlertHandler(std::unique_ptr<NPATransport> transport);

    // One poll: sends 01 00 00 31 11 11 00 00 A5 00 03 50 04 06, reads one reply
    // and parses its packet (behind the 12-byte reply header).  1 after a reply
    // was read (recordCount then holds the records found, 0 when the parse
    // failed); the send result when that is 0 or less; -1 without a transport.
    int64_t GetPrinterOIRStatus(const oirThreadParam* param);
    void GetParsedString(std::vector<std::string>* texts) const;

    NPATransport* transport() const { return pNPATransport.get(); }

    std::array<uint8_t, kOirReplySize> response{};
    OIRCommandResp oirResponse;
    int recordCount = 0;

  private:
    // The transport in use, owned by this handler, so that a second handler
    // cannot pull it from under a running poll.
    std::unique_ptr<NPATransport> pNPATransport;
};

// Starts the thread polling the printer named in `param` (network transport):
// every 10 ms, and 2 s more after a report.  A poller already running on the
// record is stopped first.  Sets param->flag to 1 on success.  Returns 0, or
// EAGAIN when no thread could be made.
int startOirThread(oirThreadParam* param);
void processOirThread(oirThreadParam* param);
void processOirThreadPrinterHandler(oirThreadParam* param);
// Stops the thread and waits until it no longer uses `param`.
void stopOirThread(oirThreadParam* param);
