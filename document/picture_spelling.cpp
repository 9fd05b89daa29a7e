#include "document/picture_spelling.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool SameFile(const fs::path& first, const fs::path& second) {
    struct stat a, b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// `picture` relative to `folder` when it lies beneath it and the relative name leads to it;
// "" otherwise.
fs::path BeneathFolder(const fs::path& picture, const fs::path& folder) {
    const fs::path relative = picture.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == ".." || *relative.begin() == ".") return fs::path();
    return SameFile(folder / relative, picture) ? relative : fs::path();
}

}  // namespace

std::string SpellPicturePath(const PictureOrigin& picture, const std::string& documentPath) {
    if (picture.stored.empty() || fs::path(picture.stored).is_absolute()) return picture.loaded;
    fs::path folder = fs::path(documentPath).parent_path();
    if (folder.empty()) folder = ".";
    if (SameFile(folder / picture.stored, picture.loaded)) return picture.stored;
    std::error_code error;
    const fs::path absolute = fs::absolute(picture.loaded, error).lexically_normal();
    const fs::path absoluteFolder = fs::absolute(folder, error).lexically_normal();
    if (error) return picture.loaded;
    fs::path relative = BeneathFolder(absolute, absoluteFolder);
    // Spelt through a symbolic link on one side only, the two may still meet once resolved.
    if (relative.empty()) {
        relative = BeneathFolder(fs::weakly_canonical(absolute, error), fs::weakly_canonical(absoluteFolder, error));
    }
    return relative.empty() ? absolute.string() : relative.string();
}
