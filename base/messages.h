// Messages for the spooler on standard error.
//
// The spooler reads standard error line by line and acts on a prefix
// ("ERROR: ", "WARNING: ", "PAGE: ", "STATE: ", "ATTR: ", "PPD: ", ...) only at
// the very start of a line.  The filters of a job and its backend share one
// status pipe, so every message goes through this one writer, which keeps the
// lines whole and trustworthy:
//   - each message is one write() that ends a line: a text without a line feed
//     gets one, so it can never glue itself (or another process's next line)
//     onto a line of its own;
//   - control bytes inside the message are replaced by spaces, so text taken
//     from the job, the PPD, the printer or the child can never start a line
//     of its own (a forged "STATE: " or "ATTR: " line).  Only the line feeds
//     that the format itself opens with, and the one that ends the line, stay;
//   - a message never exceeds what the spooler reads as one line.
#pragma once

#include <cstddef>

// Largest line the spooler takes, line feed included (its buffer is 2048
// bytes with the terminating NUL).
inline constexpr size_t kMaxMessage = 2047;

// Writes `length` bytes of `text` as whole lines: control bytes (line feeds
// included, the final one excepted) are replaced, and a text longer than a line
// goes out as several lines, cut at character boundaries.  Used for lines
// passed on from other programs.
void msgWrite(const char* text, size_t length);

// printf-style message, one line (cut to kMaxMessage).  Leading line feeds of
// the format are kept; any other control byte becomes a space.
void msgf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Like perror(): "<text>: <system error text>\n", with the errno in force on entry.
void msgPerror(const char* text);

// "ERROR: Unable to allocate memory!: <ENOMEM text>", the report of every
// allocation that failed in a job.
void reportNoMemory();

// True when `text` begins with a prefix the spooler acts on.
bool msgHasSpoolerPrefix(const char* text, size_t length);

// `text` with every control byte (below 0x20, and 0x7F) replaced by a space.
void msgReplaceControlBytes(char* text, size_t length);

// Test hooks: write to `fd` instead of standard error (-1 restores it).
void msgSetOutputFd(int fd);
