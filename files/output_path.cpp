#include "files/output_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "files/file_name.h"
#include "files/input_file.h"
#include "files/replace_file.h"
#include "files/writable_target.h"

int CheckOutputPath(const std::string& path, std::string& reason) {
    if (path.empty()) {
        reason = "the output path is empty";
        errno = ENOENT;
        return -1;
    }
    if (path.size() >= PATH_MAX) {
        reason = "the path is " + std::to_string(path.size()) + " bytes long, more than the " +
                 std::to_string(PATH_MAX - 1) + " allowed";
        errno = ENAMETOOLONG;
        return -1;
    }
    std::string target = ResolveDestination(path);
    size_t slash = target.find_last_of('/');
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string folder = FolderOf(target);
    struct stat info;
    if (name.empty() || name == "." || name == ".." || (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
        reason = path + " is a folder, not a file name";
        errno = EISDIR;
        return -1;
    }
    if (stat(folder.c_str(), &info) != 0) {
        const int error = errno;
        reason = "the output folder " + folder + (error == ENOENT ? " does not exist" : ": " + std::string(std::strerror(error)));
        errno = error;
        return -1;
    }
    if (!S_ISDIR(info.st_mode)) {
        reason = "the output folder " + folder + " is not a folder";
        errno = ENOTDIR;
        return -1;
    }
    long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    if (name.size() > static_cast<size_t>(nameMax)) {
        reason = "the file name is " + std::to_string(name.size()) + " bytes long, more than the " +
                 std::to_string(nameMax) + " the file system allows";
        errno = ENAMETOOLONG;
        return -1;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        const int error = errno;
        reason = "the output folder " + folder + " is not writable" + (error == EROFS ? " (read-only file system)" : "");
        errno = error;
        return -1;
    }
    if (stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        reason = path + " is " + FileKindName(info.st_mode) + ", not a regular file";
        errno = EEXIST;
        return -1;
    }
    return CheckTargetWritable(target, reason);
}

void CInputFiles::Add(const std::string& path, const std::string& role) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) known.push_back({info.st_dev, info.st_ino, role, path});
}

const CInputFiles::Known* CInputFiles::Find(dev_t device, ino_t inode) const {
    for (const Known& input : known) {
        if (input.device == device && input.inode == inode) return &input;
    }
    return nullptr;
}

int CInputFiles::CheckOutput(const std::string& output, std::string& reason) const {
    // stat follows a symlink to the file a save would write through it.
    struct stat info;
    const Known* input = stat(output.c_str(), &info) == 0 ? Find(info.st_dev, info.st_ino) : nullptr;
    if (input == nullptr) return 0;
    reason = "it would replace " + input->role + " (" + input->path + "); choose another output name";
    return -1;
}

int CInputFiles::CheckDescriptor(int fd, std::string& reason) const {
    struct stat info;
    const Known* input = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? Find(info.st_dev, info.st_ino) : nullptr;
    if (input == nullptr) return 0;
    reason = "the output is " + input->role + " (" + input->path + ")";
    return -1;
}
