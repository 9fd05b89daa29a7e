#include "decoder/supervise.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "decoder/protocol.h"

namespace {

[[noreturn]] void Report(int status) {
    SendDecodeStatus(kDecodeStatusDescriptor, status);
    _exit(0);
}

}  // namespace

void SuperviseDecoding() {
    if (fcntl(kDecodeStatusDescriptor, F_GETFD) < 0) return;
    pid_t supervisor = getpid();
    pid_t worker = fork();
    if (worker < 0) Report(kDecodeExitUsage << 8);
    if (worker == 0) {
        // The decoding process dies with its supervisor, and never holds the status socket.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != supervisor) _exit(kDecodeExitUsage);
        close(kDecodeStatusDescriptor);
        close(kDecodeHostDescriptor);
        return;
    }
    // The reply's socket is the decoding process's alone: its end is the reply's end.
    close(kDecodeChannelDescriptor);
    int ended = static_cast<int>(syscall(SYS_pidfd_open, worker, 0));
    // The program's own pidfd, when it handed one over: readable once the program has ended.
    int host = fcntl(kDecodeHostDescriptor, F_GETFD) >= 0 ? kDecodeHostDescriptor : -1;
    for (;;) {
        // The program writes on the status socket only to stop the decoding: any event there
        // means that, or that it has gone. A child it forked may keep the socket open after it
        // ends, so its end is also watched by its pidfd.
        struct pollfd events[3] = {{kDecodeStatusDescriptor, POLLIN, 0}, {host, POLLIN, 0}, {ended, POLLIN, 0}};
        int ready = poll(events, ended >= 0 ? 3 : 2, ended >= 0 ? -1 : 50);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (events[0].revents != 0 || events[1].revents != 0)) {
            kill(worker, SIGKILL);
            break;
        }
        int status;
        if (waitpid(worker, &status, WNOHANG) == worker) Report(status);
    }
    int status = 0;
    while (waitpid(worker, &status, 0) < 0 && errno == EINTR) {
    }
    Report(status);
}
