#include "status/StatusWait.h"

#include <poll.h>

#include <cerrno>

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
    const int slice = static_cast<int>(kMaxPause.count());
    for (int waited = 0; waited < total.count() && thread.running(); waited += slice) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, slice);
        if (r < 0 && errno != EINTR) return FdWait::kFailed;
        if (r <= 0) continue;
        if (p.revents & POLLNVAL) return FdWait::kInvalid;
        return FdWait::kReady;
    }
    return FdWait::kQuiet;
}
