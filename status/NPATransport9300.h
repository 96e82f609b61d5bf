// Network transport of the operator-intervention poller: one connected UDP
// socket to port 9300 of the printer, kept across polls.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "status/NPATransport.h"

inline constexpr uint16_t kNpaStatusPort = 9300;
// Shortest address text taken ("1.2.3.45"); shorter texts are refused.
inline constexpr size_t kNpaMinAddressLength = 8;
// The least a reply buffer must hold.
inline constexpr uint64_t kNpaMinReplyBuffer = 540;

// The host part of an address text: a ":port" suffix (as in the host part of
// "ipp://10.0.0.5:631/ipp") is taken off.
std::string npaHostPart(const char* text);
// Converts the host part of `text` (dotted IPv4, as inet_addr reads it) to an
// address in network order.  False for text that is no address, including
// 255.255.255.255: status requests are never broadcast.
bool npaHostAddress(const char* text, in_addr_t* address);

enum class NpaUdpResult { kNoSocket, kNotConnected, kConnected };
// Makes a UDP socket into *socketFd and connects it to `port` of the host in
// `address` (as npaHostAddress reads it), with a receive time-out of
// `timeoutSeconds`.  Only kConnected leaves a socket there; otherwise
// *socketFd is -1: no socket could be made (kNoSocket), or the address is no
// address or the connect failed (kNotConnected; the socket is closed at once).
NpaUdpResult npaConnectUdp(const char* address, uint16_t port, int timeoutSeconds, int* socketFd);
// Closes *socketFd unless it is -1, and sets it to -1.
void npaCloseSocket(int* socketFd);

class NPATransport9300 : public NPATransport {
  public:
    NPATransport9300() = default;
    ~NPATransport9300() override;
    NPATransport9300(const NPATransport9300&) = delete;
    NPATransport9300& operator=(const NPATransport9300&) = delete;

    // -1 for a missing or too short address, or when no socket can be made;
    // otherwise 0, connected only when the connect succeeded (receive time-out
    // 1 s).  Already connected to the same address: the socket is kept.  A
    // socket whose connect failed is closed at once.
    int64_t InitializeConnection(const char* address) override;
    int64_t SendNPACommand(const uint8_t* data, uint64_t length) override;
    // Needs a buffer of at least kNpaMinReplyBuffer bytes; one datagram.
    int64_t ReadNPAResponse(uint8_t* buffer, uint64_t size) override;
    int64_t ShutdownConnection() override;

    int socketFd = -1;  // -1: no socket
    uint16_t port = kNpaStatusPort;

  private:
    static constexpr int kReceiveTimeoutSeconds = 1;
    in_addr_t peer_ = 0;
};
