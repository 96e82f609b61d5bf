// One way to wait for every thread of a job.
//
// A Waiter lets a thread sleep until a condition on shared state holds.  The
// side that changes the state calls notify() afterwards; the waiting side
// wakes at once.  As a safety net every wait also looks again at least every
// kMaxPause (20 ms), so a run flag that is cleared without a notify() is seen
// within that time, and a missed notify can cost no more than that.
//
// The state waited for may be plain atomics changed without the Waiter's
// lock: a waiter registers itself before it checks the condition, and
// notify() takes the lock only when someone is registered, so a producer that
// nobody waits for pays one atomic load per notify().
//
// StoppableThread is a thread with a run flag and a Waiter of its own:
// stop() clears the flag, wakes the thread and joins it.  The body checks
// running(), waits with waitUntil() (which gives up when the flag is
// cleared) and pauses with pauseFor().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The longest time any wait of the job sleeps before looking again.
inline constexpr std::chrono::milliseconds kMaxPause{20};

class Waiter {
  public:
    Waiter() = default;
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    // Wakes every thread waiting on this waiter.  Call it after the change of
    // state the waiters look for has been published.
    void notify();

    // Returns true once `done()` holds.  Returns false as soon as `run` (when
    // given) is found cleared, or `timeout` has passed.
    // No allocation: the condition is called in place, so a wait cannot fail.
    template <class Done>
    bool waitUntil(
        Done done, const std::atomic<bool>* run = nullptr,
        std::chrono::steady_clock::duration timeout = std::chrono::steady_clock::duration::max()) {
        if (done()) return true;
        const auto start = std::chrono::steady_clock::now();
        const bool bounded = timeout != std::chrono::steady_clock::duration::max();
        std::unique_lock<std::mutex> lock(mutex_);
        // Registered before the condition is looked at; see notify().
        waiting_.fetch_add(1);
        bool result = false;
        for (;;) {
            if (done()) {
                result = true;
                break;
            }
            if (run != nullptr && !run->load()) break;
            std::chrono::steady_clock::duration pause = kMaxPause;
            if (bounded) {
                const auto left = timeout - (std::chrono::steady_clock::now() - start);
                if (left <= std::chrono::steady_clock::duration::zero()) break;
                if (left < pause) pause = left;
            }
            wake_.wait_for(lock, pause);
        }
        waiting_.fetch_sub(1);
        return result;
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<int> waiting_{0};
};

class StoppableThread {
  public:
    StoppableThread() = default;
    ~StoppableThread() { stop(); }
    StoppableThread(const StoppableThread&) = delete;
    StoppableThread& operator=(const StoppableThread&) = delete;

    // Raises the run flag and starts `body` on a new thread.  False when the
    // thread could not be made (the flag is then down again).
    bool start(std::function<void()> body);
    // Clears the run flag, wakes the thread and joins it.  Safe to call when
    // the thread never started or has already been stopped.
    void stop();
    // Clears the run flag and wakes the thread without joining it.
    void requestStop();

    bool running() const { return run_.load(); }
    const std::atomic<bool>& runFlag() const { return run_; }
    bool joinable() const { return thread_.joinable(); }
    Waiter& waiter() { return waiter_; }

    // Waits until `done()` holds (true) or the run flag is cleared (false).
    template <class Done>
    bool waitUntil(Done done) {
        return waiter_.waitUntil(std::move(done), &run_);
    }
    // Sleeps `duration`; returns false at once when the thread is stopped.
    bool pauseFor(std::chrono::steady_clock::duration duration);

  private:
    std::atomic<bool> run_{false};
    Waiter waiter_;
    std::thread thread_;
};
