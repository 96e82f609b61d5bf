// Helpers of the status tests: byte strings, an stderr tap, descriptor counts.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/processstate.h"
#include "status/StatusWait.h"

using Bytes = std::vector<uint8_t>;

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string text(const char* field) {
    return std::string(field);
}

// Open descriptors of this process.
inline int openDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n - 1;  // the directory's own descriptor
}

// Lines of `all` equal to `line`.
inline int countLines(const std::string& all, const std::string& line) {
    std::istringstream in(all);
    std::string l;
    int n = 0;
    while (std::getline(in, l))
        n += l == line;
    return n;
}

inline std::vector<std::string> linesStartingWith(const std::string& all, const std::string& head) {
    std::istringstream in(all);
    std::string l;
    std::vector<std::string> out;
    while (std::getline(in, l)) {
        if (l.rfind(head, 0) == 0) out.push_back(l);
    }
    return out;
}

// Sends everything written to standard error into a pipe that a thread
// collects, so a test can wait for a message while the writer keeps running.
class StderrTap {
  public:
    StderrTap() {
        int p[2];
        if (pipe(p) != 0) return;
        saved_ = dup(2);
        dup2(p[1], 2);
        close(p[1]);
        readFd_ = p[0];
        reader_ = std::thread([this] {
            char buf[4096];
            for (;;) {
                ssize_t n = read(readFd_, buf, sizeof buf);
                if (n <= 0) break;
                std::lock_guard<std::mutex> hold(lock_);
                text_.append(buf, static_cast<size_t>(n));
            }
        });
    }
    ~StderrTap() { finish(); }

    std::string text() {
        std::lock_guard<std::mutex> hold(lock_);
        return text_;
    }
    // Waits until `line` has appeared as a whole line `times` times.
    bool waitForLine(const std::string& line, int times, std::chrono::milliseconds timeout) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (countLines(text(), line) < times) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    // Restores standard error and returns all that was written.
    std::string finish() {
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
            if (reader_.joinable()) reader_.join();
            close(readFd_);
        }
        return text();
    }

  private:
    int saved_ = -1;
    int readFd_ = -1;
    std::thread reader_;
    std::mutex lock_;
    std::string text_;
};

// Returns the process state to its start when made: declared before the
// members that install test hooks, it runs before they do.
struct FreshProcess {
    FreshProcess() { resetProcessState(); }
};

// Takes the place of the status threads' pauses (see status/StatusWait.h):
// records the length of each and returns at once, so the tests neither wait
// nor measure time.  While `hold` is set a pause lasts until the run flag is
// cleared, as for a thread caught in its pause when the job ends.
class PauseRecorder {
  public:
    PauseRecorder() {
        current() = this;
        setStatusPauseHook(&take);
    }
    ~PauseRecorder() {
        setStatusPauseHook(nullptr);
        current() = nullptr;
    }
    PauseRecorder(const PauseRecorder&) = delete;
    PauseRecorder& operator=(const PauseRecorder&) = delete;

    std::vector<std::chrono::milliseconds> pauses() {
        std::lock_guard<std::mutex> hold(lock_);
        return pauses_;
    }
    // Waits (as a guard against a hang, not a measure) until `n` pauses began.
    bool waitForPauses(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (pauses().size() < n) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    std::atomic<bool> hold{false};

  private:
    static PauseRecorder*& current() {
        static PauseRecorder* recorder = nullptr;
        return recorder;
    }
    static bool take(const std::atomic<bool>& running, std::chrono::milliseconds total) {
        PauseRecorder* self = current();
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->pauses_.push_back(total);
        }
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (self->hold.load() && running.load());
        return running.load();
    }
    std::mutex lock_;
    std::vector<std::chrono::milliseconds> pauses_;
};

// Waits (as a guard against a hang) until `flag` is set.
inline bool waitForFlag(const std::atomic<bool>& flag,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits until the reader has taken everything out of the pipe whose read end
// is `fd`, so that the next write reaches it in a read of its own.
inline bool waitUntilDrained(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int left = 0;
        if (ioctl(fd, FIONREAD, &left) != 0) return false;
        if (left == 0) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
