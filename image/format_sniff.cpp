// Format identification and the header checks, read from the format table (format_table.h).
#include "image/format_sniff.h"

#include <algorithm>

#include "files/file_name.h"
#include "image/format_table.h"

namespace {

bool ListsExtension(const char* extensions, const std::string& extension) {
    if (extension.empty()) return false;
    std::string list = std::string(" ") + extensions + " ";
    return list.find(" " + extension + " ") != std::string::npos;
}

std::string Claim(const ImageHeader& header) {
    return std::string("the ") + ImageFormatName(header.format) + " header claims " + std::to_string(header.width) +
           " x " + std::to_string(header.height) + " pixels";
}

}  // namespace

const char* ImageFormatName(ImageFormat format) { return FormatRow(format).name; }

ImageFormat IdentifyImageFormat(const unsigned char* data, size_t size, const std::string& nameHint) {
    ByteReader bytes(data, size);
    size_t count;
    const ImageFormatRow* rows = ImageFormatRows(count);
    for (size_t i = 0; i < count; ++i) {
        if (!rows[i].extensionDecides && rows[i].signature != nullptr && rows[i].signature(bytes)) return rows[i].format;
    }
    // Formats without a firm signature: the name is what there is to go by, then a guess.
    std::string extension = LowerFileExtension(nameHint);
    if (!extension.empty()) extension.erase(0, 1);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].extensionDecides && ListsExtension(rows[i].extensions, extension)) return rows[i].format;
    }
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].extensionDecides && rows[i].signature != nullptr && rows[i].signature(bytes)) return rows[i].format;
    }
    return ImageFormat::kUnknown;
}

void ReadImageHeader(const unsigned char* data, size_t size, ImageFormat format, ImageHeader& header) {
    header = ImageHeader();
    header.format = format;
    const ImageFormatRow& row = FormatRow(format);
    if (row.readHeader != nullptr) row.readHeader(ByteReader(data, size), header);
    if (header.width < 0 || header.height < 0) header.width = header.height = -1;
}

int CheckEncodedSize(const unsigned char* data, size_t size, long long fileSize, const ImageHeader& header,
                     std::string& reason) {
    // Sizes beyond the limits are CheckImageSize's to refuse; the bounds below assume they are within.
    if (header.width <= 0 || header.height <= 0 || header.width > kMaxImageSide || header.height > kMaxImageSide) return 0;
    long long pixels = header.width * header.height;
    const ImageFormatRow& row = FormatRow(header.format);
    long long needed = row.leastBytes != nullptr ? row.leastBytes(ByteReader(data, size), header) : -1;
    if (needed == kNoDataBound && pixels > kUnboundedPixels) {
        reason = Claim(header) + ", but its data is coded in a way that sets no bound on how few bytes it takes; such a "
                 "picture may have at most " + std::to_string(kUnboundedPixels) + " pixels";
        return -1;
    }
    // The bytes that carry pixels, where the header counted them and the picture is large enough
    // to matter; the data may go on in the bytes not read.
    long long unread = std::max(0LL, fileSize - static_cast<long long>(size));
    bool counted = header.dataBytes >= 0 && pixels > kUnboundedPixels;
    long long held = counted ? std::min(fileSize, header.dataBytes + (header.dataBeyondBytes ? unread : 0)) : fileSize;
    if (needed >= 0 && held < needed) {
        reason = Claim(header) + ", which take at least " + std::to_string(needed) + (counted ? " bytes of pixel data; the file holds " : " bytes; the file holds ") +
                 std::to_string(held);
        return -1;
    }
    // Frames or runs past the bytes given count once the bytes are the whole file: they do not exist.
    bool carriedKnown = header.carriedPixels >= 0 && (!header.framesBeyondBytes || static_cast<long long>(size) >= fileSize);
    if (carriedKnown && pixels > kCanvasPerCarriedPixel * header.carriedPixels) {
        reason = Claim(header) + ", but its data covers only " + std::to_string(header.carriedPixels) +
                 " of them; a picture may be at most " + std::to_string(kCanvasPerCarriedPixel) + " times what its data covers";
        return -1;
    }
    return 0;
}

int CheckImageSize(const char* what, long long width, long long height, long long depth, std::string& reason) {
    std::string claim = std::string(what) + " claims " + std::to_string(width) + " x " + std::to_string(height);
    if (depth > 1) claim += " x " + std::to_string(depth);
    if (width <= 0 || height <= 0 || depth <= 0) {
        reason = claim + " pixels, an empty picture";
        return -1;
    }
    bool tooLarge = width > kMaxImageSide || height > kMaxImageSide || depth > kMaxImagePixels ||
                    width * height > kMaxImagePixels / depth;
    if (tooLarge) {
        reason = claim + " pixels, more than this program reads";
        return -1;
    }
    return 0;
}

int InspectImageHeader(const unsigned char* data, size_t size, const std::string& nameHint,
                       ImageHeader& header, std::string& reason) {
    header = ImageHeader();
    if (size == 0) {
        reason = "the file is empty";
        return -1;
    }
    ImageFormat format = IdentifyImageFormat(data, size, nameHint);
    if (format == ImageFormat::kUnknown) {
        reason = "its first bytes match no image format this program reads";
        return -1;
    }
    if (format == ImageFormat::kPalette) {
        header.format = format;
        reason = "it holds a colour palette, not a picture";
        return -1;
    }
    ReadImageHeader(data, size, format, header);
    if (header.width < 0) return 0;
    return CheckImageSize((std::string("the ") + ImageFormatName(header.format) + " header").c_str(), header.width,
                          header.height, header.depth, reason);
}
