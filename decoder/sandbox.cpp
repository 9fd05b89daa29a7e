#include "decoder/sandbox.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

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

int LimitCoreDumps() {
    struct rlimit none = {0, 0};
    int status = setrlimit(RLIMIT_CORE, &none);
    // Not dumpable: no core even through a core_pattern pipe, and no tracing by the user's programs.
    if (prctl(PR_SET_DUMPABLE, 0) != 0) status = -1;
    return status == 0 ? 0 : -1;
}

namespace {

// Rules added while none has failed; the first failure is kept.
class Rules {
public:
    explicit Rules(scmp_filter_ctx filter) : filter(filter) {}
    void Add(uint32_t action, int call, std::initializer_list<scmp_arg_cmp> conditions = {}) {
        if (status == 0) {
            status = seccomp_rule_add_array(filter, action, call, static_cast<unsigned>(conditions.size()),
                                            conditions.begin());
        }
    }
    int status = 0;

private:
    scmp_filter_ctx filter;
};

// The filter's instructions, through a pipe, which is how the library hands them out; 0 or -errno.
int ExportProgram(scmp_filter_ctx filter, std::vector<unsigned char>& program) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
    // A filter of this size is a few kilobytes: it fits the pipe's buffer whole.
    int status = seccomp_export_bpf(filter, ends[1]);
    close(ends[1]);
    program.clear();
    unsigned char buffer[4096];
    for (ssize_t n; status == 0 && (n = read(ends[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            status = -errno;
            break;
        }
        program.insert(program.end(), buffer, buffer + n);
    }
    close(ends[0]);
    if (status == 0 && program.size() % sizeof(struct sock_filter) != 0) status = -EINVAL;
    return status;
}

}  // namespace

int PrepareSyscallFilter(int pixelFile, PreparedFilter& prepared, std::string& reason) {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        reason = "the system-call filter could not be set up";
        return -1;
    }
    Rules rules(filter);
    for (int call : {
             SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(readv), SCMP_SYS(writev), SCMP_SYS(pread64), SCMP_SYS(lseek),
             SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise),
             SCMP_SYS(futex), SCMP_SYS(sched_yield), SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep),
             SCMP_SYS(clock_gettime), SCMP_SYS(gettimeofday), SCMP_SYS(getrandom), SCMP_SYS(sysinfo),
             SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(getpid), SCMP_SYS(gettid),
             SCMP_SYS(exit), SCMP_SYS(exit_group),
             // Threads of the decoders that start their own (HEVC, AV1): set-up calls of new threads.
             SCMP_SYS(rt_sigaction), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_getaffinity),
             SCMP_SYS(membarrier),
#ifdef QUARRO_SANITIZED_BUILD
             // The sanitizer runtimes read /proc for their reports, manage their own threads and
             // stacks, and map and query memory and descriptors freely.
             SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getdents64), SCMP_SYS(sigaltstack),
             SCMP_SYS(prctl), SCMP_SYS(getrusage), SCMP_SYS(mincore), SCMP_SYS(getrlimit), SCMP_SYS(prlimit64),
             SCMP_SYS(getppid), SCMP_SYS(kill), SCMP_SYS(sched_getparam), SCMP_SYS(setrlimit), SCMP_SYS(tkill),
             SCMP_SYS(tgkill), SCMP_SYS(pipe2), SCMP_SYS(dup2), SCMP_SYS(dup), SCMP_SYS(mmap), SCMP_SYS(mprotect),
             SCMP_SYS(fcntl), SCMP_SYS(newfstatat), SCMP_SYS(open), SCMP_SYS(openat),
#endif
         }) {
        rules.Add(SCMP_ACT_ALLOW, call);
    }
#ifndef QUARRO_SANITIZED_BUILD
    // Signals to its own threads only (raise, abort, a thread's cancellation): the process that
    // builds the filter is the one it confines.
    rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), {SCMP_A0_32(SCMP_CMP_EQ, static_cast<uint32_t>(getpid()))});
    // Memory, never executable: the only code is what the helper brought.
    for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)}) {
        rules.Add(SCMP_ACT_ALLOW, call, {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    }
    // Descriptor queries only: no F_SETOWN or F_SETSIG (signals to others), no locks, no leases.
    for (int command : {F_GETFD, F_GETFL}) {
        rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(fcntl), {SCMP_A1_32(SCMP_CMP_EQ, static_cast<uint32_t>(command))});
    }
    // The status of an open descriptor, which is how fstat() asks. With a path, newfstatat would
    // look it up: that fails like opening a file (and no descriptor of the helper is a folder).
    rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(newfstatat),
              {SCMP_A0_32(SCMP_CMP_MASKED_EQ, 0x80000000u, 0), SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)});
    rules.Add(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(newfstatat), {SCMP_A0_32(SCMP_CMP_MASKED_EQ, 0x80000000u, 0x80000000u)});
    rules.Add(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(newfstatat), {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0)});
    // Worker threads name themselves.
    rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)});
    // Opening files fails, so that a library's optional look-ups fail quietly.
    for (int call : {SCMP_SYS(open), SCMP_SYS(openat)}) rules.Add(SCMP_ACT_ERRNO(EACCES), call);
#endif
    if (pixelFile >= 0) {
        rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(pwrite64), {SCMP_A0_32(SCMP_CMP_EQ, static_cast<uint32_t>(pixelFile))});
    }
    rules.Add(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat2));
    // New threads only, never new processes: clone must carry CLONE_THREAD, and clone3, whose
    // flags a filter cannot see, reports itself missing so that the C library falls back to clone.
    rules.Add(SCMP_ACT_ALLOW, SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    rules.Add(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    // Terminal checks of the standard streams and other look-ups fail instead of killing.
    for (int call : {SCMP_SYS(ioctl), SCMP_SYS(access), SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(statx),
                     SCMP_SYS(faccessat), SCMP_SYS(faccessat2)}) {
        rules.Add(SCMP_ACT_ERRNO(EACCES), call);
    }
    int status = rules.status;
    if (status == 0) status = ExportProgram(filter, prepared.program);
    seccomp_release(filter);
    if (status != 0) {
        reason = std::string("the system-call filter could not be made: ") + std::strerror(-status);
        return -1;
    }
    return 0;
}

int EnterPreparedFilter(const PreparedFilter& prepared, std::string& reason) {
    struct sock_fprog program;
    program.len = static_cast<unsigned short>(prepared.program.size() / sizeof(struct sock_filter));
    program.filter = reinterpret_cast<struct sock_filter*>(const_cast<unsigned char*>(prepared.program.data()));
    if (program.len == 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
        reason = std::string("the system-call filter could not be loaded: ") +
                 std::strerror(program.len == 0 ? EINVAL : errno);
        return -1;
    }
    return 0;
}

int EnterEmptyWorld() {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC) != 0) return -1;
    // Mounts made here stay here; an empty file system, read-only, over a folder every system
    // has becomes the root.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return -1;
    for (const char* folder : {"/tmp", "/proc", "/dev"}) {
        unsigned long flags = MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC;
        if (mount("quarro-empty", folder, "tmpfs", flags, "size=4k,mode=0555") != 0) continue;
        if (chdir(folder) != 0 || chroot(".") != 0 || chdir("/") != 0) return -1;
        return 0;
    }
    return -1;
}

int EnterSyscallFilter(std::string& reason, int pixelFile) {
    PreparedFilter filter;
    if (PrepareSyscallFilter(pixelFile, filter, reason) != 0) return -1;
    return EnterPreparedFilter(filter, reason);
}
