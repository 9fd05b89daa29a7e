#include "files/writable_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int CheckTargetWritable(const std::string& path, std::string& reason) {
    // The effective identity is the one open() judges by.
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT) return 0;
    const int error = errno;
    reason = std::string("the file may not be written: ") + std::strerror(error);
    errno = error;
    return -1;
}

int OpenTargetForWriting(const std::string& path, int& fd, struct stat& info) {
    fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A FIFO without a reader is no file to keep; it is replaced by name as before.
        if (errno != ENOENT && errno != ENXIO) return -1;
        fd = -1;
        return 0;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        fd = -1;
    }
    return 0;
}
