// Pauses of the status threads that end early once their run flag is cleared.
//
// Every pause of the status threads goes through pauseWhileRunning(), so tests
// can take the pauses' place with a hook: the hook learns the length asked for
// and the run flag, and answers as the pause would.  Tests then run without
// waiting and check exactly which pauses were taken, instead of measuring time.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

// Longest time between two looks at a status thread's run flag.
inline constexpr auto kStatusWaitSlice = std::chrono::milliseconds(20);

// Takes the place of a pause of `total`; returns false when `running` is
// cleared (the thread is to stop), as the pause would.
using StatusPauseHook = bool (*)(const std::atomic<bool>& running, std::chrono::milliseconds total);
inline std::atomic<StatusPauseHook> gStatusPauseHook{nullptr};

// Test hook: pauses go to `hook` instead of sleeping (null restores sleeping).
inline void setStatusPauseHook(StatusPauseHook hook) {
    gStatusPauseHook.store(hook);
}

// Sleeps `total` in slices of at most kStatusWaitSlice; returns early (false)
// when `running` is cleared.
inline bool pauseWhileRunning(const std::atomic<bool>& running, std::chrono::milliseconds total) {
    if (StatusPauseHook hook = gStatusPauseHook.load()) return hook(running, total);
    auto end = std::chrono::steady_clock::now() + total;
    while (running.load()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        std::this_thread::sleep_for(left < kStatusWaitSlice ? left : kStatusWaitSlice);
    }
    return false;
}
