#include "channel/hdc.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/io.h"
#include "base/messages.h"
#include "base/processstate.h"

HdcContext hdcContext;

namespace {

// Bytes taken out of the ring per write(): small enough that producers get
// room back while a big batch is still on its way out.
constexpr uint32_t kWritePiece = 1 << 20;

std::atomic<const std::atomic<int>*> gCancelFlag{nullptr};
// Between jobs (tests): no print thread runs and the ring is freed.
const StateReset kResetOutput([] {
    hdcContext.failed.store(false);
    hdcContext.failedAfterCancel.store(false);
    hdcContext.flushThreshold.store(0);
    hdcContext.outputFd = STDOUT_FILENO;
    hdcContext.outputFlags = -1;
    gCancelFlag.store(nullptr);
});

bool cancelled() {
    const std::atomic<int>* flag = gCancelFlag.load();
    return flag != nullptr && flag->load() != 0;
}

void outputFailed(int error) {
    if (cancelled()) {
        hdcContext.failedAfterCancel.store(true);
        msgf("DEBUG: The output closed after the job was cancelled: %s\n", std::strerror(error));
    } else {
        msgf("ERROR: Unable to write print data: %s\n", std::strerror(error));
    }
    hdcContext.failed.store(true);
    hdcContext.space.notify();
}

// After a cancel, how long the output may take no data before the rest of
// the job is dropped: the spooler stops the backend together with the
// filter, so a backend that no longer reads is going away.
constexpr auto kStallAfterCancel = std::chrono::milliseconds(750);

void outputStalledAfterCancel() {
    msgf(
        "DEBUG: The output took no data for %d ms after the job was cancelled; the rest is "
        "dropped\n",
        static_cast<int>(kStallAfterCancel.count()));
    hdcContext.failedAfterCancel.store(true);
    hdcContext.failed.store(true);
    hdcContext.space.notify();
}

// Writes `length` bytes to the output, continuing after partial writes.  The
// output is non-blocking, so the run flag is looked at at least every 20 ms.
// Interrupted and would-block writes are retried (the latter after waiting for
// the descriptor to take data); any other error is final.
bool write_bytes(const uint8_t* data, size_t length) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point stalledSince{};
    bool stalled = false;
    while (length > 0 && hdcContext.printer.running()) {
        ssize_t n = ::write(hdcContext.outputFd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                bool stalledOut = false;
                waitFd(hdcContext.outputFd, POLLOUT, [&] {
                    if (cancelled()) {
                        const Clock::time_point now = Clock::now();
                        if (!stalled) stalledSince = now;
                        stalled = true;
                        stalledOut = now - stalledSince >= kStallAfterCancel;
                    }
                    return stalledOut || !hdcContext.printer.running();
                });
                if (stalledOut) {
                    outputStalledAfterCancel();
                    return false;
                }
                continue;
            }
            outputFailed(errno);
            return false;
        }
        stalled = false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return length == 0;
}

// Writes `n` held bytes straight from the ring's storage, a piece at a time;
// each piece leaves the ring only once it has been written.
void sendBatch(uint32_t n) {
    while (n > 0 && !hdcContext.failed.load()) {
        const uint8_t* data = nullptr;
        uint32_t piece = cbufferPeekContiguous(&hdcContext.ring, &data);
        if (piece == 0) return;
        if (piece > n) piece = n;
        if (piece > kWritePiece) piece = kWritePiece;
        if (!write_bytes(data, piece)) return;
        cbufferSkipBytes(&hdcContext.ring, piece);
        hdcContext.space.notify();
        n -= piece;
    }
}

bool batchReady() {
    return !hdcContext.failed.load() &&
           cbufferGetAvailableBytes(&hdcContext.ring) > hdcContext.flushThreshold.load();
}

void print_thread() {
    StoppableThread& self = hdcContext.printer;
    while (self.running()) {
        if (!self.waitUntil(batchReady)) break;
        sendBatch(cbufferGetAvailableBytes(&hdcContext.ring));
    }
}

}  // namespace

void hdcInitialize(uint32_t capacity, uint32_t threshold) {
    hdcContext.failed.store(false);
    hdcContext.failedAfterCancel.store(false);
    cbufferCreate(&hdcContext.ring, capacity);
    hdcContext.flushThreshold.store(threshold);
}

bool hdcStartPrintThread(const char* /*argument*/) {
    // Non-blocking, so that a backend that stops reading cannot hold the
    // print thread in a write() beyond the reach of its run flag.
    const int flags = ::fcntl(hdcContext.outputFd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0 &&
        ::fcntl(hdcContext.outputFd, F_SETFL, flags | O_NONBLOCK) == 0) {
        hdcContext.outputFlags = flags;
    }
    return hdcContext.printer.start(print_thread);
}

int64_t hdcWrite(const uint8_t* data, uint32_t length) {
    if (length == 0) return 0;
    cbuffer* ring = &hdcContext.ring;
    if (data == nullptr || !ring->storage || length > ring->capacity) return -1;
    const bool room = hdcContext.space.waitUntil(
        [&] { return hdcContext.failed.load() || cbufferGetAvailableSpace(ring) >= length; },
        &hdcContext.printer.runFlag());
    if (!room || hdcContext.failed.load() || !cbufferWriteBytes(ring, data, length)) return -1;
    // Wake the print thread only when there is a batch for it.
    if (cbufferGetAvailableBytes(ring) > hdcContext.flushThreshold.load()) {
        hdcContext.printer.waiter().notify();
    }
    return length;
}

void hdcWaitUntilEmpty() {
    hdcContext.flushThreshold.store(0);
    hdcContext.printer.waiter().notify();
    // Bytes leave the ring only after they have been written, so an empty
    // ring means everything has gone out.
    hdcContext.space.waitUntil(
        [] { return hdcContext.failed.load() || cbufferIsEmpty(&hdcContext.ring); },
        &hdcContext.printer.runFlag());
}

void hdcStopPrintThread() {
    hdcContext.printer.stop();
    hdcContext.space.notify();
    // The descriptor may be shared with others (a terminal): give it back as
    // it was.
    if (hdcContext.outputFlags >= 0) {
        ::fcntl(hdcContext.outputFd, F_SETFL, hdcContext.outputFlags);
        hdcContext.outputFlags = -1;
    }
}

void hdcDestroy() {
    cbufferFree(&hdcContext.ring);
}

bool hdcFailed() {
    return hdcContext.failed.load() && !hdcContext.failedAfterCancel.load();
}

bool hdcOutputClosed() {
    return hdcContext.failed.load();
}

void hdcSetCancelFlag(const std::atomic<int>* flag) {
    gCancelFlag.store(flag);
}

void hdcSetOutputFd(int fd) {
    hdcContext.outputFd = fd;
}
