#include "files/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

const char* FileKindName(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

namespace {

bool IsRegularFile(const struct stat& info, std::string& reason) {
    if (S_ISREG(info.st_mode)) return true;
    reason = std::string("is ") + FileKindName(info.st_mode) + ", not a regular file";
    return false;
}

}  // namespace

int OpenInputFile(const std::string& path, std::string& reason) {
    // The kind is known before the open, so that no device or FIFO is ever opened; O_NONBLOCK
    // keeps the open from waiting should the path be swapped for one in between, and the
    // descriptor's own kind is checked again.
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (!IsRegularFile(info, reason)) return -1;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    int flags = -1;
    if (fstat(fd, &info) != 0 || (flags = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        reason = std::strerror(errno);
    } else if (IsRegularFile(info, reason)) {
        return fd;
    }
    close(fd);
    return -1;
}
