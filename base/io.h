// Writing a whole buffer to a descriptor.
#pragma once

#include <cstddef>

// Writes all `length` bytes to `fd`, going on after partial and interrupted
// writes.  False on any other error, with errno set by the failed write().
// Async-signal-safe (only write() is called), so a forked child may use it.
bool writeAll(int fd, const void* data, size_t length);

// How waitFd() ended.
enum class FdWait {
    kReady,    // the descriptor has one of the events (or an error or hang-up,
               // which the next read or write reports)
    kStopped,  // `stop` answered true
    kFailed,   // poll() failed, or `fd` is not open (EBADF); errno tells why
};

// One look at `fd` for `events`, sleeping at most kMaxPause (20 ms): 1 ready,
// 0 not yet (the time-out, or a signal), -1 poll() failed or `fd` is not open.
int pollSlice(int fd, short events);

// Waits until `fd` has one of `events`.  After every look that finds nothing
// it asks `stop()`, so a run flag or a cancel is seen within kMaxPause and a
// descriptor with data waiting is always served first.
template <class Stop>
FdWait waitFd(int fd, short events, Stop&& stop) {
    for (;;) {
        const int ready = pollSlice(fd, events);
        if (ready > 0) return FdWait::kReady;
        if (ready < 0) return FdWait::kFailed;
        if (stop()) return FdWait::kStopped;
    }
}
