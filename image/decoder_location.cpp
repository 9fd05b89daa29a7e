#include "image/decoder_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "files/printable_name.h"

namespace {

// Whether an entry of this owner and mode could be replaced by a user other than this one.
// `folder`: a sticky folder may be writable by all, since only an entry's owner removes it.
bool OthersMayChange(const struct stat& info, bool folder) {
    if (info.st_uid != 0 && info.st_uid != geteuid()) return true;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0) return false;
    return !(folder && (info.st_mode & S_ISVTX) != 0 && info.st_uid == 0);
}

}  // namespace

std::string DecoderBesideProgram(const std::string& relative) {
    char* self = realpath("/proc/self/exe", nullptr);
    if (self == nullptr) return "";
    std::filesystem::path program(self);
    std::free(self);
    return (program.parent_path() / relative).lexically_normal().string();
}

int CheckDecoderProgram(const std::string& path, std::string& reason) {
    const std::string named = "the decoder program " + PrintableName(path);
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        int error = errno;
        reason = named + (error == ENOENT || error == ENOTDIR ? " was not found" : " cannot be looked at: " +
                                                                                       std::string(std::strerror(error)));
        return -1;
    }
    std::filesystem::path real(resolved);
    std::free(resolved);
    struct stat info;
    if (stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(real.c_str(), X_OK) != 0) {
        reason = named + " is not executable";
        return -1;
    }
    if (OthersMayChange(info, false)) {
        reason = named + " is refused: other users could change it";
        return -1;
    }
    for (std::filesystem::path folder = real.parent_path();; folder = folder.parent_path()) {
        if (stat(folder.c_str(), &info) != 0 || OthersMayChange(info, true)) {
            reason = named + " is refused: other users could change the folder " + PrintableName(folder.string());
            return -1;
        }
        if (folder == folder.root_path()) break;
    }
    return 0;
}
