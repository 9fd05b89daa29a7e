#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "files/file_name.h"
#include "files/in_place_write.h"
#include "files/pending_temps.h"
#include "files/writable_target.h"
#include "files/write_all.h"

namespace {

mode_t NewFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// Gives the finished file `fd` the owner, group and mode of the file it replaces (`earlier`,
// null when there is none: then the mode a new file would get). False when the owner or group
// cannot be given, as an ordinary user cannot give away a file; some file systems keep no
// permission bits, which alone does not fail the save.
bool TakeOverIdentity(int fd, const struct stat* earlier) {
    bool owned = true;
    struct stat info;
    if (earlier != nullptr && fstat(fd, &info) == 0 && (info.st_uid != earlier->st_uid || info.st_gid != earlier->st_gid)) {
        owned = fchown(fd, earlier->st_uid, earlier->st_gid) == 0;
    }
    // After fchown, which clears the set-user-ID and set-group-ID bits.
    (void)fchmod(fd, earlier != nullptr ? (earlier->st_mode & 07777) : NewFileMode());
    return owned;
}

// Six random letters or digits for a temporary name.
std::string RandomTag() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6];
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        unsigned long seed = static_cast<unsigned long>(std::time(nullptr)) ^ static_cast<unsigned long>(getpid()) << 16 ^
                             static_cast<unsigned long>(clock());
        for (unsigned char& byte : random) byte = static_cast<unsigned char>(seed = seed * 6364136223846793005UL + 1);
    }
    std::string tag;
    for (unsigned char byte : random) tag += kLetters[byte % (sizeof kLetters - 1)];
    return tag;
}

// ".NAME.XXXXXX" plus `suffix` beside the target, NAME shortened until the name fits the
// file system's limits; "" when even a one-letter NAME would not fit.
std::string TempNameBeside(const std::string& target, const std::string& suffix) {
    size_t slash = target.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string kept = suffix.size() <= 16 ? suffix : std::string();
    size_t fixed = 1 + 1 + 6 + kept.size();  // the two dots, the tag and the suffix
    size_t room = NAME_MAX > fixed ? NAME_MAX - fixed : 0;
    if (folder.size() + fixed + room >= PATH_MAX) room = PATH_MAX > folder.size() + fixed + 1 ? PATH_MAX - 1 - folder.size() - fixed : 0;
    if (room == 0 || base.empty()) return "";
    if (base.size() > room) base.resize(room);
    return folder + "." + base + "." + RandomTag() + kept;
}

bool WriteContent(int fd, const char* data, size_t size, std::string& reason) {
    if (WriteAll(fd, data, size)) return true;
    reason = std::strerror(errno);
    return false;
}

// Flushes the folder's entry for the renamed file. File systems that cannot flush a folder
// (EINVAL) keep their entries by other means.
int SyncFolder(const std::string& target) {
    int fd = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int result = fsync(fd) == 0 || errno == EINVAL ? 0 : -1;
    int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

// Gives the complete unnamed file `fd` the target's name: linked straight to the target when
// there is none, otherwise linked to a recorded temporary name that is renamed over it.
// 0, or -1 with errno set.
int LinkIntoPlace(int fd, const std::string& target) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    auto linkTo = [&](const std::string& name) {
        if (linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
        if (errno != ENOENT) return -1;
        // No /proc: a descriptor can be linked directly by a process allowed to.
        return linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
    };
    if (linkTo(target) == 0) return 0;
    if (errno != EEXIST) return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempNameBeside(target, FileExtension(target));
        if (name.empty()) {
            errno = ENAMETOOLONG;
            return -1;
        }
        // Recorded before it exists, so that no moment leaves a named file unrecorded.
        int slot = RegisterPendingTemp(name.c_str());
        if (linkTo(name) != 0) {
            int saved = errno;
            ReleasePendingTemp(slot);
            errno = saved;
            if (saved == EEXIST) continue;
            return -1;
        }
        int result = rename(name.c_str(), target.c_str());
        int saved = errno;
        if (result != 0) unlink(name.c_str());
        ReleasePendingTemp(slot);
        errno = saved;
        return result;
    }
    errno = EEXIST;
    return -1;
}

// Copies everything written to `fd` into a new named temporary file beside `target`, for a
// file system that makes unnamed files but cannot give them a name. 0, or -1 with errno set.
int CopyToNamedTemp(int fd, const std::string& target, TempFile& named) {
    if (CreateTempBeside(target, FileExtension(target), named) != 0) return -1;
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        ssize_t got = pread(fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) return 0;
        if (got < 0 || !WriteAll(named.fd, buffer, static_cast<size_t>(got))) {
            int saved = errno;
            DiscardTempFile(named);
            errno = saved;
            return -1;
        }
        offset += got;
    }
}

// Discards the temporary file and fails, keeping errno.
int DiscardAndFail(TempFile& temp) {
    int saved = errno;
    DiscardTempFile(temp);
    errno = saved;
    return -1;
}

}  // namespace

bool UnnamedTempFilesAllowed() {
    const char* named = std::getenv("QUARRO_NAMED_TEMP_FILES");
    return named == nullptr || std::strcmp(named, "1") != 0;
}

std::string ResolveDestination(const std::string& destination) {
    struct stat info;
    if (lstat(destination.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return destination;
    char* resolved = realpath(destination.c_str(), nullptr);
    if (resolved == nullptr) return destination;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

int CreateTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp) {
    temp = TempFile();
    std::string target = ResolveDestination(destination);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempNameBeside(target, suffix);
        if (name.empty()) {
            errno = target.empty() || target.back() == '/' ? EISDIR : ENAMETOOLONG;
            return -1;
        }
        // Recorded before it exists, so that no moment leaves a named file unrecorded.
        int slot = RegisterPendingTemp(name.c_str());
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            int saved = errno;
            ReleasePendingTemp(slot);
            errno = saved;
            if (saved == EEXIST) continue;
            return -1;
        }
        temp.path = name;
        temp.fd = fd;
        temp.slot = slot;
        return 0;
    }
    errno = EEXIST;
    return -1;
}

int OpenTempBeside(const std::string& destination, const std::string& suffix, TempFile& temp) {
    temp = TempFile();
    std::string target = ResolveDestination(destination);
    if (UnnamedTempFilesAllowed()) {
        temp.fd = open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (temp.fd >= 0) return 0;
    }
    return CreateTempBeside(target, suffix, temp);
}

int CommitTempFile(TempFile& temp, const std::string& destination, FolderFlush folder) {
    if (temp.fd < 0) {
        errno = EBADF;
        return -1;
    }
    std::string target = ResolveDestination(destination);
    // The earlier file is opened for writing: a file that may not be written is not replaced.
    int earlierFd = -1;
    struct stat earlier;
    if (OpenTargetForWriting(target, earlierFd, earlier) != 0) return DiscardAndFail(temp);
    const struct stat* kept = earlierFd >= 0 ? &earlier : nullptr;
    // A file that other hard links name, or whose owner a new file cannot have, keeps its inode:
    // the finished content is written into it.
    if (!TakeOverIdentity(temp.fd, kept) || (kept != nullptr && earlier.st_nlink > 1)) {
        int result = OverwriteInPlace(earlierFd, temp.fd);
        int saved = errno;
        close(earlierFd);
        DiscardTempFile(temp);
        errno = saved;
        return result;
    }
    if (earlierFd >= 0) close(earlierFd);
    if (fsync(temp.fd) != 0) return DiscardAndFail(temp);
    if (temp.path.empty()) {
        if (LinkIntoPlace(temp.fd, target) == 0) {
            DiscardTempFile(temp);  // closes the descriptor; the file has its name
            return folder == FolderFlush::BySave ? SyncFolder(target) : 0;
        }
        if (errno != EPERM && errno != ENOENT && errno != EOPNOTSUPP) return DiscardAndFail(temp);
        TempFile named;
        if (CopyToNamedTemp(temp.fd, target, named) != 0) return DiscardAndFail(temp);
        DiscardTempFile(temp);
        temp = named;
        (void)TakeOverIdentity(temp.fd, kept);
        if (fsync(temp.fd) != 0) return DiscardAndFail(temp);
    }
    int closed = close(temp.fd);
    temp.fd = -1;
    if (closed != 0 || rename(temp.path.c_str(), target.c_str()) != 0) return DiscardAndFail(temp);
    ReleasePendingTemp(temp.slot);
    temp = TempFile();
    return folder == FolderFlush::BySave ? SyncFolder(target) : 0;
}

void DiscardTempFile(TempFile& temp) {
    if (temp.fd >= 0) close(temp.fd);
    if (!temp.path.empty()) unlink(temp.path.c_str());
    ReleasePendingTemp(temp.slot);
    temp = TempFile();
}

int FlushFolderOf(const std::string& path, std::string& reason) {
    if (SyncFolder(ResolveDestination(path)) == 0) return 0;
    reason = std::strerror(errno);
    return -1;
}

int ReplaceFileWithBytes(const std::string& destination, const void* data, size_t size, std::string& reason,
                         FolderFlush folder) {
    std::string target = ResolveDestination(destination);
    TempFile temp;
    if (OpenTempBeside(target, FileExtension(target), temp) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (!WriteContent(temp.fd, static_cast<const char*>(data), size, reason)) {
        DiscardTempFile(temp);
        return -1;
    }
    errno = 0;
    if (CommitTempFile(temp, target, folder) != 0) {
        reason = errno != 0 ? std::strerror(errno) : "the finished file could not be put in place";
        return -1;
    }
    return 0;
}
