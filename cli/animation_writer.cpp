#include "cli/animation_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_name.h"
#include "files/write_all.h"

extern char** environ;

namespace {

struct Container {
    const char* extension;
    const char* muxer;
    bool evenSides;  // the codec stores 4:2:0 chroma, which needs even sides
};

// Codecs that every player of the container plays: H.264 in 4:2:0 for the video files, VP9
// for WebM; a GIF with a palette drawn from the frames themselves; lossy animated WebP. Each
// at its encoder's fastest setting, so that an animation keeps up with the renderer: a
// frame's palette is drawn from a quarter-size copy (as close to the frame, at a third less time).
const Container kContainers[] = {{".mp4", "mp4", true},     {".mov", "mov", true},   {".mkv", "matroska", true},
                                 {".webm", "webm", true},   {".gif", "gif", false},  {".webp", "webp", false}};

const Container* ContainerOf(const std::string& path) {
    std::string extension = LowerFileExtension(path);
    for (const Container& container : kContainers) {
        if (extension == container.extension) return &container;
    }
    return nullptr;
}

std::vector<std::string> CodecArguments(const Container& container) {
    const std::string muxer = container.muxer;
    if (muxer == "gif") {
        return {"-filter_complex",
                "[0:v]split[a][b];[a]scale=w=max(16\\,iw/4):h=max(16\\,ih/4):flags=area,"
                "palettegen=reserve_transparent=0:stats_mode=single[p];"
                "[b][p]paletteuse=new=1:dither=sierra2_4a",
                "-loop", "0"};
    }
    if (muxer == "webp") return {"-c:v", "libwebp_anim", "-lossless", "0", "-quality", "90", "-compression_level", "0", "-loop", "0"};
    if (muxer == "webm") {
        return {"-c:v", "libvpx-vp9", "-pix_fmt", "yuv420p", "-crf", "30", "-b:v", "0",
                "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1"};
    }
    std::vector<std::string> arguments = {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "18", "-pix_fmt", "yuv420p"};
    if (muxer != "matroska") {
        arguments.push_back("-movflags");
        arguments.push_back("+faststart");
    }
    return arguments;
}

// What the signal handler needs to clean up after the animation being written. Only plain
// data: the handler may run on any thread, between any two instructions.
std::atomic<pid_t> gActiveChild{-1};
char gActiveTemp[4096];
std::atomic<bool> gHandlersInstalled{false};
const int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPreviousActions[3];
struct sigaction gPreviousPipeAction;

void CleanUpAndResend(int signal) {
    pid_t child = gActiveChild.load();
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (gActiveTemp[0] != '\0') unlink(gActiveTemp);
    // Whatever was there before (the default, or another clean-up) handles the signal next.
    for (int i = 0; i < 3; ++i) {
        if (kCleanedSignals[i] == signal) sigaction(signal, &gPreviousActions[i], nullptr);
    }
    raise(signal);
}

void InstallHandlers() {
    struct sigaction action = {};
    action.sa_handler = CleanUpAndResend;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        // A signal the process ignores (SIGHUP under nohup) stays ignored.
        sigaction(kCleanedSignals[i], nullptr, &gPreviousActions[i]);
        if (gPreviousActions[i].sa_handler != SIG_IGN) sigaction(kCleanedSignals[i], &action, nullptr);
    }
    // A write to an ffmpeg that has died must fail with EPIPE instead of ending the process.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &gPreviousPipeAction);
    gHandlersInstalled.store(true);
}

void RestoreHandlers() {
    if (!gHandlersInstalled.exchange(false)) return;
    for (int i = 0; i < 3; ++i) sigaction(kCleanedSignals[i], &gPreviousActions[i], nullptr);
    sigaction(SIGPIPE, &gPreviousPipeAction, nullptr);
}

// Blocks the cleaned signals while the shared clean-up state changes.
class SignalGuard {
public:
    SignalGuard() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : kCleanedSignals) sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
    }
    ~SignalGuard() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

private:
    sigset_t previous;
};

// A new empty file ".NAME.XXXXXX.EXT" beside `destination`; its path, or "" on failure.
std::string CreateTempName(const std::string& destination, const std::string& extension) {
    size_t slash = destination.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? destination : destination.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX" + extension;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) return std::string();
    close(fd);
    return name.data();
}

std::string FormatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

bool IsAnimationPath(const std::string& path) { return ContainerOf(path) != nullptr; }

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

CAnimationWriter::~CAnimationWriter() { Abort(); }

int CAnimationWriter::Open(const std::string& path, int frameWidth, int frameHeight, double fps, std::string& reason) {
    const Container* container = ContainerOf(path);
    if (container == nullptr) {
        reason = "not an animation file name (.mp4 .webm .mkv .mov .gif .webp)";
        return -1;
    }
    std::string program = FindFfmpeg(reason);
    if (program.empty()) return -1;
    destination = path;
    width = frameWidth;
    height = frameHeight;
    paddedWidth = container->evenSides ? width + width % 2 : width;
    paddedHeight = container->evenSides ? height + height % 2 : height;

    std::string extension = FileExtension(path);
    FILE* log = std::tmpfile();
    int pipeFds[2] = {-1, -1};
    if (log == nullptr || pipe2(pipeFds, O_CLOEXEC) != 0) {
        reason = std::strerror(errno);
        if (log != nullptr) std::fclose(log);
        return -1;
    }
    logFd = fcntl(fileno(log), F_DUPFD_CLOEXEC, 3);
    std::fclose(log);
    pipeFd = pipeFds[1];

    std::vector<std::string> arguments = {program, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                                          "-f", "rawvideo", "-pix_fmt", "rgba",
                                          "-video_size", std::to_string(paddedWidth) + "x" + std::to_string(paddedHeight),
                                          "-framerate", FormatNumber(fps), "-i", "pipe:0"};
    for (const std::string& argument : CodecArguments(*container)) arguments.push_back(argument);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);  // ignored here for the pipe's sake; caught signals reset on exec
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    int status = 0;
    bool noTemp = false;
    {
        SignalGuard guard;
        tempPath = CreateTempName(destination, extension);
        if (tempPath.empty()) {
            status = errno != 0 ? errno : EIO;
            noTemp = true;
        } else {
            // "file:" keeps a name with a colon or a leading dash from reading as anything else.
            arguments.insert(arguments.end(), {"-f", container->muxer, "file:" + tempPath});
            std::vector<char*> argv;
            for (std::string& argument : arguments) argv.push_back(&argument[0]);
            argv.push_back(nullptr);
            std::snprintf(gActiveTemp, sizeof gActiveTemp, "%s", tempPath.c_str());
            InstallHandlers();
            pid_t pid = -1;
            status = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
            if (status == 0) {
                child = pid;
                gActiveChild.store(pid);
            }
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[0]);
    if (status != 0) {
        reason = std::string(noTemp ? "no temporary file could be made beside it: " : "ffmpeg could not be started: ") +
                 std::strerror(status);
        Abort();
        return -1;
    }
    return 0;
}

int CAnimationWriter::WriteFrame(const CPixelImage& frame, std::string& reason) {
    if (pipeFd < 0) {
        reason = "the animation is not open";
        return -1;
    }
    if (frame.width != width || frame.height != height || frame.bytesPerPixel != 4 || frame.IsEmpty()) {
        reason = "a frame's size differs from the animation's";
        return -1;
    }
    const unsigned char* bytes = frame.pixels;
    size_t size = frame.ByteCount();
    if (paddedWidth != width || paddedHeight != height) {
        // The extra column and row repeat the frame's last ones, so no edge of another colour
        // bleeds in when a player scales the picture.
        const size_t row = static_cast<size_t>(width) * 4, paddedRow = static_cast<size_t>(paddedWidth) * 4;
        padded.resize(paddedRow * static_cast<size_t>(paddedHeight));
        for (int y = 0; y < paddedHeight; ++y) {
            const unsigned char* from = frame.pixels + static_cast<size_t>(std::min(y, height - 1)) * row;
            unsigned char* to = padded.data() + static_cast<size_t>(y) * paddedRow;
            std::memcpy(to, from, row);
            if (paddedWidth != width) std::memcpy(to + row, from + row - 4, 4);
        }
        bytes = padded.data();
        size = padded.size();
    }
    if (WriteAll(pipeFd, bytes, size)) return 0;
    std::string stopped;
    Stop(stopped);
    reason = "ffmpeg stopped taking frames: " + stopped;
    return -1;
}

int CAnimationWriter::Stop(std::string& reason) {
    if (pipeFd >= 0) close(pipeFd);
    pipeFd = -1;
    if (child <= 0) return -1;
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    {
        SignalGuard guard;
        child = -1;
        gActiveChild.store(-1);
    }
    if (reaped > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    std::string words = LastWords();
    if (!words.empty()) {
        reason = words;
    } else if (WIFSIGNALED(status)) {
        reason = std::string("ffmpeg was ended by signal ") + std::to_string(WTERMSIG(status));
    } else {
        reason = "ffmpeg failed with exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return -1;
}

std::string CAnimationWriter::LastWords() const {
    if (logFd < 0) return std::string();
    std::string text;
    char buffer[4096];
    ssize_t got;
    off_t offset = 0;
    while ((got = pread(logFd, buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t lineStart = text.find_last_of('\n');
    return lineStart == std::string::npos ? text : text.substr(lineStart + 1);
}

int CAnimationWriter::Finish(std::string& reason) {
    if (child <= 0) {
        reason = "the animation is not open";
        Abort();
        return -1;
    }
    std::string stopped;
    if (Stop(stopped) != 0) {
        reason = "ffmpeg failed: " + stopped;
        Abort();
        return -1;
    }
    // The file gets the permissions of the file it replaces, or those of any new file.
    struct stat existing;
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = stat(destination.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
    int fd = open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) (void)fchmod(fd, mode);  // some file systems keep no permission bits
    if (fd >= 0) close(fd);
    struct stat info;
    ok = ok && stat(tempPath.c_str(), &info) == 0 && info.st_size > 0;
    if (ok) {
        SignalGuard guard;
        ok = std::rename(tempPath.c_str(), destination.c_str()) == 0;
        if (ok) {
            tempPath.clear();
            gActiveTemp[0] = '\0';
        }
    }
    if (!ok) {
        reason = std::string("the finished animation could not be put in place: ") + std::strerror(errno);
        Abort();
        return -1;
    }
    Abort();  // nothing left to stop or remove: restores the signal handling and closes the log
    return 0;
}

void CAnimationWriter::Abort() {
    if (pipeFd >= 0) close(pipeFd);
    pipeFd = -1;
    if (child > 0) {
        kill(child, SIGKILL);
        std::string ignored;
        Stop(ignored);
    }
    SignalGuard guard;
    if (!tempPath.empty()) unlink(tempPath.c_str());
    tempPath.clear();
    gActiveTemp[0] = '\0';
    RestoreHandlers();
    if (logFd >= 0) close(logFd);
    logFd = -1;
}
