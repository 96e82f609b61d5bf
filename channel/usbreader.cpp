// USB back-channel status reader.
//
// The status requests for a USB printer travel inside the job stream; the
// printer's answers come back through the spooler's back channel (fd 3), a pipe
// from the backend.  This thread reads it for the whole job, reassembles the
// extended-alert response and reports an error-class alert as a WARNING line.
//
// The back channel is read with poll() and read() rather than through
// cupsBackChannelRead(): libcups 2.4.2 ignores the time-out on a blocking pipe,
// spins when fd 3 is closed and returns 0 at once for ever at end of file (fd 3
// is /dev/null under cupsfilter, and a file: queue has no backend).  Here every
// read is preceded by a wait of our own of at most a second, end of file or a
// bad descriptor means there is no back channel (the thread ends), and every
// wait, the pause after a response included, looks at the run flag at least
// every 20 ms, so the stop is quick.
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "base/messages.h"
#include "channel/hdc.h"
#include "channel/statuspause.h"
#include "channel/statusthreads.h"
#include "status/NPAParser.h"
#include "status/NPAValidator.h"

UsbReadParams usbReadParams;

namespace {

constexpr auto kResponsePause = std::chrono::milliseconds(2000);
// Bytes of a packet that has not wholly arrived are kept for the next read; no
// usable packet is longer than the assembled response plus a packet header.
constexpr size_t kMaxCarry = kValidBufferSize + kNpaContinuationHeader;

enum class BackChannel { kData, kQuiet, kGone };

// Waits up to a second for something to read, looking at the run flag
// between polls of at most kStatusWaitSlice.
BackChannel waitForData(int fd) {
    const int slice = static_cast<int>(kStatusWaitSlice.count());
    for (int waited = 0; waited < kUsbReadTimeoutMs && usbReadParams.running.load();
         waited += slice) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, slice);
        if (r < 0 && errno != EINTR) return BackChannel::kGone;
        if (r <= 0) continue;
        if (p.revents & POLLNVAL) return BackChannel::kGone;
        return BackChannel::kData;  // data, hang-up or error: the read tells which
    }
    return BackChannel::kQuiet;
}

void reportResponse(int assembledLength) {
    std::vector<PSSDALERTINFO> alerts;
    int count = 0;
    if (GetExtAlertInformation(validBuffer.data(), assembledLength, &alerts, &count) != 0) return;
    if (count <= 0 || alerts[0].alertClass != kAlertClassError) return;
    std::string text = alertReportText(alerts[0]);
    if (text.empty()) return;  // nothing to tell for an alert without any text
    msgf("\nInside GetExtAlerts in hdc\n");
    msgf("\nWARNING: %s\n", text.c_str());
}

}  // namespace

void usbReaderSetFd(int fd) {
    usbReadParams.fd = fd;
}

void* usb_read_thread() {
    std::array<uint8_t, kUsbReadBufferSize> buffer{};
    size_t carried = 0;  // bytes at the front of buffer kept from the last read
    const int fd = usbReadParams.fd;

    while (usbReadParams.running.load()) {
        BackChannel state = waitForData(fd);
        if (state == BackChannel::kGone) break;
        if (state == BackChannel::kQuiet) continue;

        ssize_t n = ::read(fd, buffer.data() + carried, buffer.size() - carried);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            break;  // the descriptor is not readable: no back channel
        }
        if (n == 0) break;  // end of file: the backend is gone or there never was one

        // Scan what is held.  A packet start whose packet has not wholly
        // arrived is kept for the next read; one that would need more than any
        // answer can hold is no packet start at all (a stray 0xA5), so it is
        // passed over and the bytes behind it are scanned again.
        size_t total = carried + static_cast<size_t>(n);
        size_t begin = 0;
        int assembled = 0;
        bool complete = false;
        for (;;) {
            int done = 1;
            const int length = static_cast<int>(total - begin);
            if (ValidateReceivedResponse(buffer.data() + begin, validBuffer.data(), length,
                                         &assembled, &done)) {
                complete = true;
                break;
            }
            const size_t stop = static_cast<size_t>(npaValidatorState.scanStop);
            const size_t rest = static_cast<size_t>(length) - stop;
            if (rest <= kMaxCarry) {
                std::memmove(buffer.data(), buffer.data() + begin + stop, rest);
                carried = rest;
                break;
            }
            begin += stop + 1;
        }
        if (!complete) continue;
        carried = 0;
        reportResponse(assembled);
        pauseWhileRunning(usbReadParams.running, kResponsePause);
        validBuffer.fill(0);
    }
    return nullptr;
}

void StartUsbReadThread() {
    if (usbReadParams.thread.joinable()) StopUsbReadThread();
    usbReadParams.running.store(true);
    npaValidatorReset();
    try {
        usbReadParams.thread = std::thread(usb_read_thread);
    } catch (const std::system_error&) {
        usbReadParams.running.store(false);
    }
}

void StopUsbReadThread() {
    usbReadParams.running.store(false);
    if (usbReadParams.thread.joinable()) usbReadParams.thread.join();
}
