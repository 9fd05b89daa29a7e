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

int OpenInputFile(const std::string& path, std::string& reason) {
    // O_NONBLOCK keeps the open itself from waiting for a FIFO's writer or a device.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = std::string("is ") + FileKindName(info.st_mode) + ", not a regular file";
        close(fd);
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}
