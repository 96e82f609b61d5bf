// The two printer-status threads and their parts.  Start and stop controls are
// declared in channel/hdc.h:
//   StartUsbReadThread / StopUsbReadThread       USB back-channel reader
//   StartNpaNetworkThread / StopNpaNetworkThread network monitor (UDP port 9300)
// Both stop within about a second of the stop call, whatever the printer does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "status/NPATransport9300.h"

// The spooler's back channel.
inline constexpr int kBackChannelFd = 3;
inline constexpr size_t kUsbReadBufferSize = 8192;
// Our own wait for back-channel data before each read.
inline constexpr int kUsbReadTimeoutMs = 1000;

struct UsbReadParams {
    std::atomic<bool> running{false};
    std::thread thread;
    int fd = kBackChannelFd;
};
extern UsbReadParams usbReadParams;

// Test hook: read the back channel from `fd` instead of 3.
void usbReaderSetFd(int fd);
// The reader loop (runs on the thread StartUsbReadThread makes).
void* usb_read_thread();

struct NpaNetworkThreadParams {
    std::atomic<bool> running{false};
    std::thread thread;
    std::string address;  // the thread's own copy of the printer's address text
};
extern NpaNetworkThreadParams npaNetworkThreadParams;

inline constexpr uint16_t kNpaMonitorPort = kNpaStatusPort;
inline constexpr size_t kNpaReceiveBufferSize = 1024;
// ReadNpaNetworkResponse needs at least this much room.
inline constexpr size_t kNpaMinReceiveSize = 540;
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
