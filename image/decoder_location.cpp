#include "image/decoder_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "files/printable_name.h"

namespace {

// Whether an entry of this owner and mode could be replaced by a user other than this one.
// `folder`: a sticky folder may be writable by all, since only an entry's owner removes it.
bool OthersMayChange(const struct stat& info, bool folder) {
    if (info.st_uid != 0 && info.st_uid != geteuid()) return true;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0) return false;
    return !(folder && (info.st_mode & S_ISVTX) != 0 && info.st_uid == 0);
}

}  // namespace

std::string DecoderBesideProgram(const std::string& relative) {
    char* self = realpath("/proc/self/exe", nullptr);
    if (self == nullptr) return "";
    std::filesystem::path program(self);
    std::free(self);
    return (program.parent_path() / relative).lexically_normal().string();
}

namespace {

struct Opened {
    explicit Opened(int fd) : fd(fd) {}
    ~Opened() {
        if (fd >= 0) close(fd);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    int fd;
};

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens and checks the program at `path`: its descriptor (O_PATH), or -1 with a reason.
int OpenChecked(const std::string& path, std::string& reason) {
    const std::string named = "the decoder program " + PrintableName(path);
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        int error = errno;
        reason = named + (error == ENOENT || error == ENOTDIR ? " was not found" : " cannot be looked at: " +
                                                                                       std::string(std::strerror(error)));
        return -1;
    }
    std::filesystem::path real(resolved);
    std::free(resolved);
    // Whatever the path names from now on, the program is this file.
    Opened program(open(real.c_str(), O_PATH | O_CLOEXEC | O_NOFOLLOW));
    struct stat info;
    if (program.fd < 0 || fstat(program.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        faccessat(program.fd, "", X_OK, AT_EMPTY_PATH | AT_EACCESS) != 0) {
        reason = named + " is not executable";
        return -1;
    }
    if (OthersMayChange(info, false)) {
        reason = named + " is refused: other users could change it";
        return -1;
    }
    // The folder that holds it, found by its name, must hold this very file; then each folder
    // up to the root, by "..", so that the folders checked are those the file is in.
    std::filesystem::path name = real.parent_path();
    Opened folder(open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat entry;
    if (folder.fd < 0 || fstatat(folder.fd, real.filename().c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(entry, info)) {
        reason = named + " changed while it was being checked";
        return -1;
    }
    for (;;) {
        struct stat here, up;
        if (fstat(folder.fd, &here) != 0 || OthersMayChange(here, true)) {
            reason = named + " is refused: other users could change the folder " + PrintableName(name.string());
            return -1;
        }
        int parent = openat(folder.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (parent < 0 || fstat(parent, &up) != 0 || SameFile(up, here)) {
            if (parent >= 0) close(parent);
            break;
        }
        close(folder.fd);
        folder.fd = parent;
        name = name.parent_path();
    }
    int fd = program.fd;
    program.fd = -1;
    return fd;
}

// The programs checked so far: descriptor, device and inode. A host may close descriptors it
// did not open; one that no longer names the file checked is looked at afresh.
struct Checked {
    int fd;
    struct stat file;
};
std::mutex gCheckedMutex;
std::map<std::string, Checked> gChecked;

}  // namespace

int CheckDecoderProgram(const std::string& path, std::string& reason) {
    int fd = OpenChecked(path, reason);
    if (fd < 0) return -1;
    close(fd);
    return 0;
}

int CheckedDecoderProgram(const std::string& path, int& descriptor, std::string& reason) {
    std::lock_guard<std::mutex> lock(gCheckedMutex);
    auto known = gChecked.find(path);
    struct stat now;
    if (known != gChecked.end() && fstat(known->second.fd, &now) == 0 && SameFile(now, known->second.file)) {
        descriptor = known->second.fd;
        return 0;
    }
    if (known != gChecked.end()) gChecked.erase(known);  // its number may be another file's now: left alone
    int fd = OpenChecked(path, reason);
    if (fd < 0) return -1;
    Checked checked{fd, {}};
    fstat(fd, &checked.file);
    gChecked[path] = checked;
    descriptor = fd;
    return 0;
}
