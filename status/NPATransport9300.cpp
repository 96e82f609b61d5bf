#include "status/NPATransport9300.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

std::string npaHostPart(const char* text) {
    if (text == nullptr) return {};
    std::string host(text);
    size_t colon = host.find(':');
    if (colon != std::string::npos) host.erase(colon);
    return host;
}

bool npaHostAddress(const char* text, in_addr_t* address) {
    std::string host = npaHostPart(text);
    if (host.empty()) return false;
    in_addr_t a = inet_addr(host.c_str());
    if (a == INADDR_NONE) return false;
    *address = a;
    return true;
}

NpaUdpResult npaConnectUdp(const char* address, uint16_t port, int timeoutSeconds, int* socketFd) {
    *socketFd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (*socketFd < 0) {
        *socketFd = -1;
        return NpaUdpResult::kNoSocket;
    }
    in_addr_t peer = 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    const bool known = npaHostAddress(address, &peer);
    to.sin_addr.s_addr = peer;
    if (!known || ::connect(*socketFd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        npaCloseSocket(socketFd);  // a failed socket is never left open
        return NpaUdpResult::kNotConnected;
    }
    timeval timeout{timeoutSeconds, 0};
    ::setsockopt(*socketFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return NpaUdpResult::kConnected;
}

void npaCloseSocket(int* socketFd) {
    if (*socketFd >= 0) ::close(*socketFd);
    *socketFd = -1;
}

NPATransport9300::~NPATransport9300() {
    if (socketFd >= 0) ShutdownConnection();
}

int64_t NPATransport9300::InitializeConnection(const char* address) {
    if (address == nullptr || npaHostPart(address).size() < kNpaMinAddressLength) return -1;
    in_addr_t peer = 0;
    bool known = npaHostAddress(address, &peer);
    if (connected && socketFd >= 0 && known && peer == peer_) return 0;  // keep the socket
    ShutdownConnection();
    NpaUdpResult result = npaConnectUdp(address, port, kReceiveTimeoutSeconds, &socketFd);
    if (result == NpaUdpResult::kNoSocket) return -1;
    if (result == NpaUdpResult::kConnected) {
        connected = true;
        peer_ = peer;
    }
    return 0;
}

int64_t NPATransport9300::SendNPACommand(const uint8_t* data, uint64_t length) {
    if (!connected || socketFd < 0 || data == nullptr || length == 0) return -1;
    return ::send(socketFd, data, length, 0);
}

int64_t NPATransport9300::ReadNPAResponse(uint8_t* buffer, uint64_t size) {
    if (!connected || socketFd < 0 || buffer == nullptr || size < kNpaMinReplyBuffer) return -1;
    std::memset(buffer, 0, size);
    return ::recv(socketFd, buffer, size, 0);
}

int64_t NPATransport9300::ShutdownConnection() {
    npaCloseSocket(&socketFd);
    connected = false;
    return 0;
}
