// Checks of a path the program is about to save to, made before any work is spent on the
// content: the folder exists and takes new files, the name fits the file system's limits and
// does not name a folder or a FIFO, and a file already there may be written. (Image formats:
// image/writable_formats.h.)
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// 0 when a file can be saved at `path`; -1 with `reason` ("the output folder out does not
// exist", "the file name is 300 bytes long, more than the 255 the file system allows", ...)
// and errno saying which kind of refusal it is: ENOENT (no folder), ENOTDIR, EACCES or EROFS
// (the folder takes no new file, or the file there may not be written), EISDIR (a folder),
// ENAMETOOLONG, EEXIST (a FIFO or device).
int CheckOutputPath(const std::string& path, std::string& reason);

// The files a run reads, known by device and inode, so that an output that would replace one
// of them is refused whatever its spelling: relative or absolute, through "..", a symlink or
// a hard link.
class CInputFiles {
public:
    // Remembers `path` as `role` ("image A", "the document"); a path that does not exist is
    // left out (nothing can replace it).
    void Add(const std::string& path, const std::string& role);
    // 0 when saving at `output` replaces none of them; -1 with `reason` ("it would replace
    // image A (pictures/a.png)").
    int CheckOutput(const std::string& output, std::string& reason) const;
    // The same for an open descriptor (the standard output redirected onto an input).
    int CheckDescriptor(int fd, std::string& reason) const;

private:
    struct Known {
        dev_t device;
        ino_t inode;
        std::string role, path;
    };
    const Known* Find(dev_t device, ino_t inode) const;
    std::vector<Known> known;
};
