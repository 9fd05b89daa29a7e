#include "image/image_file.h"

#include <IL/il.h>
#include <IL/ilu.h>

#include <cstdio>
#include <utility>

#include "image/decode_client.h"
#include "image/replace_file.h"

namespace {

// Set only by a successful InitImageLibrary; the library stays started for the process.
bool gImageLibraryStarted = false;

// Release 1.6.7 in the library's own version numbering.
const int kMinimumLibraryVersion = 167;

// One library image per read or write, deleted again on every path out.
class LibraryImage {
public:
    LibraryImage() {
        ilGenImages(1, &name);
        ilBindImage(name);
    }
    ~LibraryImage() { ilDeleteImages(1, &name); }
    LibraryImage(const LibraryImage&) = delete;
    LibraryImage& operator=(const LibraryImage&) = delete;

private:
    ILuint name = 0;
};

ILenum LibraryFormat(int bytesPerPixel) {
    switch (bytesPerPixel) {
        case 1: return IL_LUMINANCE;
        case 3: return IL_RGB;
        case 4: return IL_RGBA;
        default: return 0;
    }
}

// Hands the library the source's pixels in their own layout; false when it refuses them.
bool SetLibraryPixels(const CPixelImage& source) {
    ILenum format = LibraryFormat(source.bytesPerPixel);
    if (format == 0 || source.pixels == nullptr || source.width <= 0 || source.height <= 0) return false;
    return ilTexImage(static_cast<ILuint>(source.width), static_cast<ILuint>(source.height), 1,
                      static_cast<ILubyte>(source.bytesPerPixel), format, IL_UNSIGNED_BYTE,
                      source.pixels) == IL_TRUE;
}

}  // namespace

bool CheckImageLibraryVersion(int versionNumber) {
    if (versionNumber < kMinimumLibraryVersion) {
        std::printf("DevIL version is different...exiting!\n");
        std::fflush(stdout);
        return false;
    }
    return true;
}

bool InitImageLibrary() {
    if (gImageLibraryStarted) return true;
    ilInit();
    if (!CheckImageLibraryVersion(ilGetInteger(IL_VERSION_NUM))) return false;
    ilEnable(IL_FILE_OVERWRITE);
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    gImageLibraryStarted = true;
    return true;
}

int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason) {
    if (!InitImageLibrary()) {
        reason = "the image library is older than this program needs";
        return -1;
    }
    return DecodeImageFile(path, target, reason);
}

int ReadImageFile(const std::string& path, CPixelImage& target) {
    std::string reason;
    return ReadImageFile(path, target, reason);
}

int WriteImageFile(const std::string& path, const CPixelImage& source) {
    if (!InitImageLibrary()) return -1;
    LibraryImage image;
    if (!SetLibraryPixels(source)) {
        std::printf("ERROR: could not reformat image.\n");
        std::fflush(stdout);
        return -1;
    }
    // Files store their bottom row first; ours is top row first.
    iluFlipImage();

    TempFile temp;
    int result = -1;
    if (CreateTempBeside(path, FileExtension(path), temp) == 0) {
        if (ilSaveImage(temp.path.c_str()) == IL_TRUE) {
            result = CommitTempFile(temp, path);
        } else {
            DiscardTempFile(temp);
        }
    }
    if (result != 0) {
        std::printf("ERROR: could not save image to %s.\n", path.c_str());
        std::fflush(stdout);
    }
    return result;
}

int CPixelImage::Load(const std::string& path) {
    int result = ReadImageFile(path, *this);
    if (result == 0) fileName = path;
    return result;
}

int CPixelImage::Save(const std::string& path) {
    int result = WriteImageFile(path, *this);
    if (result == 0) fileName = path;
    return result;
}
