// The filter's job run: one print job from its arguments to its exit status.
#pragma once

#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstdint>

// Connection class of the job's device URI ("USB", "NETWORK" or "BONJOUR").
extern const char* connectivityType;
// Set to 1 by the SIGTERM handler; the job then ends after the page in hand.
// Read by every thread of the job, so a lock-free atomic (safe in a handler).
extern std::atomic<int> isTerminated;
static_assert(std::atomic<int>::is_always_lock_free);
// The SIGTERM disposition in force before the filter installed its own.
extern struct sigaction oldaction;
// The job's option string (argument 5).
extern const char* ticketArg;
// The copies argument (argument 4), converted with atoi.
extern int32_t uncollatedCopies_Prototype;
// Printer-status monitoring and the USB status prologue; always on.
inline constexpr uint8_t implementShowErrorinPrinterProxy = 1;

// SIGTERM handler: sets isTerminated, nothing else.
void signalHandler(int signalNumber);

// Exit statuses of the filter.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;

// Runs one job; returns the process exit status.
int quenzelMain(int argc, char** argv);
