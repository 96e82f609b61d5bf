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

#include "channel/cbuffer.h"
#include "base/waiter.h"

// Ring size and batching threshold of a job.
inline constexpr uint32_t kHdcRingCapacity = 20971520;   // 20 MiB
inline constexpr uint32_t kHdcFlushThreshold = 5242880;  // 5 MiB

struct HdcContext {
    cbuffer ring;
    std::atomic<uint32_t> flushThreshold{0};
    // Set by the print thread once standard output has failed for good (the
    // backend went away, the disk is full, ...).  From then on every write fails
    // at once and nothing more is sent.
    std::atomic<bool> failed{false};
    // The failure came after the job was cancelled: the spooler stops the
    // backend and the filter together, so it is expected and not an error.
    std::atomic<bool> failedAfterCancel{false};
    // Producers (and the drain) wait here for room; the print thread signals
    // it whenever it has taken bytes out.
    Waiter space;
    int outputFd = 1;
    // The output's file status flags before the print thread made it
    // non-blocking (restored when it stops); -1 when untouched.
    int outputFlags = -1;
    // The print thread, last so that it is stopped before the ring and the
    // waiter it uses go away.
    StoppableThread printer;
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
// True once writing to standard output has failed, unless that happened
// after a cancel (see hdcSetCancelFlag): then it is expected, and a debug line
// instead of an error.
bool hdcFailed();
// True once writing to standard output has failed for whatever reason: no
// further byte will reach the printer.
bool hdcOutputClosed();
// The job's cancel flag (isTerminated); a failed write seen while it is set
// is reported as a debug line and does not fail the job.
void hdcSetCancelFlag(const std::atomic<int>* flag);
// Test hook: the descriptor the print thread writes to (standard output by default).
void hdcSetOutputFd(int fd);

// Printer-status threads; see channel/usbreader.cpp and channel/netmonitor.cpp.
void StartUsbReadThread();
void StopUsbReadThread();
void StartNpaNetworkThread(const char* address);
void StopNpaNetworkThread();
