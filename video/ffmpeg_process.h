// The ffmpeg program run as a supervised child: fed on a socket, its messages kept in memory,
// its output written through a descriptor it is handed, and stopped when it stalls. A stall
// is a deadline passed without a byte taken or a moment of CPU time used, so a slow encoder
// at work is never mistaken for a stuck one.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The full path of an executable `program` on PATH, or "" when there is none.
std::string FindOnPath(const std::string& program);

// The ffmpeg program's path; "" with a reason that says how to install it when it is missing.
std::string FindFfmpeg(std::string& reason);

// The encoders `program` offers ("libx264", "gif", ...), as its -encoders list names them.
// 0, or -1 with a reason when the list could not be had.
int ListEncoders(const std::string& program, std::vector<std::string>& encoders, std::string& reason);

// The descriptor number the child sees its output on: "file:/proc/self/fd/3" names it.
const int kFfmpegOutputDescriptor = 3;

class CFfmpegProcess {
public:
    CFfmpegProcess() = default;
    // Kills a child still running.
    ~CFfmpegProcess();
    CFfmpegProcess(const CFfmpegProcess&) = delete;
    CFfmpegProcess& operator=(const CFfmpegProcess&) = delete;

    // Starts `program` with `arguments` (argv[1] on), its standard input our socket, its
    // output descriptor `outputFd` as kFfmpegOutputDescriptor (-1 for none), in a process
    // group of its own so that a terminal's Ctrl+C reaches it only through us. 0, or -1.
    int Start(const std::string& program, const std::vector<std::string>& arguments, int outputFd,
              double stallSeconds, std::string& reason);
    // Hands `size` bytes to the child's input. 0, or -1 with a reason: the child's last words
    // when it stopped reading and ended, or the stall when it was stopped for one.
    int Write(const void* data, size_t size, std::string& reason);
    // Ends the input and waits for the child, stopping it if it stalls. 0 when it exited with
    // status 0; -1 with a reason otherwise.
    int Wait(std::string& reason);
    // Kills and reaps the child, if any.
    void Kill();

    pid_t Pid() const { return child; }

private:
    // Reaps the child once it has ended (waiting up to `milliseconds`): true if it has.
    bool Reaped(int milliseconds);
    // True (with the child killed and `reason` set) when the stall deadline has passed.
    bool Stalled(std::string& reason);
    void MarkAlive();

    pid_t child = -1;
    int childSlot = -1;  // in the signal clean-up table
    int input = -1;      // our end of the socket
    int log = -1;        // the child's standard error, in memory
    int exitFd = -1;     // readable once the child has ended (-1 without pidfd support)
    int status = 0;      // the reaped child's wait status
    double stallSeconds = 30;
    double lastSign = 0;      // when the child last took a byte or used the CPU
    long long lastTicks = -1; // the child's CPU time then
    bool stalled = false;
};
