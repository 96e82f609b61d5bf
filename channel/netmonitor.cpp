// Network status monitor.
//
// For a network printer the filter keeps its own UDP exchange with the printer's
// status service on port 9300: it registers for status reports, asks for the
// error-class extended alerts about every two seconds, reassembles and parses
// the answer, reports error alerts as WARNING lines, and withdraws the
// registration when the job ends.
//
// A wait for a reply looks at the run flag at least every kMaxPause and the
// pauses between passes end at once on a stop, so a stop is quick.
//
// Framing, reassembly and what to report are status/'s (assembleFromDatagram,
// errorAlertReportTexts); this file is the thread and its socket.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/processstate.h"
#include "channel/hdc.h"
#include "channel/statusthreads.h"
#include "status/NPACommands.h"
#include "status/NPAParser.h"
#include "status/NPATransport9300.h"
#include "status/NPAValidator.h"
#include "status/StatusWait.h"

NpaNetworkThreadParams npaNetworkThreadParams;

namespace {
// Between jobs no monitor runs: only its address and end mark remain.
const StateReset kResetNetworkMonitor([] {
    npaNetworkThreadParams.address.clear();
    npaNetworkThreadParams.ended.store(false);
});
}  // namespace

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(1000);
constexpr auto kPassPause = std::chrono::milliseconds(2000);
// Each alert list is written this many times over.
constexpr int kReportRepeats = 5;

constexpr int kRegistrationSize = NPA_COMMAND_REGLANGID.size() + kNpaTransportHeaderSize;
constexpr int kAlertRequestSize = NPA_DEVCOMMAND_EXT_ERRORS.size() + kNpaTransportHeaderSize;

// Waits up to the receive time-out for a datagram (or a socket error, which the
// read then returns).  False on time-out or when the thread is stopped.
bool waitForReply(int socketHandle) {
    return waitReadable(socketHandle, npaNetworkThreadParams.thread,
                        std::chrono::seconds(kNpaReceiveTimeoutSeconds)) != FdWait::kStopped;
}

// Every alert with a text, the list written kReportRepeats times over.
void reportAlerts(int assembledLength) {
    std::vector<std::string> texts = errorAlertReportTexts(validBuffer.data(), assembledLength);
    std::erase(texts, std::string());
    for (int round = 0; round < kReportRepeats; ++round) {
        for (const std::string& text : texts)
            msgf("WARNING: %s\n", text.c_str());
    }
}

}  // namespace

int InitializeNpaNetworkConnection(const char* address, int* socketHandle) {
    if (socketHandle == nullptr) return -1;
    // The host text may carry the port of the print service ("10.0.0.5:631");
    // the status service is always on 9300.
    NpaUdpResult result =
        npaConnectUdp(address, kNpaMonitorPort, kNpaReceiveTimeoutSeconds, socketHandle);
    return result == NpaUdpResult::kConnected ? 0 : -1;
}

int SendNpaNetworkCommand(int socketHandle, const uint8_t* data, size_t length) {
    if (length == 0 || data == nullptr) return -1;
    return static_cast<int>(::send(socketHandle, data, length, 0));
}

int ReadNpaNetworkResponse(int socketHandle, uint8_t* buffer, size_t size) {
    if (size < kNpaMinReceiveSize || buffer == nullptr) return -1;
    std::memset(buffer, 0, size);
    return static_cast<int>(::recv(socketHandle, buffer, size, 0));
}

void CloseNpaNetworkConnection(int* socketHandle) {
    if (socketHandle != nullptr) npaCloseSocket(socketHandle);
}

void* npa_network_thread(const char* address) {
    std::array<uint8_t, kRegistrationSize> registration{};
    std::array<uint8_t, kRegistrationSize> unregistration{};
    std::array<uint8_t, kAlertRequestSize> alertRequest{};
    AssembleNPACommand(NPA_COMMAND_REGLANGID.data(), registration.data(),
                       NPA_COMMAND_REGLANGID.size(), registration.size());
    AssembleNPACommand(NPA_COMMAND_UNREGLANGID.data(), unregistration.data(),
                       NPA_COMMAND_UNREGLANGID.size(), unregistration.size());
    AssembleNPACommand(NPA_DEVCOMMAND_EXT_ERRORS.data(), alertRequest.data(),
                       NPA_DEVCOMMAND_EXT_ERRORS.size(), alertRequest.size());
    if (address == nullptr || npaHostPart(address).size() < kNpaMinAddressLength) return nullptr;

    StoppableThread& self = npaNetworkThreadParams.thread;
    int socketHandle = -1;
    int connection = -1;
    std::array<uint8_t, kNpaReceiveBufferSize> receive{};

    while (self.running()) {
        if (connection == -1 || socketHandle == -1) {
            CloseNpaNetworkConnection(&socketHandle);
            connection = InitializeNpaNetworkConnection(address, &socketHandle);
            if (connection != 0 || socketHandle == -1) {
                connection = -1;
                pauseWhileRunning(self, kRetryPause);
                continue;
            }
            int status =
                SendNpaNetworkCommand(socketHandle, registration.data(), registration.size());
            msgf("Sent register command with return status %d", status);
            if (status < kRegistrationSize) {
                CloseNpaNetworkConnection(&socketHandle);
                connection = -1;
                // A send that keeps failing must not turn into a busy loop.
                pauseWhileRunning(self, kRetryPause);
                continue;
            }
        }

        SendNpaNetworkCommand(socketHandle, alertRequest.data(), alertRequest.size());

        // The first datagram only shows that the printer answers.
        if (!waitForReply(socketHandle) ||
            ReadNpaNetworkResponse(socketHandle, receive.data(), receive.size()) <= 0) {
            pauseWhileRunning(self, kPassPause);
            continue;
        }

        // A response never spans two requests: start its assembly afresh, so a
        // datagram lost in an earlier pass cannot leave the validator half-way.
        npaValidatorReset();
        int done = 1;
        int assembled = 0;
        bool complete = false;
        while (done == 1) {
            int n = -1;
            if (waitForReply(socketHandle)) {
                n = ReadNpaNetworkResponse(socketHandle, receive.data(), receive.size());
            }
            if (n <= 0) {
                done = -1;
                break;
            }
            complete = assembleFromDatagram(receive.data(), n, &assembled, &done);
        }
        if (!complete) {
            pauseWhileRunning(self, kPassPause);
            continue;
        }
        reportAlerts(assembled);
        validBuffer.fill(0);
        pauseWhileRunning(self, kPassPause);
    }

    if (connection == 0 && socketHandle != -1) {
        int status =
            SendNpaNetworkCommand(socketHandle, unregistration.data(), unregistration.size());
        msgf("Sent unregister command with return status %d", status);
        CloseNpaNetworkConnection(&socketHandle);
    }
    return nullptr;
}

void StartNpaNetworkThread(const char* address) {
    StopNpaNetworkThread();
    npaNetworkThreadParams.address = address != nullptr ? address : "";
    const char* copy = address != nullptr ? npaNetworkThreadParams.address.c_str() : nullptr;
    npaNetworkThreadParams.ended.store(false);
    npaNetworkThreadParams.thread.start([copy] {
        npa_network_thread(copy);
        npaNetworkThreadParams.ended.store(true);
    });
}

void StopNpaNetworkThread() {
    npaNetworkThreadParams.thread.stop();
}
