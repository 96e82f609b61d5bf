// Messages for the spooler on standard error.
//
// The spooler reads standard error line by line and acts on a prefix
// ("ERROR: ", "WARNING: ", "PAGE: ", ...) only at the very start of a line.
// Several of our debug texts end without a line feed, and the status threads
// write while the main thread does, so every message goes through this one
// writer: it formats into a bounded buffer, starts a message that carries a
// spooler prefix on a fresh line, and hands each message to one write() call.
#pragma once

#include <cstddef>

// Largest message the spooler takes in one line (its buffer is 2048 bytes).
inline constexpr size_t kMaxMessage = 2047;

// Writes `length` bytes of `text` as one message (cut to kMaxMessage).
void msgWrite(const char* text, size_t length);

// printf-style message.
void msgf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Like perror(): "<text>: <system error text>\n", with the errno in force on entry.
void msgPerror(const char* text);

// True when `text` begins with a prefix the spooler acts on.
bool msgHasSpoolerPrefix(const char* text, size_t length);

// Test hook: forget whether the last message ended its line (a fresh stream).
void msgResetLineState();
