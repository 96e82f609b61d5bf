#include "base/messages.h"

#include "base/io.h"
#include "base/processstate.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 13> kPrefixes = {
    "ERROR: ", "WARNING: ", "PAGE: ",  "DEBUG: ", "DEBUG2: ", "INFO: ", "NOTICE: ",
    "STATE: ", "ATTR: ",    "EMERG: ", "ALERT: ", "CRIT: ",   "PPD: ",
};

// Keeps two threads' messages from interleaving.
std::mutex gLock;
std::atomic<int> gFd{STDERR_FILENO};
const StateReset kResetMessages([] { gFd.store(STDERR_FILENO); });

bool isControl(char c) {
    auto byte = static_cast<uint8_t>(c);
    return byte < 0x20 || byte == 0x7F;
}

// A failed write is dropped: there is nowhere left to report it to.
void writeOut(const char* data, size_t length) {
    (void)writeAll(gFd.load(), data, length);
}

// Longest cut of `text` at most `room` bytes long that does not split a UTF-8
// character (a text that is no UTF-8 at all is simply cut at `room`).
size_t cutAtCharacter(const char* text, size_t length, size_t room) {
    if (length <= room) return length;
    size_t cut = room;
    for (int back = 0; back < 3 && cut > 0; ++back) {
        if ((static_cast<uint8_t>(text[cut]) & 0xC0) != 0x80) return cut;
        --cut;
    }
    return (static_cast<uint8_t>(text[cut]) & 0xC0) != 0x80 && cut > 0 ? cut : room;
}

// Writes one line: `lead` line feeds, then `text` with its control bytes
// replaced (a final line feed of the text is dropped and added again), cut to
// the line limit.
void writeLine(size_t lead, const char* text, size_t length) {
    if (length > 0 && text[length - 1] == '\n') --length;
    if (lead > kMaxMessage / 2) lead = kMaxMessage / 2;
    std::array<char, kMaxMessage> line;
    size_t used = 0;
    while (used < lead)
        line[used++] = '\n';
    length = cutAtCharacter(text, length, kMaxMessage - 1 - used);
    std::memcpy(line.data() + used, text, length);
    msgReplaceControlBytes(line.data() + used, length);
    used += length;
    line[used++] = '\n';
    std::lock_guard<std::mutex> hold(gLock);
    writeOut(line.data(), used);
}

}  // namespace

bool msgHasSpoolerPrefix(const char* text, size_t length) {
    std::string_view view(text, length);
    for (std::string_view prefix : kPrefixes) {
        if (view.starts_with(prefix)) return true;
    }
    return false;
}

void msgReplaceControlBytes(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (isControl(text[i])) text[i] = ' ';
    }
}

void msgWrite(const char* text, size_t length) {
    if (text == nullptr || length == 0) return;
    int saved = errno;
    if (text[length - 1] == '\n') --length;
    // A line longer than the spooler reads goes on as further whole lines.
    size_t done = 0;
    do {
        size_t piece = cutAtCharacter(text + done, length - done, kMaxMessage - 1);
        writeLine(0, text + done, piece);
        done += piece;
    } while (done < length);
    errno = saved;
}

void msgf(const char* format, ...) {
    int saved = errno;
    std::array<char, kMaxMessage + 1> text;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (n <= 0) return;
    size_t length = static_cast<size_t>(n) < text.size() ? static_cast<size_t>(n) : kMaxMessage;
    // Only the format's own leading line feeds open the message with empty
    // lines; the same bytes coming from a value are replaced like any other.
    size_t lead = 0;
    while (format[lead] == '\n')
        ++lead;
    // A message of line feeds only is that many lines, the last one its end.
    if (lead >= length) lead = length - 1;
    writeLine(lead, text.data() + lead, length - lead);
    errno = saved;
}

void msgPerror(const char* text) {
    int code = errno;
    msgf("%s: %s\n", text, std::strerror(code));
    errno = code;
}

void reportNoMemory() {
    errno = ENOMEM;
    msgPerror("ERROR: Unable to allocate memory!");
}

void msgSetOutputFd(int fd) {
    gFd.store(fd < 0 ? STDERR_FILENO : fd);
}
