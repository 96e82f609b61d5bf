#include "status/StatusWait.h"

#include <poll.h>

#include "base/processstate.h"

namespace {

std::atomic<StatusPauseHook> gStatusPauseHook{nullptr};
const StateReset kResetPauseHook([] { gStatusPauseHook.store(nullptr); });

}  // namespace

void setStatusPauseHook(StatusPauseHook hook) {
    gStatusPauseHook.store(hook);
}

bool pauseWhileRunning(StoppableThread& thread, std::chrono::milliseconds total) {
    if (StatusPauseHook hook = gStatusPauseHook.load()) return hook(thread.runFlag(), total);
    return thread.pauseFor(total);
}

FdWait waitReadable(int fd, const StoppableThread& thread, std::chrono::milliseconds total) {
    const auto end = std::chrono::steady_clock::now() + total;
    return waitFd(fd, POLLIN,
                  [&] { return !thread.running() || std::chrono::steady_clock::now() >= end; });
}
