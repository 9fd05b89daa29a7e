// The helper is started through a short-lived middle process: cloned with CLONE_VM and
// CLONE_VFORK (no copy of the host's memory, the calling thread waits) and with no exit
// signal, so no wait of the host without __WALL can see it; it spawns the helper and ends at
// once, and the helper, orphaned, belongs to init (or the nearest subreaper) from then on.
#include "image/helper_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/printable_name.h"
#include "image/decode_protocol.h"

namespace {

// What the middle process needs, all made before the clone: it shares the caller's memory and
// must not allocate.
struct SpawnPlan {
    const char* program;
    char* const* argv;
    char* const* envp;
    const posix_spawn_file_actions_t* actions;
    const posix_spawnattr_t* attributes;
    int error = 0;
};

int SpawnAndLeave(void* data) {
    SpawnPlan& plan = *static_cast<SpawnPlan*>(data);
    pid_t helper;
    plan.error = posix_spawn(&helper, plan.program, plan.actions, plan.attributes, plan.argv, plan.envp);
    _exit(plan.error);
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizer runtimes keep per-thread state that a process sharing our memory would corrupt,
// so sanitized builds start the middle process as an ordinary fork, reaped at once; its spawn
// error comes back as its exit status.
pid_t StartMiddle(SpawnPlan& plan, void*) {
    pid_t middle = fork();
    if (middle == 0) SpawnAndLeave(&plan);
    return middle;
}
int MiddleError(int status, const SpawnPlan&) { return WIFEXITED(status) ? WEXITSTATUS(status) : ECHILD; }
#else
pid_t StartMiddle(SpawnPlan& plan, void* stackTop) { return clone(SpawnAndLeave, stackTop, CLONE_VM | CLONE_VFORK, &plan); }
int MiddleError(int, const SpawnPlan& plan) { return plan.error; }
#endif

const size_t kMiddleStackBytes = 64 << 10;

// Spawns the helper from a middle process; 0 or an errno.
int SpawnOrphan(SpawnPlan& plan) {
    void* stack = mmap(nullptr, kMiddleStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                       -1, 0);
    if (stack == MAP_FAILED) return errno;
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
    munmap(stack, kMiddleStackBytes);
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    // Numbers 3 and 4 may be taken by the very descriptors moved there: dup2 from high copies.
    int highChannel = fcntl(channel, F_DUPFD_CLOEXEC, 10), highStatus = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    posix_spawn_file_actions_adddup2(&actions, highChannel, kDecodeChannelDescriptor);
    posix_spawn_file_actions_adddup2(&actions, highStatus, kDecodeStatusDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, kDecodeStatusDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    char* envp[] = {nullptr};
    SpawnPlan plan;
    plan.program = program.c_str();
    plan.argv = argv;
    plan.envp = envp;
    plan.actions = &actions;
    plan.attributes = &attributes;
    int error = highChannel >= 0 && highStatus >= 0 ? SpawnOrphan(plan) : errno;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int fd : {highChannel, highStatus, ends[1]}) {
        if (fd >= 0) close(fd);
    }
    if (error != 0) {
        close(ends[0]);
        reason = "the decoder " + PrintableName(program) + " could not be started: " + std::strerror(error);
        return -1;
    }
    StopHelperProcess(process);
    process.status = ends[0];
    return 0;
}

int WaitHelperProcess(HelperProcess& process, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
    int report = 0;
    size_t got = 0;
    while (process.status >= 0 && got < sizeof report) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        struct pollfd wait = {process.status, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(std::min<long long>(left, 1000)) + 1) <= 0) continue;
        ssize_t n = read(process.status, reinterpret_cast<char*>(&report) + got, sizeof report - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    StopHelperProcess(process);
    return got == sizeof report ? report : SIGKILL;
}

void StopHelperProcess(HelperProcess& process) {
    if (process.status >= 0) close(process.status);
    process.status = -1;
}
