#include "decoder/sandbox.h"

#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

int LimitCpuTime(int seconds) {
    struct rlimit limit;
    limit.rlim_cur = static_cast<rlim_t>(seconds);
    limit.rlim_max = static_cast<rlim_t>(seconds) + 1;
    return setrlimit(RLIMIT_CPU, &limit) == 0 ? 0 : -1;
}

int LimitAddressSpace(long long bytes) {
#ifdef QUARRO_SANITIZED_BUILD
    (void)bytes;
    return 0;
#else
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(bytes);
    return setrlimit(RLIMIT_AS, &limit) == 0 ? 0 : -1;
#endif
}

int EnterSyscallFilter(std::string& reason) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        reason = "the system-call filter could not be set up";
        return -1;
    }
    static const int kAllowed[] = {
        SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(readv), SCMP_SYS(writev), SCMP_SYS(pread64), SCMP_SYS(lseek),
        SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(fcntl),
        SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect), SCMP_SYS(brk), SCMP_SYS(madvise),
        SCMP_SYS(futex), SCMP_SYS(sched_yield), SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep),
        SCMP_SYS(clock_gettime), SCMP_SYS(gettimeofday), SCMP_SYS(getrandom), SCMP_SYS(sysinfo),
        SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(tgkill),
        SCMP_SYS(exit), SCMP_SYS(exit_group),
        // Threads of the decoders that start their own (HEVC, AV1): set-up calls of new threads.
        SCMP_SYS(rt_sigaction), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_getaffinity),
        SCMP_SYS(membarrier),
#ifdef QUARRO_SANITIZED_BUILD
        // The sanitizer runtimes read /proc for their reports and manage their own threads and stacks.
        SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getdents64), SCMP_SYS(sigaltstack),
        SCMP_SYS(prctl), SCMP_SYS(getrusage),
        SCMP_SYS(mincore), SCMP_SYS(getrlimit), SCMP_SYS(prlimit64), SCMP_SYS(getppid), SCMP_SYS(kill),
        SCMP_SYS(sched_getparam), SCMP_SYS(setrlimit), SCMP_SYS(tkill), SCMP_SYS(pipe2), SCMP_SYS(dup2), SCMP_SYS(dup),
#endif
    };
    int status = 0;
    for (int call : kAllowed) {
        if (status == 0) status = seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    }
#ifdef QUARRO_SANITIZED_BUILD
    const uint32_t kOpen = SCMP_ACT_ALLOW;
#else
    const uint32_t kOpen = SCMP_ACT_ERRNO(EACCES);
#endif
    for (int call : {SCMP_SYS(open), SCMP_SYS(openat)}) {
        if (status == 0) status = seccomp_rule_add(filter, kOpen, call, 0);
    }
    // New threads only, never new processes: clone must carry CLONE_THREAD, and clone3, whose
    // flags a filter cannot see, reports itself missing so that the C library falls back to clone.
    if (status == 0) {
        status = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                                  SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    }
    if (status == 0) status = seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
#ifndef QUARRO_SANITIZED_BUILD
    // Worker threads name themselves.
    if (status == 0) {
        status = seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
    }
#endif
    // Terminal checks of the standard streams and optional look-ups fail instead of killing.
    for (int call : {SCMP_SYS(ioctl), SCMP_SYS(access), SCMP_SYS(stat), SCMP_SYS(faccessat)}) {
        if (status == 0) status = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), call, 0);
    }
    if (status == 0) status = seccomp_load(filter);
    seccomp_release(filter);
    if (status != 0) {
        reason = std::string("the system-call filter could not be loaded: ") + std::strerror(-status);
        return -1;
    }
    return 0;
}
