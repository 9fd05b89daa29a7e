// Runs a program as a child process for tests that signal it, limit it or time it: its two
// output streams go to files, a set-up may run in the child before exec (file-size limit,
// ignored signals, an ordinary user), and a child that hangs is killed after a generous time-out.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/ordinary_user.h"

struct ChildSetup {
    long fileSizeLimit = -1;      // RLIMIT_FSIZE in bytes, -1 for none
    bool ignoreFileSizeSignal = false;  // SIGXFSZ ignored, so a write past the limit fails with EFBIG
    std::vector<std::string> environment;  // "NAME=value" entries added to the child's environment
    bool ordinaryUser = false;  // run as an ordinary user: as nobody when the test runs as root
};

struct ChildResult {
    bool exited = false;    // ended by exit(); `status` holds its status
    int status = -1;
    int signal = 0;         // the signal that ended it, 0 if none
    bool timedOut = false;  // still running at the time-out and killed
    double seconds = 0;     // from start to end
    std::string out, err;
};

class ChildProcess {
public:
    // Starts `args` (the program first) in folder `cwd`; the streams go to files in `logFolder`.
    ChildProcess(const std::vector<std::string>& args, const std::string& cwd, const std::string& logFolder,
                 const ChildSetup& setup = ChildSetup())
        : outPath(logFolder + "/child.out"), errPath(logFolder + "/child.err") {
        // Everything the child needs is made before fork: after it, only async-signal-safe calls.
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        for (char** e = environ; *e != nullptr; ++e) environment.push_back(*e);
        environment.insert(environment.end(), setup.environment.begin(), setup.environment.end());
        std::vector<char*> envp;
        for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        uid_t uid = 0;
        gid_t gid = 0;
        std::string whyNot;
        const bool dropRoot = setup.ordinaryUser && geteuid() == 0 && OrdinaryUserIds(uid, gid, whyNot);
        start = std::chrono::steady_clock::now();
        pid = fork();
        if (pid != 0) return;
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        if (setup.ignoreFileSizeSignal) signal(SIGXFSZ, SIG_IGN);
        if (setup.fileSizeLimit >= 0) {
            rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        if (dropRoot && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ~ChildProcess() {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Signal(int number) const { kill(pid, number); }

    // True once the child has ended (not reaped: Wait still reports it).
    bool HasEnded() const {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
    }

    // Waits up to `timeoutSeconds` for the end; a child still running then is killed and
    // reported as timed out.
    ChildResult Wait(double timeoutSeconds = 300) {
        ChildResult result;
        int raw = 0;
        auto deadline = start + std::chrono::duration<double>(timeoutSeconds);
        while (waitpid(pid, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                result.timedOut = true;
                kill(pid, SIGKILL);
                waitpid(pid, &raw, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        reaped = true;
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.exited = WIFEXITED(raw);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        result.out = Slurp(outPath);
        result.err = Slurp(errPath);
        return result;
    }

    pid_t pid = -1;

private:
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string outPath, errPath;
    std::vector<std::string> environment;
    std::chrono::steady_clock::time_point start;
    bool reaped = false;
};
