// A printer's NPA status service, simulated on a loopback address, for tests and
// for trying the filter without a printer.
//
//   printersim::PrinterSimulator sim("127.0.0.5");   // listens on UDP 127.0.0.5:9300
//   ASSERT_TRUE(sim.listening());
//   sim.setAlerts({printersim::SimAlert::withText("Paper jam")});   // error class
//   ... run the filter / the monitor against 127.0.0.5 ...
//   sim.waitFor(printersim::RequestKind::kAlertRequest, 2, std::chrono::seconds(10));
//   sim.received();          // every datagram, with its arrival time
//   sim.count(printersim::RequestKind::kUnregistration);
//
// How it answers (each reply starts with a 12-byte reply header: the request's
// 8-byte transport header, then its identifier bytes again):
//   registration / unregistration (NPA E0 73, category 7): one datagram with the
//       registration answer packet (category 7);
//   extended-alert request (E0 73, category 3): an acknowledgement datagram
//       (header + A5 00 03 50 E0 73, which a filter takes only as a sign of life),
//       then the response built from the configured alerts, split into
//       `packets` NPA packets spread over `datagrams` datagrams;
//   operator-intervention request (A5 00 03 50 04 06): one datagram with the
//       configured OIR reply packet;
//   anything else: recorded, not answered.
// The simulator never sends to anyone but the sender of a request, and only
// binds loopback addresses (127.0.0.0/8).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/printersim/alertbuilder.h"

namespace printersim {

enum class RequestKind { kRegistration, kUnregistration, kAlertRequest, kOirRequest, kOther };

struct Datagram {
    Bytes bytes;
    std::chrono::steady_clock::time_point when;
    RequestKind kind = RequestKind::kOther;
};

// What the printer answers to an extended-alert request.
struct AlertConfig {
    std::vector<SimAlert> alerts;
    uint8_t classBits = kClassError;  // byte 10 of the response
    int packets = 1;                  // NPA packets (continue flag on all but the last)
    int datagrams = 1;                // datagrams the packets are spread over (network)
    BlockLayout layout;
    bool acknowledge = true;         // send the acknowledgement datagram first
    bool foreignIdentifier = false;  // reply bytes 8-11 not the request's identifier
    bool silent = false;             // record requests, answer nothing
    Bytes rawResponse;               // when not empty: this assembled response instead
};

// Classifies a request datagram (8-byte transport header + NPA packet).
RequestKind classify(const Bytes& datagram);

// The response bytes for a configuration, assembled (what a filter should put
// together) and as NPA packets.
Bytes assembledResponse(const AlertConfig& config);
std::vector<Bytes> responsePackets(const AlertConfig& config);
// What a USB printer sends back on the back channel for the status prologue: the
// registration answer, then the response packets, back to back.
Bytes backChannelBytes(const AlertConfig& config);

class PrinterSimulator {
  public:
    explicit PrinterSimulator(const std::string& address, uint16_t port = 9300);
    ~PrinterSimulator();
    PrinterSimulator(const PrinterSimulator&) = delete;
    PrinterSimulator& operator=(const PrinterSimulator&) = delete;

    // False when the address is not loopback or could not be bound; `error()` says why.
    bool listening() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }

    // Configuration; may change while a client talks to the simulator.
    void setAlerts(std::vector<SimAlert> alerts, uint8_t classBits = kClassError);
    void setSplit(int packets, int datagrams = 1);
    void setConfig(const AlertConfig& config);
    AlertConfig config() const;
    void setOirReply(Bytes packet);  // packet behind the 12-byte reply header

    // Every datagram received so far, in order.
    std::vector<Datagram> received() const;
    std::vector<Datagram> received(RequestKind kind) const;
    size_t count(RequestKind kind) const;
    // Waits until at least `n` datagrams of `kind` have arrived; false on time-out.
    bool waitFor(RequestKind kind, size_t n, std::chrono::milliseconds timeout) const;
    void clearReceived();

    // The back-channel bytes for the current configuration.
    Bytes backChannelBytes() const;

  private:
    void serve();
    void answer(const Bytes& request, RequestKind kind, const void* peer, unsigned peerLength);

    std::string address_;
    std::string error_;
    int fd_ = -1;
    std::atomic<bool> running_{false};
    std::thread thread_;
    mutable std::mutex lock_;
    AlertConfig config_;
    Bytes oirReply_;
    std::vector<Datagram> received_;
};

}  // namespace printersim
