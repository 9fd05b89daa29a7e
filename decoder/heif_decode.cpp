// HEIC and AVIF through libheif, which hands HEVC to libde265 and AV1 to dav1d or libaom (all
// dependencies of Debian's libheif1). The primary image is read, with the file's own rotation,
// mirroring and cropping applied; high bit depths are brought to 8 bits. The codecs may start
// threads of their own, so the decoding helper's system-call filter must allow that.
#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"

namespace {

const char* const kHeifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs",
                                   "mif1", "msf1", "avif", "avis"};

bool IsBrand(const unsigned char* fourcc, const char* const* brands, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (std::memcmp(fourcc, brands[i], 4) == 0) return true;
    }
    return false;
}

// The brands of the leading 'ftyp' box: the major one and the compatible ones after it.
std::vector<const unsigned char*> Brands(const unsigned char* data, size_t size) {
    std::vector<const unsigned char*> brands;
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0) return brands;
    size_t boxSize = (size_t{data[0]} << 24) | (size_t{data[1]} << 16) | (size_t{data[2]} << 8) | data[3];
    if (boxSize < 16 || boxSize > size) boxSize = size;
    brands.push_back(data + 8);
    for (size_t at = 16; at + 4 <= boxSize; at += 4) brands.push_back(data + at);
    return brands;
}

uint64_t BigEndian(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

// True when the file's top-level boxes claim more bytes than there are: the file was cut short,
// whatever the box that is missing because of it.
bool BoxesCutShort(const unsigned char* data, size_t size) {
    size_t at = 0;
    while (size - at >= 8) {
        uint64_t boxSize = BigEndian(data + at, 4);
        if (boxSize == 0) return false;  // the last box runs to the end
        if (boxSize == 1) {
            if (size - at < 16) return true;
            boxSize = BigEndian(data + at + 8, 8);
        }
        if (boxSize < 8) return false;  // damaged rather than short
        if (boxSize > size - at) return true;
        at += static_cast<size_t>(boxSize);
    }
    return at != size;
}

// Why libheif failed, in words for the user.
std::string Explain(const heif_error& error, const char* format) {
    if (error.code == heif_error_Invalid_input && error.subcode == heif_suberror_End_of_data) {
        return std::string("the ") + format + " data ends early";
    }
    if (error.code == heif_error_Unsupported_feature && error.subcode == heif_suberror_Unsupported_codec) {
        return std::string("this ") + format + " image needs a " +
               (std::strcmp(format, "AVIF") == 0 ? "AV1 decoder (libdav1d6 or libaom3)"
                                                 : "HEVC decoder (libde265-0)") +
               ", which is not installed";
    }
    if (error.code == heif_error_Decoder_plugin_error) {
        return std::string("the ") + format + " picture data is damaged";
    }
    if (error.subcode == heif_suberror_Security_limit_exceeded) {
        return std::string("the ") + format + " file's canvas is far larger than its picture claims";
    }
    if (error.code == heif_error_Memory_allocation_error) {
        return std::string("the ") + format + " image needs more memory than the decoder may take";
    }
    return std::string(error.message != nullptr ? error.message : "unknown fault");
}

struct HeifHandles {
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    heif_decoding_options* options = nullptr;
    ~HeifHandles() {
        if (options != nullptr) heif_decoding_options_free(options);
        if (image != nullptr) heif_image_release(image);
        if (handle != nullptr) heif_image_handle_release(handle);
        if (context != nullptr) heif_context_free(context);
    }
};

}  // namespace

bool LooksLikeHeif(const unsigned char* data, size_t size) {
    for (const unsigned char* brand : Brands(data, size)) {
        if (IsBrand(brand, kHeifBrands, sizeof kHeifBrands / sizeof kHeifBrands[0])) return true;
    }
    return false;
}

int DecodeHeif(const unsigned char* data, size_t size, DecodedImage& out, std::string& reason) {
    const char* format = "HEIC";
    const char* const av1Brands[] = {"avif", "avis"};
    for (const unsigned char* brand : Brands(data, size)) {
        if (IsBrand(brand, av1Brands, 2)) format = "AVIF";
    }
    HeifHandles heif;
    heif.context = heif_context_alloc();
    if (heif.context == nullptr) {
        reason = std::string("the ") + format + " decoder could not start";
        return -1;
    }
    heif_context_set_maximum_image_size_limit(heif.context, static_cast<int>(kMaxImageSide));
    heif_error error = heif_context_read_from_memory_without_copy(heif.context, data, size, nullptr);
    if (error.code != heif_error_Ok && BoxesCutShort(data, size)) {
        reason = std::string("the ") + format + " data ends early";
        return -1;
    }
    if (error.code != heif_error_Ok) {
        reason = std::string("the ") + format + " file could not be read: " + Explain(error, format);
        return -1;
    }
    error = heif_context_get_primary_image_handle(heif.context, &heif.handle);
    if (error.code != heif_error_Ok) {
        reason = std::string("the ") + format + " file has no picture to show: " + Explain(error, format);
        return -1;
    }
    // Which of the file's pictures is meant, for reasons about files that hold several.
    std::string which = std::string("the ") + format + " image";
    int count = heif_context_get_number_of_top_level_images(heif.context);
    if (count > 1) {
        std::vector<heif_item_id> ids(static_cast<size_t>(count));
        heif_context_get_list_of_top_level_image_IDs(heif.context, ids.data(), count);
        heif_item_id primary = 0;
        heif_context_get_primary_image_ID(heif.context, &primary);
        for (int i = 0; i < count; ++i) {
            if (ids[static_cast<size_t>(i)] == primary) {
                which = std::string(format) + " image " + std::to_string(i + 1) + " of " + std::to_string(count);
            }
        }
    }
    int claimedWidth = heif_image_handle_get_width(heif.handle);
    int claimedHeight = heif_image_handle_get_height(heif.handle);
    if (!WithinDecodeLimits(claimedWidth, claimedHeight, format, reason)) return -1;
    // A grid or overlay picture's canvas has its own size, which libheif checks only side by
    // side against this limit: held near the picture's own larger side (coded frames and grid
    // tiles may overhang it a little), the canvas cannot claim far more memory than the size
    // just checked.
    heif_context_set_maximum_image_size_limit(heif.context, std::max(claimedWidth, claimedHeight) + 1024);
    heif.options = heif_decoding_options_alloc();
    if (heif.options != nullptr) heif.options->convert_hdr_to_8bit = 1;
    error = heif_decode_image(heif.handle, &heif.image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                              heif.options);
    if (error.code != heif_error_Ok) {
        reason = which + " could not be decoded: " + Explain(error, format);
        return -1;
    }
    int width = heif_image_get_width(heif.image, heif_channel_interleaved);
    int height = heif_image_get_height(heif.image, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(heif.image, heif_channel_interleaved, &stride);
    if (!WithinDecodeLimits(width, height, format, reason)) return -1;
    if (plane == nullptr || stride < width * 4 ||
        heif_image_get_bits_per_pixel_range(heif.image, heif_channel_interleaved) != 8) {
        reason = which + " could not be decoded: the decoder gave no 8-bit RGBA picture";
        return -1;
    }
    AllocateDecoded(width, height, out);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&out.rgba[static_cast<size_t>(y) * width * 4], plane + static_cast<size_t>(y) * stride,
                    static_cast<size_t>(width) * 4);
    }
    return 1;
}
