#include "channel/messages.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 13> kPrefixes = {
    "ERROR: ", "WARNING: ", "PAGE: ",  "DEBUG: ", "DEBUG2: ", "INFO: ", "NOTICE: ",
    "STATE: ", "ATTR: ",    "EMERG: ", "ALERT: ", "CRIT: ",   "PPD: ",
};

// Guards the line state and keeps two threads' messages from interleaving.
std::mutex gLock;
bool gAtLineStart = true;

void writeAll(const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(STDERR_FILENO, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // Nowhere left to report to.
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

bool msgHasSpoolerPrefix(const char* text, size_t length) {
    std::string_view view(text, length);
    for (std::string_view prefix : kPrefixes) {
        if (view.starts_with(prefix)) return true;
    }
    return false;
}

void msgWrite(const char* text, size_t length) {
    if (text == nullptr || length == 0) return;
    if (length > kMaxMessage) length = kMaxMessage;

    // One extra byte for the line feed that may go in front.
    std::array<char, kMaxMessage + 1> line;
    int saved = errno;
    std::lock_guard<std::mutex> hold(gLock);
    size_t used = 0;
    if (!gAtLineStart && msgHasSpoolerPrefix(text, length)) line[used++] = '\n';
    std::memcpy(line.data() + used, text, length);
    used += length;
    writeAll(line.data(), used);
    gAtLineStart = line[used - 1] == '\n';
    errno = saved;
}

void msgf(const char* format, ...) {
    std::array<char, kMaxMessage + 1> text;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n) < text.size() ? static_cast<size_t>(n) : kMaxMessage;
    msgWrite(text.data(), length);
}

void msgPerror(const char* text) {
    int code = errno;
    msgf("%s: %s\n", text, std::strerror(code));
    errno = code;
}

void msgResetLineState() {
    std::lock_guard<std::mutex> hold(gLock);
    gAtLineStart = true;
}
