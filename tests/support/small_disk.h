// A full disk for tests: a tmpfs of a few kilobytes mounted on a fresh folder, unmounted and
// removed at the end. Only root may mount; elsewhere Available() is false and the test skips
// with the message in `whyNot`.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

class SmallDisk {
public:
    // `size` in the tmpfs option's form ("64k"); the disk holds at least one page per file.
    explicit SmallDisk(const char* size) {
        if (geteuid() != 0) {
            whyNot = "a small tmpfs needs root to mount; run the tests as root for the full-disk cases";
            return;
        }
        path = MakeTempFolder("quarro-disk");
        if (path.empty()) {
            whyNot = std::string("no folder for the tmpfs: ") + std::strerror(errno);
            return;
        }
        std::string options = std::string("size=") + size + ",mode=0755";
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            whyNot = std::string("mounting a tmpfs failed: ") + std::strerror(errno);
            rmdir(path.c_str());
            path.clear();
            return;
        }
        mounted = true;
    }
    ~SmallDisk() {
        if (mounted) umount2(path.c_str(), MNT_DETACH);
        if (!path.empty()) rmdir(path.c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Available() const { return mounted; }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> Entries() const { return FolderEntries(path); }

    std::string path;
    std::string whyNot;

private:
    bool mounted = false;
};
