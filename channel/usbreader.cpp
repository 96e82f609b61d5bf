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
// bad descriptor means there is no back channel (the thread ends).  The wait
// looks at the run flag at least every kMaxPause and the pause after a response
// ends at once on a stop, so the stop is quick.
//
// Framing, reassembly and what to report are status/'s (assembleFromStream,
// errorAlertReportTexts); this file is the thread around them.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/processstate.h"
#include "channel/hdc.h"
#include "channel/statusthreads.h"
#include "status/NPAParser.h"
#include "status/NPAValidator.h"
#include "status/StatusWait.h"

UsbReadParams usbReadParams;

namespace {
// Between jobs no reader runs: only its descriptor and end mark remain.
const StateReset kResetUsbReader([] {
    usbReadParams.fd = kBackChannelFd;
    usbReadParams.ended.store(false);
});
}  // namespace

namespace {

constexpr auto kResponsePause = std::chrono::milliseconds(2000);

// The first alert's text, when the response is to be reported.
void reportResponse(int assembledLength) {
    std::vector<std::string> texts = errorAlertReportTexts(validBuffer.data(), assembledLength);
    if (texts.empty() || texts[0].empty()) return;
    msgf("\nInside GetExtAlerts in hdc\n");
    msgf("\nWARNING: %s\n", texts[0].c_str());
}

}  // namespace

void usbReaderSetFd(int fd) {
    usbReadParams.fd = fd;
}

void* usb_read_thread() {
    std::array<uint8_t, kUsbReadBufferSize> buffer{};
    size_t carried = 0;  // bytes at the front of buffer kept from the last read
    const int fd = usbReadParams.fd;
    StoppableThread& self = usbReadParams.thread;

    while (self.running()) {
        FdWait state = waitReadable(fd, self, std::chrono::milliseconds(kUsbReadTimeoutMs));
        if (state == FdWait::kFailed) break;
        if (state == FdWait::kStopped) continue;

        ssize_t n = ::read(fd, buffer.data() + carried, buffer.size() - carried);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            break;  // the descriptor is not readable: no back channel
        }
        if (n == 0) break;  // end of file: the backend is gone or there never was one

        int assembled =
            assembleFromStream(buffer.data(), carried + static_cast<size_t>(n), &carried);
        if (assembled < 0) continue;
        reportResponse(assembled);
        pauseWhileRunning(self, kResponsePause);
        validBuffer.fill(0);
    }
    return nullptr;
}

void StartUsbReadThread() {
    StopUsbReadThread();
    npaValidatorReset();
    usbReadParams.ended.store(false);
    usbReadParams.thread.start([] {
        usb_read_thread();
        usbReadParams.ended.store(true);
    });
}

void StopUsbReadThread() {
    usbReadParams.thread.stop();
}
