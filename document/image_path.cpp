#include "document/image_path.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

}  // namespace

std::string ResolveImagePath(const std::string& stored, const std::string& documentPath) {
    fs::path path(stored);
    if (stored.empty() || path.is_absolute() || Exists(path)) return stored;
    fs::path besideDocument = fs::path(documentPath).parent_path() / path;
    if (Exists(besideDocument)) return besideDocument.string();
    return stored;
}
