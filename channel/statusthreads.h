// The two printer-status threads and their parts.  Start and stop controls are
// declared in channel/hdc.h:
//   StartUsbReadThread / StopUsbReadThread       USB back-channel reader
//   StartNpaNetworkThread / StopNpaNetworkThread network monitor (UDP port 9300)
// Both run on a StoppableThread: a stop ends their pauses at once, and their
// waits for the printer look at the run flag at least every kMaxPause.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/waiter.h"
#include "status/NPATransport9300.h"

// The spooler's back channel.
inline constexpr int kBackChannelFd = 3;
inline constexpr size_t kUsbReadBufferSize = 8192;
// Our own wait for back-channel data before each read.
inline constexpr int kUsbReadTimeoutMs = 1000;

struct UsbReadParams {
    int fd = kBackChannelFd;
    // Set by the thread as the last thing it does (a reader that found no back
    // channel ends by itself, its run flag still raised).
    std::atomic<bool> ended{false};
    StoppableThread thread;  // last: stopped and joined before the rest goes
};
extern UsbReadParams usbReadParams;

// Test hook: read the back channel from `fd` instead of 3.
void usbReaderSetFd(int fd);
// The reader loop (runs on the thread StartUsbReadThread makes).
void* usb_read_thread();

struct NpaNetworkThreadParams {
    std::string address;             // the thread's own copy of the printer's address text
    std::atomic<bool> ended{false};  // as UsbReadParams::ended
    StoppableThread thread;          // last, as in UsbReadParams
};
extern NpaNetworkThreadParams npaNetworkThreadParams;

inline constexpr uint16_t kNpaMonitorPort = kNpaStatusPort;
inline constexpr size_t kNpaReceiveBufferSize = 1024;
// ReadNpaNetworkResponse needs at least this much room.
inline constexpr size_t kNpaMinReceiveSize = kNpaMinReplyBuffer;
inline constexpr int kNpaReceiveTimeoutSeconds = 2;

// Makes a UDP socket into *socketHandle and connects it to port 9300 of the
// address (dotted IPv4; a ":port" suffix is ignored).  0 on success (receive
// time-out 2 s); -1 when no socket could be made or the address is not an
// address or the connect fails; the socket is then closed and *socketHandle -1.
int InitializeNpaNetworkConnection(const char* address, int* socketHandle);
// -1 when the length is 0 or the data null; otherwise one send().
int SendNpaNetworkCommand(int socketHandle, const uint8_t* data, size_t length);
// -1 when the size is below 540 or the buffer null; otherwise clears the
// buffer and receives one datagram.
int ReadNpaNetworkResponse(int socketHandle, uint8_t* buffer, size_t size);
// Closes the socket unless the handle is -1, and sets the handle to -1.
void CloseNpaNetworkConnection(int* socketHandle);
// The monitor loop (runs on the thread StartNpaNetworkThread makes).
void* npa_network_thread(const char* address);
