// The decoding helper's confinement, applied to itself once the file is open and read: limits
// on CPU time and address space, and a system-call filter that leaves it able to compute, use
// memory and write its reply, and nothing else (no opening files, no sockets, no new programs).
#pragma once

#include <string>
#include <vector>

// True in AddressSanitizer and ThreadSanitizer builds, whose shadow memory cannot live under
// an address-space limit and whose runtime needs a few more system calls.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUARRO_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUARRO_SANITIZED_BUILD 1
#endif
#endif

// SIGXCPU after `seconds` of CPU time, SIGKILL a second later. 0 or -1.
int LimitCpuTime(int seconds);
// Allocations beyond `bytes` of address space fail. Does nothing in sanitizer builds. 0 or -1.
int LimitAddressSpace(long long bytes);
// No core file ever: RLIMIT_CORE 0 and the process not dumpable. 0 or -1.
int LimitCoreDumps();
// The filter: a call outside it kills the process with SIGSYS, except opening files and other
// path look-ups, which fail with EACCES so that a library's optional look-ups fail quietly.
// Signals go to the process's own threads only; no memory becomes executable; fcntl only
// queries. Positioned writes go to `pixelFile` alone (the pixels' memory file), when it is a
// descriptor. It is made ahead of need, by the process it is to confine, while the helper waits
// for its picture, and entered once the picture is at hand.
struct PreparedFilter {
    std::vector<unsigned char> program;  // the filter's instructions, as the kernel takes them
};
// An empty world, entered before the filter: new user, mount, network and IPC namespaces whose
// root is an empty read-only folder, so that no path names anything, whatever call looks it up
// (the filter cannot see a path: newfstatat(fd, "/etc/shadow", AT_EMPTY_PATH) passes it). The
// process must have one thread. 0, or -1 where the kernel refuses (namespaces not built in or
// forbidden to users): the filter then stands alone.
int EnterEmptyWorld();
// 0, or -1 and a reason.
int PrepareSyscallFilter(int pixelFile, PreparedFilter& filter, std::string& reason);
// 0, or -1 and a reason.
int EnterPreparedFilter(const PreparedFilter& filter, std::string& reason);
// Both at once. 0, or -1 and a reason.
int EnterSyscallFilter(std::string& reason, int pixelFile = -1);
