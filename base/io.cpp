#include "base/io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

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
