// Where the printer is: the connection class of the device URI and the host
// the network status monitor talks to.
#pragma once

#include <string>

// Connection classes.
inline constexpr const char* kConnectivityUsb = "USB";
inline constexpr const char* kConnectivityNetwork = "NETWORK";
inline constexpr const char* kConnectivityBonjour = "BONJOUR";

struct DeviceUri {
    const char* connectivity = kConnectivityBonjour;
    std::string host;  // empty when the URI names none
};

// Classifies a device URI by substring, first match wins:
//   "usb://"    -> USB, no host;
//   "socket://" -> NETWORK, host = first ':'-separated token after the first "//";
//   otherwise   -> BONJOUR; for "lpd://" and "ipp://" the host is the first
//                  '/'-separated token after the first "//" (an ipp port stays on).
// A missing URI (null) is BONJOUR without a host.
DeviceUri classifyDeviceUri(const char* uri);

// 1 when `host` has no letters and exactly three dots (a dotted IPv4 address,
// perhaps with a port); otherwise -1.  A host with a letter fails silently; any
// other failure prints "\nreturned with error".
int ValidateChannel(const char* host);
