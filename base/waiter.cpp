#include "base/waiter.h"

#include <new>
#include <system_error>

void Waiter::notify() {
    // A read-modify-write, not a plain load: all changes of waiting_ are in
    // one order.  Either a waiter's increment comes first (we see it, take
    // the lock and wake it), or ours does, and the waiter's increment then
    // acquires our release, so its check of the condition sees the state
    // change we are announcing.
    if (waiting_.fetch_add(0) == 0) return;
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
}

bool StoppableThread::start(std::function<void()> body) {
    if (thread_.joinable()) return run_.load();
    run_.store(true);
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::system_error&) {
        run_.store(false);
        return false;
    } catch (const std::bad_alloc&) {
        run_.store(false);
        return false;
    }
    return true;
}

void StoppableThread::requestStop() {
    run_.store(false);
    waiter_.notify();
}

void StoppableThread::stop() {
    requestStop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool StoppableThread::pauseFor(std::chrono::steady_clock::duration duration) {
    waiter_.waitUntil([] { return false; }, &run_, duration);
    return run_.load();
}
