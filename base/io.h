// Writing a whole buffer to a descriptor.
#pragma once

#include <cstddef>

// Writes all `length` bytes to `fd`, going on after partial and interrupted
// writes.  False on any other error, with errno set by the failed write().
// Async-signal-safe (only write() is called), so a forked child may use it.
bool writeAll(int fd, const void* data, size_t length);
