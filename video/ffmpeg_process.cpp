#include "video/ffmpeg_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "files/pending_temps.h"

extern char** environ;

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A copy numbered 10 or above with close-on-exec, so that no fixed child number (0 to 3) is
// taken by a descriptor about to be put there; the original is closed.
int HighCopy(int fd) {
    if (fd < 0) return -1;
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    int saved = errno;
    close(fd);
    errno = saved;
    return copy;
}

// A file in memory that the child writes its messages or its listing to.
int MemoryFile(const char* name) { return HighCopy(memfd_create(name, MFD_CLOEXEC)); }

std::string ReadMemoryFile(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    off_t offset = 0;
    while ((got = pread(fd, buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

// The last line the child wrote to its standard error.
std::string LastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    size_t lineStart = text.find_last_of("\r\n");
    return lineStart == std::string::npos ? text : text.substr(lineStart + 1);
}

// Starts `program` with descriptors 0, 1, 2 and (when given) kFfmpegOutputDescriptor, in a
// process group of its own and with the default handling of every signal it may meet.
int Spawn(const std::string& program, const std::vector<std::string>& arguments, int in, int out, int err,
          int output, pid_t& pid) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, kFfmpegOutputDescriptor);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result;
}

// The child's CPU time so far in clock ticks (all its threads), or -1 without /proc.
long long CpuTicks(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[1024];
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return -1;
    text[got] = '\0';
    // The program name in parentheses may hold spaces: the fields are counted after it.
    const char* after = std::strrchr(text, ')');
    unsigned long long user = 0, system = 0;
    if (after == nullptr || std::sscanf(after + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                                        &system) != 2) {
        return -1;
    }
    return static_cast<long long>(user + system);
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

std::string FindOnPath(const std::string& program) {
    const char* variable = std::getenv("PATH");
    std::string path = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = path.find(':', start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

std::string FindFfmpeg(std::string& reason) {
    std::string program = FindOnPath("ffmpeg");
    if (program.empty()) {
        reason = "animations are written by the ffmpeg program, which is not installed; install it with: "
                 "apt-get install ffmpeg";
    }
    return program;
}

int ListEncoders(const std::string& program, std::vector<std::string>& encoders, std::string& reason) {
    // Asked once per program and process: the answer does not change while it runs.
    static std::mutex cacheMutex;
    static std::map<std::string, std::vector<std::string>> cache;
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto cached = cache.find(program);
    if (cached != cache.end()) {
        encoders = cached->second;
        return 0;
    }
    int listing = MemoryFile("ffmpeg encoders"), messages = MemoryFile("ffmpeg messages");
    int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t pid = -1;
    int result = listing < 0 || messages < 0 || nothing < 0 ? errno
                                                           : Spawn(program, {"-hide_banner", "-encoders"}, nothing, listing,
                                                                   messages, -1, pid);
    int status = 0;
    // A listing takes a few milliseconds; ten seconds means the program is not the one meant.
    for (int waited = 0; result == 0 && waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        if (waited >= 10000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    std::string text = result == 0 ? ReadMemoryFile(listing) : std::string();
    std::string words = messages >= 0 ? LastLine(ReadMemoryFile(messages)) : std::string();
    for (int fd : {listing, messages, nothing}) {
        if (fd >= 0) close(fd);
    }
    if (result != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        reason = "the encoders of " + program + " could not be listed: " +
                 (result != 0 ? std::strerror(result) : words.empty() ? "it failed" : words);
        return -1;
    }
    // Each encoder is a line of six capability letters and its name, after a line of dashes.
    std::vector<std::string> names;
    size_t at = text.find("------");
    while (at != std::string::npos && (at = text.find('\n', at)) != std::string::npos) {
        ++at;
        char flags[16], name[128];
        if (std::sscanf(text.c_str() + at, " %15s %127s", flags, name) == 2 && std::strlen(flags) == 6) names.push_back(name);
    }
    cache[program] = names;
    encoders = names;
    return 0;
}

CFfmpegProcess::~CFfmpegProcess() { Kill(); }

int CFfmpegProcess::Start(const std::string& program, const std::vector<std::string>& arguments, int outputFd,
                          double stall, std::string& reason) {
    int ends[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    int theirs = HighCopy(ends[1]);
    input = HighCopy(ends[0]);
    log = MemoryFile("ffmpeg messages");
    int output = outputFd >= 0 ? fcntl(outputFd, F_DUPFD_CLOEXEC, 10) : -1;
    int result = theirs < 0 || input < 0 || log < 0 || (outputFd >= 0 && output < 0) ? errno : 0;
    if (result == 0) result = Spawn(program, arguments, theirs, -1, log, output, child);
    if (theirs >= 0) close(theirs);
    if (output >= 0) close(output);
    if (result != 0) {
        reason = "ffmpeg could not be started: " + std::string(std::strerror(result));
        child = -1;
        Kill();
        return -1;
    }
    childSlot = RegisterPendingChild(child);
    exitFd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    stallSeconds = stall;
    stalled = false;
    lastTicks = CpuTicks(child);
    lastSign = Now();
    return 0;
}

void CFfmpegProcess::MarkAlive() {
    lastSign = Now();
    lastTicks = CpuTicks(child);
}

bool CFfmpegProcess::Stalled(std::string& reason) {
    if (child <= 0) return false;
    long long ticks = CpuTicks(child);
    if (ticks != lastTicks) {
        lastTicks = ticks;
        lastSign = Now();
    }
    if (Now() - lastSign < stallSeconds) return false;
    kill(child, SIGKILL);
    Reaped(-1);
    stalled = true;
    reason = "ffmpeg took no frame and used no CPU time for " + Seconds(stallSeconds) + " s, and was stopped";
    return true;
}

bool CFfmpegProcess::Reaped(int milliseconds) {
    if (child <= 0) return true;
    if (exitFd >= 0) {
        struct pollfd ended = {exitFd, POLLIN, 0};
        while (poll(&ended, 1, milliseconds) < 0 && errno == EINTR) {
        }
    }
    siginfo_t info;
    info.si_pid = 0;
    int options = WEXITED | WNOWAIT | (milliseconds < 0 ? 0 : WNOHANG);
    while (waitid(P_PID, static_cast<id_t>(child), &info, options) != 0 && errno == EINTR) {
    }
    if (info.si_pid != child) {
        if (exitFd < 0 && milliseconds > 0) usleep(static_cast<useconds_t>(std::min(milliseconds, 20)) * 1000);
        return false;
    }
    // Out of the signal table while it is still a zombie, whose number no other process can have.
    ReleasePendingChild(childSlot);
    childSlot = -1;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    child = -1;
    if (exitFd >= 0) close(exitFd);
    exitFd = -1;
    return true;
}

int CFfmpegProcess::Write(const void* data, size_t size, std::string& reason) {
    if (input < 0 || child <= 0) {
        reason = "ffmpeg is not running";
        return -1;
    }
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(input, next, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            next += sent;
            size -= static_cast<size_t>(sent);
            MarkAlive();
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd writable = {input, POLLOUT, 0};
            if (poll(&writable, 1, 250) == 0 && Stalled(reason)) return -1;
            continue;
        }
        // The child closed its input: it has ended, or is about to.
        if (Wait(reason) == 0) reason = "ffmpeg ended before it had taken every frame";
        return -1;
    }
    return 0;
}

int CFfmpegProcess::Wait(std::string& reason) {
    if (input >= 0) close(input);
    input = -1;
    MarkAlive();
    while (!Reaped(250)) {
        if (Stalled(reason)) return -1;
    }
    if (stalled) return -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    std::string words = log >= 0 ? LastLine(ReadMemoryFile(log)) : std::string();
    if (!words.empty()) {
        reason = words;
    } else if (WIFSIGNALED(status)) {
        reason = "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    } else {
        reason = "ffmpeg failed with exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return -1;
}

void CFfmpegProcess::Kill() {
    if (input >= 0) close(input);
    input = -1;
    if (child > 0) {
        kill(child, SIGKILL);
        Reaped(-1);
    }
    if (log >= 0) close(log);
    log = -1;
}
