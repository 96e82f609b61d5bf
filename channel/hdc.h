// The host-device channel: the one way bytes of the printer job leave the filter.
//
// Producers hand bytes to hdcWrite(), which appends them to a large ring; a
// print thread takes them out in big batches (everything held once more than
// the flush threshold has piled up) and writes them to standard output.
// hdcWaitUntilEmpty() lowers the threshold to 0 and waits until every byte has
// been written.  The module also owns the start and stop controls of the two
// printer-status threads (USB back-channel reader and network monitor).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "channel/cbuffer.h"

// Ring size and batching threshold of a job.
inline constexpr uint32_t kHdcRingCapacity = 20971520;   // 20 MiB
inline constexpr uint32_t kHdcFlushThreshold = 5242880;  // 5 MiB

struct HdcContext {
    std::atomic<bool> running{false};
    std::thread thread;
    cbuffer ring;
    std::atomic<uint32_t> flushThreshold{0};
    // Set by the print thread once standard output has failed for good (the
    // backend went away, the disk is full, ...).  From then on every write fails
    // at once and nothing more is sent.
    std::atomic<bool> failed{false};
    // Set while the print thread holds a batch it has taken out of the ring but
    // not yet written; the drain waits for it.
    std::atomic<bool> batchInFlight{false};
    int outputFd = 1;
};

extern HdcContext hdcContext;

void hdcInitialize(uint32_t capacity, uint32_t threshold);
// Starts the print thread; `argument` (the connection type) is not used by it.
// Returns false when the thread could not be started.
bool hdcStartPrintThread(const char* argument);
// The byte sink of the job stream: waits until the ring has room for all
// `length` bytes and appends them.  Returns length, or -1 when the bytes can
// never be taken (no ring, more than the ring holds, output failed, or no print
// thread to make room).  It never writes part of a request.
int64_t hdcWrite(const uint8_t* data, uint32_t length);
// Forwards whatever is held and waits until all of it has been written (or
// output has failed).
void hdcWaitUntilEmpty();
void hdcStopPrintThread();
void hdcDestroy();
// True once writing to standard output has failed.
bool hdcFailed();
// Test hook: the descriptor the print thread writes to (standard output by default).
void hdcSetOutputFd(int fd);

// Printer-status threads; see channel/usbreader.cpp and channel/netmonitor.cpp.
void StartUsbReadThread();
void StopUsbReadThread();
void StartNpaNetworkThread(const char* address);
void StopNpaNetworkThread();
