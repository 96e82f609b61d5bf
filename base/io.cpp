#include "base/io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/waiter.h"

bool writeAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress: never loop on it
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int pollSlice(int fd, short events) {
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kMaxPause.count()));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready > 0 && (p.revents & POLLNVAL) != 0) {
        errno = EBADF;  // not an open descriptor: waiting again cannot help
        return -1;
    }
    return ready > 0 ? 1 : 0;
}
