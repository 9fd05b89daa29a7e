#include "files/in_place_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Copies the bytes of `source` from `begin` to `end` to the same offsets of `target`.
bool CopyRange(int source, int target, off_t begin, off_t end) {
    char buffer[1 << 16];
    for (off_t offset = begin; offset < end;) {
        const size_t want = static_cast<size_t>(end - offset < static_cast<off_t>(sizeof buffer) ? end - offset : sizeof buffer);
        const ssize_t got = pread(source, buffer, want, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the finished content is shorter than it was
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = pwrite(target, buffer + done, static_cast<size_t>(got - done), offset + done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (put == 0) errno = ENOSPC;
                return false;
            }
            done += put;
        }
        offset += got;
    }
    return true;
}

// Fails keeping errno, after putting back the size the target had.
int Restore(int target, off_t size) {
    const int saved = errno;
    (void)ftruncate(target, size);
    errno = saved;
    return -1;
}

}  // namespace

int OverwriteInPlace(int target, int source) {
    struct stat from, to;
    if (fstat(source, &from) != 0 || fstat(target, &to) != 0) return -1;
    const off_t size = from.st_size, earlier = to.st_size;
    // Reserve every block of the new content first. Where the file system cannot reserve, the
    // part beyond the earlier end is written first, which claims the same space.
    if (size > 0 && fallocate(target, 0, 0, size) != 0) {
        if (errno != EOPNOTSUPP && errno != ENOSYS) return Restore(target, earlier);
        if (size > earlier && !CopyRange(source, target, earlier, size)) return Restore(target, earlier);
    }
    if (!CopyRange(source, target, 0, size) || ftruncate(target, size) != 0 || fsync(target) != 0) return -1;
    return 0;
}
