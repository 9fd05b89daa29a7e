#include "image/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A destination that is a symbolic link is saved through the link, not replaced by a file.
std::string ResolveDestination(const std::string& destination) {
    struct stat info;
    if (lstat(destination.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return destination;
    char* resolved = realpath(destination.c_str(), nullptr);
    if (resolved == nullptr) return destination;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

mode_t NewFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::string FileExtension(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.substr(dot);
}

int CreateTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp) {
    temp = TempFile();
    std::string target = ResolveDestination(destination);
    size_t slash = target.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return -1;
    std::string pattern = folder + "." + base + ".XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return -1;
    temp.path = name.data();
    temp.fd = fd;
    return 0;
}

int CommitTempFile(TempFile& temp, const std::string& destination) {
    if (temp.fd < 0) return -1;
    std::string target = ResolveDestination(destination);
    struct stat info;
    mode_t mode = stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : NewFileMode();
    // Some file systems keep no permission bits; that alone does not fail the save.
    (void)fchmod(temp.fd, mode);
    bool ok = fsync(temp.fd) == 0;
    ok = close(temp.fd) == 0 && ok;
    temp.fd = -1;
    if (ok && std::rename(temp.path.c_str(), target.c_str()) == 0) {
        temp.path.clear();
        return 0;
    }
    DiscardTempFile(temp);
    return -1;
}

void DiscardTempFile(TempFile& temp) {
    if (temp.fd >= 0) close(temp.fd);
    temp.fd = -1;
    if (!temp.path.empty()) unlink(temp.path.c_str());
    temp.path.clear();
}

int ReplaceFileWithBytes(const std::string& destination, const void* data, size_t size, std::string& reason) {
    TempFile temp;
    if (CreateTempBeside(destination, FileExtension(destination), temp) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    const char* next = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t written = write(temp.fd, next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            reason = written < 0 ? std::strerror(errno) : "the file system took no more bytes";
            DiscardTempFile(temp);
            return -1;
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
    errno = 0;
    if (CommitTempFile(temp, destination) != 0) {
        reason = errno != 0 ? std::strerror(errno) : "the finished file could not be put in place";
        return -1;
    }
    return 0;
}
