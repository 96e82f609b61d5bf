// Pauses of the status threads that end early once their run flag is cleared.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

// Sleeps `total` in short slices; returns early (false) when `running` is cleared.
inline bool pauseWhileRunning(const std::atomic<bool>& running, std::chrono::milliseconds total) {
    constexpr auto kSlice = std::chrono::milliseconds(50);
    auto end = std::chrono::steady_clock::now() + total;
    while (running.load()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        std::this_thread::sleep_for(left < kSlice ? left : kSlice);
    }
    return false;
}
