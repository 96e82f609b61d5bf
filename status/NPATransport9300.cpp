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

NPATransport9300::~NPATransport9300() {
    if (socketFd >= 0) ShutdownConnection();
}

int64_t NPATransport9300::InitializeConnection(const char* address) {
    if (address == nullptr || npaHostPart(address).size() < kNpaMinAddressLength) return -1;
    in_addr_t peer = 0;
    bool known = npaHostAddress(address, &peer);
    if (connected && socketFd >= 0 && known && peer == peer_) return 0;  // keep the socket
    ShutdownConnection();

    socketFd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socketFd < 0) {
        socketFd = -1;
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = peer;
    if (!known || ::connect(socketFd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(socketFd);
        socketFd = -1;
        return 0;
    }
    connected = true;
    peer_ = peer;
    timeval timeout{1, 0};
    ::setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
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
    if (socketFd >= 0) ::close(socketFd);
    socketFd = -1;
    connected = false;
    return 0;
}
