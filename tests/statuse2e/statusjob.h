// Helpers of the whole-filter printer-status tests: jobs of a known length,
// stderr line counting, the golden status packets, and a script that changes
// the simulated printer's answer from one alert request to the next.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness/filter_run.h"
#include "tests/harness/jobtext.h"
#include "tools/printersim/printersim.h"

namespace statuse2e {

using Bytes = std::vector<uint8_t>;
using harness::countOf;
using harness::endsWithTrailer;
using harness::kUel;
using harness::maskedText;
using harness::outText;
using namespace std::chrono_literals;

// Transport header of every datagram the monitor sends: 01 00 00 31, then the
// identifier 0x78563412 least significant byte first.
inline const Bytes kTransportHeader = {0x01, 0x00, 0x00, 0x31, 0x12, 0x34, 0x56, 0x78};
// Registration for status reports: category 7, byte 10 = 1.
inline const Bytes kRegLangId = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73, 0x07, 0x08, 0x00,
                                 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
// Its withdrawal: the same packet with byte 10 = 0.
inline const Bytes kUnregLangId = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73, 0x07, 0x08, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
// Extended alerts of the error class: category 3, class mask 1 at byte 10.
inline const Bytes kExtErrors = {0xA5, 0x00, 0x0D, 0x50, 0xE0, 0x73, 0x03, 0x08,
                                 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
// The sniff packet a USB printer gets before each request.
inline const Bytes kUsbSniff = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                                0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A job of `pages` small pages (360 000 raster bytes each).  With a delay the
// stand-in pdftoraster sleeps that long before every 64 KiB, so the job lasts
// about pages * 6 * delayMs: long enough for the status threads to work.
inline harness::FilterRunOptions statusJob(const std::string& deviceUri, int pages,
                                           int delayMs = 0) {
    harness::FilterRunOptions o = harness::smallJob(pages);
    o.deviceUri = deviceUri;
    o.fakeDelayMs = delayMs;
    o.fakeChunk = 65536;
    return o;
}

inline std::vector<std::string> lines(const std::string& all) {
    std::vector<std::string> out;
    std::istringstream in(all);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

inline int countLines(const std::string& all, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines(all))
        n += l == line;
    return n;
}

inline std::vector<std::string> linesStartingWith(const std::string& all, const std::string& head) {
    std::vector<std::string> out;
    for (const std::string& l : lines(all)) {
        if (l.rfind(head, 0) == 0) out.push_back(l);
    }
    return out;
}

// What a printer answers an extended-alert request with.
inline printersim::AlertConfig answer(const std::string& text,
                                      uint8_t classBits = printersim::kClassError) {
    printersim::AlertConfig c;
    c.alerts = {printersim::SimAlert::withText(text)};
    c.classBits = classBits;
    return c;
}

inline printersim::AlertConfig rawAnswer(Bytes response) {
    printersim::AlertConfig c;
    c.rawResponse = std::move(response);
    return c;
}

inline printersim::AlertConfig silence() {
    printersim::AlertConfig c;
    c.silent = true;
    return c;
}

// Answers the k-th alert request (1-based) of a job with steps[k-1], and every
// later one with the last step.  The switch to the next step is made a little
// after a request has been answered; the next request comes two seconds or
// more later, so each step answers exactly one request.
class AnswerScript {
  public:
    AnswerScript(printersim::PrinterSimulator& sim, std::vector<printersim::AlertConfig> steps)
        : sim_(sim), steps_(std::move(steps)) {
        if (!steps_.empty()) sim_.setConfig(steps_.front());
        thread_ = std::thread([this] { run(); });
    }
    ~AnswerScript() {
        stop_.store(true);
        thread_.join();
    }
    AnswerScript(const AnswerScript&) = delete;
    AnswerScript& operator=(const AnswerScript&) = delete;

    // Steps handed out so far (the first counts from the start).
    size_t stepsUsed() const { return used_.load(); }

  private:
    void run() {
        used_.store(steps_.empty() ? 0 : 1);
        for (size_t k = 1; k < steps_.size(); ++k) {
            while (!stop_.load() && sim_.count(printersim::RequestKind::kAlertRequest) < k)
                std::this_thread::sleep_for(10ms);
            for (int i = 0; i < 30 && !stop_.load(); ++i)
                std::this_thread::sleep_for(10ms);
            if (stop_.load()) return;
            sim_.setConfig(steps_[k]);
            used_.store(k + 1);
        }
    }

    printersim::PrinterSimulator& sim_;
    std::vector<printersim::AlertConfig> steps_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> used_{0};
    std::thread thread_;
};

}  // namespace statuse2e
