#include "filter/rasterchild.h"

#include <cups/cups.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/io.h"
#include "base/messages.h"
#include "base/waiter.h"

namespace {

constexpr int kRasterPipeBytes = 1 << 20;

// Writes a fixed message and the error text with async-signal-safe calls only:
// the forked child of a threaded process may not take locks.
void childReport(const char* text, int code) {
    // strerrordesc_np() returns a constant text without locale lookups.
    const char* reason = strerrordesc_np(code);
    if (reason == nullptr) reason = "unknown error";
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    ignored = ::write(STDERR_FILENO, ": ", 2);
    ignored = ::write(STDERR_FILENO, reason, std::strlen(reason));
    ignored = ::write(STDERR_FILENO, "\n", 1);
    (void)ignored;
}

// The child's standard error comes through a pipe and is passed on line by
// line through our message writer, so that its lines and ours never run into
// each other and none is longer than the spooler reads.
StoppableThread gForwarder;

void forwardChildMessages(int fd) {
    std::string pending;
    std::array<char, 4096> chunk;
    for (;;) {
        // Stopped only when the pipe is quiet: what the child wrote is passed on.
        if (waitFd(fd, POLLIN, [] { return !gForwarder.running(); }) != FdWait::kReady) break;
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        pending.append(chunk.data(), static_cast<size_t>(n));
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            msgWrite(pending.data() + start, end + 1 - start);
        }
        pending.erase(0, start);
        // A line longer than the spooler reads goes on as whole lines of
        // what has come so far (msgWrite splits longer complete lines).
        while (pending.size() >= kMaxMessage - 1) {
            msgWrite(pending.data(), kMaxMessage - 1);
            pending.erase(0, kMaxMessage - 1);
        }
    }
    if (!pending.empty()) msgWrite(pending.data(), pending.size());
    ::close(fd);
}

// The child has ended: what it wrote is in the pipe.  Something it left
// running may still hold the pipe open, so the forwarder gives up at its
// next quiet look.
void stopForwarder() {
    gForwarder.stop();
}

// The size of a transparent huge page; 0 when the system has none.
uint64_t systemHugePageBytes() {
    FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "re");
    if (file == nullptr) return 0;
    unsigned long long bytes = 0;
    if (std::fscanf(file, "%llu", &bytes) != 1) bytes = 0;
    std::fclose(file);
    return bytes;
}

}  // namespace

std::string rasterChildTunables(const char* current, uint64_t hugePageBytes) {
    constexpr std::string_view kHugePages = "glibc.malloc.hugetlb=1";
    // The allocator grows its heap in whole huge pages: with 2 MiB pages that
    // is nothing, with the 32 MiB or 512 MiB of larger base pages it could be
    // more memory than a small board should lose.
    if (hugePageBytes == 0 || hugePageBytes > kMaxHugePageBytes) return {};
    if (current == nullptr || *current == '\0') return std::string(kHugePages);
    const std::string_view have(current);
    // An admin's own choice either way is left as it is.
    if (have.find("glibc.malloc.hugetlb=") != std::string_view::npos) return {};
    std::string joined(have);
    joined += ':';
    joined += kHugePages;
    return joined;
}

CopyResult copyInputToTempFile(char* name, size_t size, bool (*stopRequested)()) {
    int fd = cupsTempFd(name, static_cast<int>(size));
    if (fd < 0) {
        msgPerror("ERROR: Unable to copy PDF file!");
        return CopyResult::kFailed;
    }
    msgf("DEBUG: quenzel - copying to temp print file \"%s\"\n", name);
    std::array<uint8_t, 8192> chunk;
    bool ok = true;
    bool cancelled = false;
    for (;;) {
        if (stopRequested != nullptr && stopRequested()) {
            cancelled = true;
            break;
        }
        // A cancel is seen while the sender stalls.
        const FdWait wait = waitFd(STDIN_FILENO, POLLIN, [stopRequested] {
            return stopRequested != nullptr && stopRequested();
        });
        if (wait == FdWait::kStopped) continue;  // the check above ends the copy
        if (wait == FdWait::kFailed) {
            ok = false;
            break;
        }
        ssize_t n = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (!writeAll(fd, chunk.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (cancelled) {
        ::close(fd);
        ::unlink(name);
        return CopyResult::kCancelled;
    }
    if (ok && ::fsync(fd) != 0 && errno != EINVAL) ok = false;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        msgPerror("ERROR: Unable to copy PDF file!");
        ::unlink(name);
        return CopyResult::kFailed;
    }
    return CopyResult::kCopied;
}

pid_t startRasterChild(const char* childPath, char* const argv[], const char* inputPath) {
    int ends[2];
    int errEnds[2];
    if (::pipe(ends) != 0) {
        msgPerror("ERROR: Unable to create pipe!");
        return -1;
    }
    if (::pipe2(errEnds, O_CLOEXEC) != 0) {
        msgPerror("ERROR: Unable to create pipe!");
        ::close(ends[0]);
        ::close(ends[1]);
        return -1;
    }
    // A page is tens of megabytes: a 1 MiB pipe lets the child write it in
    // fewer, larger pieces and wakes both sides far less often.  Where the
    // system allows less, the default pipe serves.
    (void)::fcntl(ends[1], F_SETPIPE_SZ, kRasterPipeBytes);
    // Argument list and environment are made before the fork: the child of a
    // threaded process may not allocate.
    std::array<char*, 8> childArgs = {
        argv[0], argv[1], argv[2], argv[3], argv[4], argv[5], const_cast<char*>(inputPath),
        nullptr};
    const std::string tunables =
        rasterChildTunables(std::getenv("GLIBC_TUNABLES"), systemHugePageBytes());
    constexpr std::string_view kTunablesPrefix = "GLIBC_TUNABLES=";
    std::string tunablesEntry;
    std::vector<char*> childEnv;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!tunables.empty() && std::string_view(*entry).starts_with(kTunablesPrefix)) continue;
        childEnv.push_back(*entry);
    }
    if (!tunables.empty()) {
        tunablesEntry = std::string(kTunablesPrefix) + tunables;
        childEnv.push_back(tunablesEntry.data());
    }
    childEnv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        msgPerror("ERROR: Unable to fork pdftoraster!");
        for (int fd : {ends[0], ends[1], errEnds[0], errEnds[1]})
            ::close(fd);
        return -1;
    }
    if (pid == 0) {
        // The child must not inherit our ignored SIGPIPE: it should die quietly
        // when we stop reading.
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(ends[1], STDOUT_FILENO);
        ::dup2(errEnds[1], STDERR_FILENO);
        ::close(ends[0]);
        ::close(ends[1]);
        ::execvpe(childPath, childArgs.data(), childEnv.data());
        childReport("ERROR: Unable to exec pdftoraster!", errno);
        ::_exit(1);
    }
    ::dup2(ends[0], STDIN_FILENO);
    ::close(ends[0]);
    ::close(ends[1]);
    ::close(errEnds[1]);
    const int messages = errEnds[0];
    if (!gForwarder.start([messages] { forwardChildMessages(messages); })) {
        // Without the forwarder the child's messages are lost, not the job.
        ::close(messages);
    }
    return pid;
}

ChildEnd reapRasterChild(pid_t pid, bool stoppedEarly, bool cancelled) {
    using Clock = std::chrono::steady_clock;
    // A child that has finished writing exits at once; one we stopped reading
    // from dies on the broken pipe or on the spooler's SIGTERM.  On a cancel
    // the SIGTERM is passed on: the spooler signals the whole process group
    // only when it runs as root.
    if (cancelled) {
        stoppedEarly = true;
        ::kill(pid, SIGTERM);
    }
    auto deadline = Clock::now() + (cancelled      ? std::chrono::milliseconds(500)
                                    : stoppedEarly ? std::chrono::milliseconds(2000)
                                                   : std::chrono::milliseconds(30000));
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool hung = done == 0;
    if (hung) {
        ::kill(pid, SIGKILL);
        while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    const int waitError = done < 0 ? errno : 0;
    // The child's last messages go out before ours about its end.
    stopForwarder();

    if (!hung && done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return ChildEnd::kSucceeded;
    }
    if (stoppedEarly) return ChildEnd::kExpected;
    if (hung) {
        msgf("ERROR: pdftoraster did not finish and was stopped\n");
    } else if (done < 0) {
        errno = waitError;
        msgPerror("ERROR: Unable to collect pdftoraster");
    } else if (WIFEXITED(status)) {
        msgf("ERROR: pdftoraster failed with exit status %d\n", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        msgf("ERROR: pdftoraster was killed by signal %d\n", WTERMSIG(status));
    } else {
        msgf("ERROR: pdftoraster ended abnormally\n");
    }
    return ChildEnd::kFailed;
}
