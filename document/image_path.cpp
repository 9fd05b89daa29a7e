#include "document/image_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

// The absolute, tidied spelling of a path, for messages.
std::string Shown(const fs::path& path) {
    std::error_code ignored;
    fs::path absolute = fs::absolute(path, ignored);
    return (absolute.empty() ? path : absolute).lexically_normal().string();
}

bool SameBytes(int first, int second) {
    char a[16384], b[16384];
    for (;;) {
        const ssize_t got = read(first, a, sizeof a);
        if (got < 0) return false;
        if (got == 0) return read(second, b, 1) == 0;
        ssize_t have = 0;
        while (have < got) {
            const ssize_t more = read(second, b + have, static_cast<size_t>(got - have));
            if (more <= 0) return false;
            have += more;
        }
        if (std::memcmp(a, b, static_cast<size_t>(got)) != 0) return false;
    }
}

// True when the two names lead to one file, or to regular files of the same bytes. Anything
// that is not a regular file is never read here (a FIFO would block).
bool SamePicture(const fs::path& first, const fs::path& second) {
    struct stat a, b;
    if (stat(first.c_str(), &a) != 0 || stat(second.c_str(), &b) != 0) return false;
    if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
    if (!S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) || a.st_size != b.st_size) return false;
    const int fdA = open(first.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const int fdB = fdA < 0 ? -1 : open(second.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const bool same = fdA >= 0 && fdB >= 0 && SameBytes(fdA, fdB);
    if (fdA >= 0) close(fdA);
    if (fdB >= 0) close(fdB);
    return same;
}

}  // namespace

DocumentImage LocateDocumentImage(const std::string& stored, const std::string& documentPath) {
    DocumentImage image;
    image.path = stored;
    if (stored.empty()) return image;
    const fs::path path(stored);
    if (path.is_absolute()) {
        image.found = Exists(path);
        if (!image.found) image.note = "looked for at " + Shown(path);
        return image;
    }
    const fs::path beside = fs::path(documentPath).parent_path() / path;
    const bool besideExists = Exists(beside), hereExists = Exists(path);
    image.found = besideExists || hereExists;
    if (besideExists) {
        image.path = beside.string();
        if (hereExists && !SamePicture(beside, path)) {
            image.note = "using " + Shown(beside) + " beside the document, not the different " + Shown(path) +
                         " in the current folder";
        }
    } else if (!hereExists && Shown(beside) == Shown(path)) {
        image.note = "looked for at " + Shown(path) + ", beside the document in the current folder";
    } else if (!hereExists) {
        image.note = "looked for beside the document at " + Shown(beside) + " and in the current folder at " +
                     Shown(path);
    }
    return image;
}
