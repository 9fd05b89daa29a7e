// Starting the decoding helper so that the host never meets it: it is not the host's child,
// so the host's wait()/waitpid(-1) and its SIGCHLD handling neither find it nor steal its
// status. The helper reports how its decoding ended on a status socket of its own.
#pragma once

#include <chrono>
#include <string>

// A started helper: our end of its status socket. A byte on it, or its closing, stops the
// helper; so does the end of this process (the helper watches a pidfd of it).
struct HelperProcess {
    HelperProcess() = default;
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;
    int status = -1;
    // A pidfd of the helper's supervisor where the kernel gives one, else -1: readable once it
    // has ended, whoever else holds its end of the status socket (a child the host forked).
    int pidfd = -1;
};

// Starts `program` with no arguments and an empty environment, `channel` on descriptor 3, the
// status socket on 4, /dev/null on 0 to 2, nothing else open, every signal at its default and
// none blocked. Returns once the program runs: 0, or -1 with a reason naming the program.
int StartHelperProcess(const std::string& program, int channel, HelperProcess& process, std::string& reason);

// Waits for the helper's report until `deadline`, when the helper is stopped and `timedOut`
// set. The decoding process's wait status, as waitpid gives it; a helper that vanished without
// a report counts as killed (SIGKILL).
int WaitHelperProcess(HelperProcess& process, std::chrono::steady_clock::time_point deadline, bool& timedOut);

// Stops the helper: it kills its decoding process once a byte comes on the status socket.
void StopHelperProcess(HelperProcess& process);
