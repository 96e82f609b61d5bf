#include "channel/hdc.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "channel/messages.h"

HdcContext hdcContext;

namespace {

constexpr auto kPollPause = std::chrono::microseconds(20000);

// Used when a batch's staging block cannot be allocated: the batch then goes
// out through this fixed block, a piece at a time, so no byte is lost.
std::array<uint8_t, 65536> gFallbackStage;

void pause20ms() {
    std::this_thread::sleep_for(kPollPause);
}

// Writes `length` bytes to the output, continuing after partial writes.
// Interrupted and would-block writes are retried (the latter after waiting for
// the descriptor to take data); any other error is final.
bool write_bytes(const uint8_t* data, size_t length) {
    while (length > 0 && hdcContext.running.load()) {
        ssize_t n = ::write(hdcContext.outputFd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{hdcContext.outputFd, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            msgf("ERROR: Unable to write print data: %s\n", std::strerror(errno));
            hdcContext.failed.store(true);
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return length == 0;
}

// Takes `n` bytes out of the ring and writes them.
void sendBatch(uint32_t n) {
    ByteBuffer stage = tryAllocateBytes(n);
    if (stage && cbufferReadBytes(&hdcContext.ring, stage.get(), n)) {
        write_bytes(stage.get(), n);
        return;
    }
    while (n > 0 && !hdcContext.failed.load()) {
        uint32_t piece = n < gFallbackStage.size() ? n : gFallbackStage.size();
        cbufferReadBytes(&hdcContext.ring, gFallbackStage.data(), piece);
        if (!write_bytes(gFallbackStage.data(), piece)) return;
        n -= piece;
    }
}

void print_thread(const char* /*connectivity*/) {
    while (hdcContext.running.load()) {
        while (hdcContext.running.load() &&
               (hdcContext.failed.load() ||
                cbufferGetAvailableBytes(&hdcContext.ring) <= hdcContext.flushThreshold.load())) {
            pause20ms();
        }
        if (!hdcContext.running.load()) break;
        // Mark the batch before it leaves the ring, so that a drain that sees
        // the ring empty also sees the batch still on its way.
        hdcContext.batchInFlight.store(true);
        sendBatch(cbufferGetAvailableBytes(&hdcContext.ring));
        hdcContext.batchInFlight.store(false);
    }
}

}  // namespace

void hdcInitialize(uint32_t capacity, uint32_t threshold) {
    hdcContext.failed.store(false);
    hdcContext.batchInFlight.store(false);
    cbufferCreate(&hdcContext.ring, capacity);
    hdcContext.flushThreshold.store(threshold);
}

bool hdcStartPrintThread(const char* argument) {
    hdcContext.running.store(true);
    try {
        hdcContext.thread = std::thread(print_thread, argument);
    } catch (const std::system_error&) {
        hdcContext.running.store(false);
        return false;
    }
    return true;
}

int64_t hdcWrite(const uint8_t* data, uint32_t length) {
    if (length == 0) return 0;
    cbuffer* ring = &hdcContext.ring;
    if (data == nullptr || !ring->storage || length > ring->capacity) return -1;
    while (cbufferGetAvailableSpace(ring) < length) {
        if (hdcContext.failed.load() || !hdcContext.running.load()) return -1;
        pause20ms();
    }
    if (hdcContext.failed.load() || !cbufferWriteBytes(ring, data, length)) return -1;
    return length;
}

void hdcWaitUntilEmpty() {
    hdcContext.flushThreshold.store(0);
    while (hdcContext.running.load() && !hdcContext.failed.load() &&
           (!cbufferIsEmpty(&hdcContext.ring) || hdcContext.batchInFlight.load())) {
        pause20ms();
    }
}

void hdcStopPrintThread() {
    hdcContext.running.store(false);
    if (hdcContext.thread.joinable()) hdcContext.thread.join();
}

void hdcDestroy() {
    cbufferFree(&hdcContext.ring);
}

bool hdcFailed() {
    return hdcContext.failed.load();
}

void hdcSetOutputFd(int fd) {
    hdcContext.outputFd = fd;
}
