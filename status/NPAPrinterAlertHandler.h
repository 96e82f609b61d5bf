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

#include "status/NPATransport.h"
#include "status/OIRCommandResp.h"

inline constexpr size_t kOirAddressSize = 200;
inline constexpr size_t kOirReplySize = 540;
inline constexpr uint64_t kOirPacketID = 0x1111;
inline constexpr int kOirDatagramSize = 14;  // transport header + request

// The thread's parameter record, owned by whoever starts the thread; it must
// outlive the thread (stopOirThread() waits for that).
struct oirThreadParam {
    char address[kOirAddressSize] = {};  // printer's IPv4 address, terminated
    // Set to 1 once the thread is created and again before every poll.
    std::atomic<uint8_t> flag{0};
    // Host controls: `stop` asks the thread to end; `finished` is true while no
    // thread uses this record (the thread sets it as the very last thing it does).
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{true};
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

// Starts a detached thread polling the printer named in `param` (network
// transport): every 10 ms, and 2 s more after a report.  Sets param->flag to 1
// on success.  Returns 0, or the thread library's error code.
int startOirThread(oirThreadParam* param);
void processOirThread(oirThreadParam* param);
void processOirThreadPrinterHandler(oirThreadParam* param);
// Asks the thread to end and waits until it no longer uses `param`.
void stopOirThread(oirThreadParam* param);
