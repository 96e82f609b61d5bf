// The waits of the status threads: pauses and waits for a descriptor, both
// ending early once the thread is stopped.
//
// Every pause of the status threads goes through pauseWhileRunning(), so tests
// can take the pauses' place with a hook: the hook learns the length asked for
// and the run flag, and answers as the pause would.  Tests then run without
// waiting and check exactly which pauses were taken, instead of measuring time.
#pragma once

#include <atomic>
#include <chrono>

#include "base/io.h"
#include "base/waiter.h"

// Takes the place of a pause of `total`; returns false when `running` is
// cleared (the thread is to stop), as the pause would.
using StatusPauseHook = bool (*)(const std::atomic<bool>& running, std::chrono::milliseconds total);

// Test hook: pauses go to `hook` instead of sleeping (null restores sleeping).
void setStatusPauseHook(StatusPauseHook hook);

// Sleeps `total` on `thread`'s waiter; returns at once (false) when the thread
// is stopped.
bool pauseWhileRunning(StoppableThread& thread, std::chrono::milliseconds total);

// Waits up to `total` for `fd` to become readable, looking at the thread's run
// flag at least every kMaxPause: kReady, kStopped when the time is up or the
// thread was stopped, kFailed when the descriptor is not open or poll() failed.
FdWait waitReadable(int fd, const StoppableThread& thread, std::chrono::milliseconds total);
