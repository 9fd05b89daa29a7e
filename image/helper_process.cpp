// The helper is started through a short-lived middle process: cloned with CLONE_VM and
// CLONE_VFORK (no copy of the host's memory, the calling thread waits) and with no exit
// signal, so no wait of the host without __WALL can see it; it starts the helper the same way
// and ends at once, and the helper, orphaned, belongs to init (or the nearest subreaper) from
// then on. The helper is run from the descriptor its checks were made on (execveat), never
// from its path, which another process could have pointed elsewhere meanwhile.
#include "image/helper_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/close_range.h>

#include <cstdint>
#include <cerrno>
#include <cstring>

#include "files/printable_name.h"
#include "decoder/protocol.h"
#include "image/decoder_location.h"

namespace {

// What the middle process and the helper need, all made before the clone: they share the
// caller's memory and must not allocate.
struct SpawnPlan {
    int program;        // the checked helper, opened O_PATH: started from it, never from a path
    char* const* argv;
    char* const* envp;
    int channel, status;  // high copies, moved to kDecodeChannelDescriptor and kDecodeStatusDescriptor
    int host;             // a high copy of the program's own pidfd, moved to kDecodeHostDescriptor; -1 without
    void* helperStack;    // the top of the stack the helper's first moments run on
    int error = 0;
    int helperPidfd = -1;  // the helper's pidfd, made in the program's own descriptor table where it can be
};

long Call(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) { return syscall(number, a, b, c, d, e); }

// The helper's first moments, sharing the middle process's memory until it execs: system calls
// only. Every signal at its default and none blocked, /dev/null on 0 to 2, the sockets on 3 and
// 4, every other descriptor closed at the exec, the program run from its descriptor.
int BecomeHelper(void* data) {
    SpawnPlan& plan = *static_cast<SpawnPlan*>(data);
    struct KernelAction {
        void (*handler)(int);
        unsigned long flags;
        void (*restorer)();
        uint64_t mask;
    } byDefault = {SIG_DFL, 0, nullptr, 0};
    for (long sig = 1; sig <= 64; ++sig) Call(SYS_rt_sigaction, sig, reinterpret_cast<long>(&byDefault), 0, 8);
    uint64_t none = 0;
    Call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, 8);
    long program = Call(SYS_fcntl, plan.program, F_DUPFD_CLOEXEC, 10);
    long null = Call(SYS_openat, AT_FDCWD, reinterpret_cast<long>("/dev/null"), O_RDWR);
    bool placed = program >= 0 && null >= 0;
    for (int fd = 0; fd < 3 && placed; ++fd) placed = Call(SYS_dup3, null, fd, 0) >= 0 || null == fd;
    if (null > 2) Call(SYS_close, null);
    placed = placed && Call(SYS_dup3, plan.channel, kDecodeChannelDescriptor, 0) >= 0 &&
             Call(SYS_dup3, plan.status, kDecodeStatusDescriptor, 0) >= 0;
    if (plan.host >= 0) {
        placed = placed && Call(SYS_dup3, plan.host, kDecodeHostDescriptor, 0) >= 0;
    } else {
        Call(SYS_close, kDecodeHostDescriptor);
    }
    if (placed) {
        Call(SYS_close_range, kDecodeHostDescriptor + 1, ~0U, CLOSE_RANGE_CLOEXEC);
        Call(SYS_execveat, program, reinterpret_cast<long>(""), reinterpret_cast<long>(plan.argv),
             reinterpret_cast<long>(plan.envp), AT_EMPTY_PATH);
    }
    plan.error = errno != 0 ? errno : EBADF;
    Call(SYS_exit, 127);
    return 127;
}

// The middle process: starts the helper (the calling thread waits until it has exec'd) and ends.
int SpawnAndLeave(void* data) {
    SpawnPlan& plan = *static_cast<SpawnPlan*>(data);
    plan.error = 0;
    const int flags = CLONE_VM | CLONE_VFORK;
    if (clone(BecomeHelper, plan.helperStack, flags | CLONE_PIDFD, &plan, &plan.helperPidfd) < 0 &&
        clone(BecomeHelper, plan.helperStack, flags, &plan) < 0) {
        plan.error = errno;
    }
    _exit(plan.error);
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizer runtimes keep per-thread state that a process sharing our memory would corrupt,
// so sanitized builds start the middle process as an ordinary fork, reaped at once; its spawn
// error comes back as its exit status, and the helper's pidfd stays in its copy of our table.
pid_t StartMiddle(SpawnPlan& plan, void*) {
    pid_t middle = fork();
    if (middle == 0) SpawnAndLeave(&plan);
    return middle;
}
int MiddleError(int status, const SpawnPlan&) { return WIFEXITED(status) ? WEXITSTATUS(status) : ECHILD; }
#else
// The middle process shares our descriptor table, so that the helper's pidfd it makes is ours.
pid_t StartMiddle(SpawnPlan& plan, void* stackTop) {
    return clone(SpawnAndLeave, stackTop, CLONE_VM | CLONE_VFORK | CLONE_FILES, &plan);
}
int MiddleError(int, const SpawnPlan& plan) { return plan.error; }
#endif

const size_t kMiddleStackBytes = 64 << 10;

// Spawns the helper from a middle process; 0 or an errno.
int SpawnOrphan(SpawnPlan& plan) {
    // The middle process's stack, then the helper's.
    void* stack = mmap(nullptr, 2 * kMiddleStackBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return errno;
    plan.helperStack = static_cast<char*>(stack) + 2 * kMiddleStackBytes;
    // No handler of the host may run in the middle process.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_t middle = StartMiddle(plan, static_cast<char*>(stack) + kMiddleStackBytes);
    int error = middle < 0 ? errno : 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    int status = 0;
    if (middle > 0) {
        while (waitpid(middle, &status, __WALL) < 0 && errno == EINTR) {
        }
    }
    munmap(stack, 2 * kMiddleStackBytes);
    return error != 0 ? error : MiddleError(status, plan);
}

}  // namespace

HelperProcess::~HelperProcess() { StopHelperProcess(*this); }

int StartHelperProcess(const std::string& program, int channel, HelperProcess& process, std::string& reason) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        reason = "the decoder " + PrintableName(program) + " could not be started: " + std::strerror(errno);
        return -1;
    }
    // Numbers 3 and 4 may be taken by the very descriptors moved there: dup3 from high copies.
    int highChannel = fcntl(channel, F_DUPFD_CLOEXEC, 10), highStatus = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    int host = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0)), highHost = -1;
    if (host >= 0) {
        highHost = fcntl(host, F_DUPFD_CLOEXEC, 10);
        close(host);
    }
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char* envp[] = {nullptr};
    SpawnPlan plan;
    plan.argv = argv;
    plan.envp = envp;
    plan.channel = highChannel;
    plan.status = highStatus;
    plan.host = highHost;
    int error = highChannel >= 0 && highStatus >= 0 ? 0 : errno;
    std::string refused;
    if (error == 0 && CheckedDecoderProgram(program, plan.program, refused) != 0) {
        for (int fd : {highChannel, highStatus, highHost, ends[0], ends[1]}) {
            if (fd >= 0) close(fd);
        }
        reason = refused;
        return -1;
    }
    if (error == 0) error = SpawnOrphan(plan);
    for (int fd : {highChannel, highStatus, highHost, ends[1]}) {
        if (fd >= 0) close(fd);
    }
    if (error != 0) {
        close(ends[0]);
        if (plan.helperPidfd >= 0) close(plan.helperPidfd);
        reason = "the decoder " + PrintableName(program) + " could not be started: " + std::strerror(error);
        return -1;
    }
    StopHelperProcess(process);
    process.pidfd = plan.helperPidfd;
    // Read within a deadline, never waited on.
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    process.status = ends[0];
    return 0;
}

int WaitHelperProcess(HelperProcess& process, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
    int report = SIGKILL;
    if (process.status >= 0) {
        ReceiveDecodeStatus(
            [&](void* data, size_t size) {
                return ReadWithin(process.status, data, size, deadline, {process.pidfd}, timedOut);
            },
            report);
    }
    StopHelperProcess(process);
    return report;
}

void StopHelperProcess(HelperProcess& process) {
    // Said, not only closed: a child the host forked meanwhile may hold a copy of our end, and
    // then closing it is no end the helper would see.
    if (process.status >= 0) {
        SendDecodeStop(process.status);
        close(process.status);
    }
    if (process.pidfd >= 0) close(process.pidfd);
    process.status = process.pidfd = -1;
}
