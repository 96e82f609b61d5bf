#include "tools/printersim/printersim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace printersim {

namespace {

constexpr size_t kMaxDatagram = 65536;
const Bytes kAcknowledgement = {0xA5, 0x00, 0x03, 0x50, 0xE0, 0x73};

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

}  // namespace

RequestKind classify(const Bytes& d) {
    if (d.size() < 8 + 6 || d[8] != 0xA5) return RequestKind::kOther;
    const uint8_t* p = d.data() + 8;
    if (p[3] == 0x50 && p[4] == 0x04 && p[5] == 0x06) return RequestKind::kOirRequest;
    if (d.size() < 8 + 11 || p[4] != 0xE0 || p[5] != 0x73) return RequestKind::kOther;
    if (p[6] == 0x07) return p[10] != 0 ? RequestKind::kRegistration : RequestKind::kUnregistration;
    if (p[6] == 0x03) return RequestKind::kAlertRequest;
    return RequestKind::kOther;
}

Bytes assembledResponse(const AlertConfig& c) {
    if (!c.rawResponse.empty()) return c.rawResponse;
    return alertResponse(c.alerts, c.classBits, c.layout);
}

std::vector<Bytes> responsePackets(const AlertConfig& c) {
    return splitIntoPackets(assembledResponse(c), c.packets);
}

Bytes backChannelBytes(const AlertConfig& c) {
    Bytes out = registrationReplyPacket(true);
    for (const Bytes& p : responsePackets(c))
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

PrinterSimulator::PrinterSimulator(const std::string& address, uint16_t port) : address_(address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127) {
        error_ = "not a loopback address: " + address;
        return;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr = a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        error_ = "bind " + address + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return;
    }
    running_.store(true);
    thread_ = std::thread(&PrinterSimulator::serve, this);
}

PrinterSimulator::~PrinterSimulator() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

void PrinterSimulator::setAlerts(std::vector<SimAlert> alerts, uint8_t classBits) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.alerts = std::move(alerts);
    config_.classBits = classBits;
}

void PrinterSimulator::setSplit(int packets, int datagrams) {
    std::lock_guard<std::mutex> hold(lock_);
    config_.packets = packets;
    config_.datagrams = datagrams;
}

void PrinterSimulator::setConfig(const AlertConfig& config) {
    std::lock_guard<std::mutex> hold(lock_);
    config_ = config;
}

AlertConfig PrinterSimulator::config() const {
    std::lock_guard<std::mutex> hold(lock_);
    return config_;
}

void PrinterSimulator::setOirReply(Bytes packet) {
    std::lock_guard<std::mutex> hold(lock_);
    oirReply_ = std::move(packet);
}

std::vector<Datagram> PrinterSimulator::received() const {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

std::vector<Datagram> PrinterSimulator::received(RequestKind kind) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Datagram> out;
    for (const Datagram& d : received_) {
        if (d.kind == kind) out.push_back(d);
    }
    return out;
}

size_t PrinterSimulator::count(RequestKind kind) const {
    return received(kind).size();
}

bool PrinterSimulator::waitFor(RequestKind kind, size_t n,
                               std::chrono::milliseconds timeout) const {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (count(kind) < n) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void PrinterSimulator::clearReceived() {
    std::lock_guard<std::mutex> hold(lock_);
    received_.clear();
}

Bytes PrinterSimulator::backChannelBytes() const {
    return printersim::backChannelBytes(config());
}

void PrinterSimulator::serve() {
    Bytes buffer(kMaxDatagram);
    while (running_.load()) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                               reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (n < 0) continue;
        Bytes request(buffer.begin(), buffer.begin() + n);
        RequestKind kind = classify(request);
        {
            std::lock_guard<std::mutex> hold(lock_);
            received_.push_back({request, std::chrono::steady_clock::now(), kind});
        }
        answer(request, kind, &peer, peerLength);
    }
}

void PrinterSimulator::answer(const Bytes& request, RequestKind kind, const void* peer,
                              unsigned peerLength) {
    AlertConfig c = config();
    Bytes oir;
    {
        std::lock_guard<std::mutex> hold(lock_);
        oir = oirReply_;
    }
    if (c.silent) return;
    Bytes header = replyHeader(request);
    if (c.foreignIdentifier) {
        for (size_t i = 8; i < 12; ++i)
            header[i] ^= 0xFF;
    }
    std::vector<Bytes> replies;
    switch (kind) {
        case RequestKind::kRegistration:
        case RequestKind::kUnregistration:
            replies.push_back(
                concat(header, registrationReplyPacket(kind == RequestKind::kRegistration)));
            break;
        case RequestKind::kAlertRequest: {
            if (c.acknowledge) replies.push_back(concat(header, kAcknowledgement));
            std::vector<Bytes> packets = responsePackets(c);
            size_t datagrams = c.datagrams < 1 ? 1 : static_cast<size_t>(c.datagrams);
            if (datagrams > packets.size()) datagrams = packets.size();
            size_t next = 0;
            for (size_t d = 0; d < datagrams; ++d) {
                size_t take = (packets.size() - next) / (datagrams - d);
                Bytes datagram = header;
                for (size_t k = 0; k < take; ++k, ++next) {
                    datagram.insert(datagram.end(), packets[next].begin(), packets[next].end());
                }
                replies.push_back(std::move(datagram));
            }
            break;
        }
        case RequestKind::kOirRequest:
            if (!oir.empty()) replies.push_back(concat(header, oir));
            break;
        case RequestKind::kOther:
            break;
    }
    for (const Bytes& r : replies) {
        ::sendto(fd_, r.data(), r.size(), 0, static_cast<const sockaddr*>(peer), peerLength);
    }
}

}  // namespace printersim
