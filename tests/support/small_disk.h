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

class SmallDisk {
public:
    // `size` in the tmpfs option's form ("64k"); the disk holds at least one page per file.
    explicit SmallDisk(const char* size) {
        if (geteuid() != 0) {
            whyNot = "a small tmpfs needs root to mount; run the tests as root for the full-disk cases";
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "quarro-disk-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            whyNot = std::string("no folder for the tmpfs: ") + std::strerror(errno);
            return;
        }
        path = name.data();
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
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
        return names;
    }

    std::string path;
    std::string whyNot;

private:
    bool mounted = false;
};
