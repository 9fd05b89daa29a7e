#include "image/image_file.h"

#include <IL/il.h>

#include <cstdio>

#include "files/printable_name.h"
#include "files/replace_file.h"
#include "image/decode_client.h"
#include "files/output_path.h"
#include "image/image_writers.h"

namespace {

// Set only by a successful InitImageLibrary; the library stays started for the process.
bool gImageLibraryStarted = false;

// Release 1.6.7 in the library's own version numbering.
const int kMinimumLibraryVersion = 167;

// The file's bytes in the format the table gives for its extension. 0, -1, or -2 when the
// pixels themselves are refused, each with `reason`.
int Encode(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
           std::vector<unsigned char>& bytes, std::string& reason) {
    const WritableFormat* format = WritableFormatOf(path, reason);
    if (format == nullptr) {
        bytes.clear();
        return -1;
    }
    return EncodeImage(*format, settings, source, bytes, reason);
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

// Reading never starts the image library: the decoding helper reads every picture.
int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason) {
    return ReadImageFile(path, target, reason, nullptr);
}

int ReadImageFile(const std::string& path, CPixelImage& target, std::string& reason, ImageColour* colour) {
    return DecodeImageFile(path, target, reason, colour);
}

int ReadImageFiles(std::vector<ImageFileRead>& reads) {
    return DecodeImageFiles(reads);
}

int ReadImageFile(const std::string& path, CPixelImage& target) {
    std::string reason;
    return ReadImageFile(path, target, reason);
}

int EncodeImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                    std::vector<unsigned char>& bytes, std::string& reason) {
    return Encode(path, source, settings, bytes, reason) == 0 ? 0 : -1;
}

int WriteImageFile(const std::string& path, const CPixelImage& source, std::string& reason) {
    return WriteImageFile(path, source, ImageWriteSettings(), reason);
}

int WriteImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                   std::string& reason) {
    std::vector<unsigned char> bytes;
    return WriteImageFile(path, source, settings, bytes, reason);
}

int WriteImageFile(const std::string& path, const CPixelImage& source, const ImageWriteSettings& settings,
                   std::vector<unsigned char>& scratch, std::string& reason) {
    const WritableFormat* format = WritableFormatOf(path, reason);
    if (format == nullptr) return -1;
    return WriteImageFile(path, *format, source, settings, scratch, reason);
}

int WriteImageFile(const std::string& path, const WritableFormat& format, const CPixelImage& source,
                   const ImageWriteSettings& settings, std::vector<unsigned char>& scratch, std::string& reason,
                   FolderFlush folder) {
    if (CheckOutputPath(path, reason) != 0) return -1;
    if (EncodeImage(format, settings, source, scratch, reason) != 0) return -1;
    return ReplaceFileWithBytes(path, scratch.data(), scratch.size(), reason, folder);
}

int WriteImageFile(const std::string& path, const CPixelImage& source) {
    std::string reason;
    int result = CheckImageOutputPath(path, reason);
    std::vector<unsigned char> bytes;
    if (result == 0) result = Encode(path, source, ImageWriteSettings(), bytes, reason);
    if (result == 0 && ReplaceFileWithBytes(path, bytes.data(), bytes.size(), reason) != 0) result = -1;
    if (result == 0) return 0;
    if (result == -2) {
        std::printf("ERROR: could not reformat image.\n");
    } else {
        std::printf("ERROR: could not save image to %s.\n", PrintableName(path).c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", PrintableName(path).c_str(), PrintableName(reason).c_str());
    return -1;
}

int CPixelImage::Load(const std::string& path) {
    std::string reason;
    return Load(path, reason);
}

int CPixelImage::Load(const std::string& path, std::string& reason) {
    int result = ReadImageFile(path, *this, reason);
    if (result == 0) fileName = path;
    return result;
}

int CPixelImage::Save(const std::string& path) {
    int result = WriteImageFile(path, *this);
    if (result == 0) fileName = path;
    return result;
}
