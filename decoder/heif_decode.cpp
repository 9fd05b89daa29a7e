// HEIC and AVIF through libheif, which hands HEVC to libde265 and AV1 to dav1d or libaom (all
// dependencies of Debian's libheif1). The primary image is read, with the file's own rotation,
// mirroring and cropping applied; high bit depths are brought to 8 bits; the primary image's
// colour box (an ICC profile, or nclx primaries and transfer) converts it to sRGB. The codecs may start
// threads of their own, so the decoding helper's system-call filter must allow that. libheif is
// opened at run time (decoder/heif_library.h).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/colour_convert.h"
#include "decoder/decode_limits.h"
#include "decoder/format_decoders.h"
#include "decoder/heif_library.h"
#include "image/heif_boxes.h"

namespace {

// Tiles of 256 x 256 pixels cover the largest picture this program reads.
constexpr long long kMaxHeifDerivedDecodes = 4096;

// True when the file's top-level boxes claim more bytes than there are: the file was cut short,
// whatever the box that is missing because of it.
bool BoxesCutShort(const unsigned char* data, size_t size) {
    ByteReader b(data, size);
    uint64_t at = 0;
    long long boxSize;
    while (b.U32(at, true, boxSize) && b.Has(at, 8)) {
        if (boxSize == 0) return false;  // the last box runs to the end
        if (boxSize == 1 && !b.U64(at + 8, true, boxSize)) return true;
        if (boxSize < 8) return false;  // damaged rather than short
        if (!b.Has(at, static_cast<uint64_t>(boxSize))) return true;
        at += static_cast<uint64_t>(boxSize);
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

// The primary image's colour box as a description: an ICC profile before nclx code points.
ColourDescription HeifColours(const HeifLibrary& lib, const heif_image_handle* handle, const char* format) {
    std::string source = std::string("the ") + format + "'s ICC profile";
    heif_color_profile_type type = lib.image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        std::vector<unsigned char> profile(lib.image_handle_get_raw_color_profile_size(handle));
        if (profile.empty() || lib.image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok) {
            ColourDescription none;
            none.kind = ColourDescription::Kind::kUnusable;
            none.source = source;
            none.fault = "it could not be read";
            return none;
        }
        return ProfileDescription(profile.data(), profile.size(), source);
    }
    // libheif hands over the box it read even when it refuses the code points in it.
    heif_color_profile_nclx* nclx = nullptr;
    bool read = type == heif_color_profile_type_nclx &&
                lib.image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx != nullptr;
    ColourDescription described = read ? NclxDescription(nclx->color_primaries, nclx->transfer_characteristics)
                                       : ColourDescription();
    if (nclx != nullptr) lib.nclx_color_profile_free(nclx);
    return described;
}

struct HeifHandles {
    explicit HeifHandles(const HeifLibrary& heif) : heif(heif) {}
    const HeifLibrary& heif;
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    heif_decoding_options* options = nullptr;
    ~HeifHandles() {
        if (options != nullptr) heif.decoding_options_free(options);
        if (image != nullptr) heif.image_release(image);
        if (handle != nullptr) heif.image_handle_release(handle);
        if (context != nullptr) heif.context_free(context);
    }
};

}  // namespace

int DecodeHeif(const unsigned char* data, size_t size, const ImageHeader&, DecodedImage& out, std::string& reason) {
    bool av1 = false;
    IsHeifFile(ByteReader(data, size), &av1);
    const char* format = av1 ? "AVIF" : "HEIC";
    // A grid or overlay costs a decode for every picture it refers to: each tile must be one of
    // its own (a tile named thousands of times costs thousands of decodes of a few bytes), and
    // there may be no more than a picture of the largest size needs in the smallest tiles.
    long long references, distinct;
    if (HeifDerivedReferences(ByteReader(data, size), references, distinct)) {
        if (references > distinct) {
            reason = std::string("the ") + format + " file refers " + std::to_string(references) + " times to " +
                     std::to_string(distinct) + " pictures to make its own: each may be used once";
            return -1;
        }
        if (references > kMaxHeifDerivedDecodes) {
            reason = std::string("the ") + format + " file makes its picture of " + std::to_string(references) +
                     " others, more than " + std::to_string(kMaxHeifDerivedDecodes);
            return -1;
        }
    }
    const HeifLibrary* library = LoadHeifLibrary(reason);
    if (library == nullptr) return -1;
    const HeifLibrary& lib = *library;
    HeifHandles heif(lib);
    heif.context = lib.context_alloc();
    if (heif.context == nullptr) {
        reason = std::string("the ") + format + " decoder could not start";
        return -1;
    }
    lib.context_set_maximum_image_size_limit(heif.context, static_cast<int>(kMaxImageSide));
    heif_error error = lib.context_read_from_memory_without_copy(heif.context, data, size, nullptr);
    if (error.code != heif_error_Ok && BoxesCutShort(data, size)) {
        reason = std::string("the ") + format + " data ends early";
        return -1;
    }
    if (error.code != heif_error_Ok) {
        reason = std::string("the ") + format + " file could not be read: " + Explain(error, format);
        return -1;
    }
    error = lib.context_get_primary_image_handle(heif.context, &heif.handle);
    if (error.code != heif_error_Ok) {
        reason = std::string("the ") + format + " file has no picture to show: " + Explain(error, format);
        return -1;
    }
    // Which of the file's pictures is meant, for reasons about files that hold several.
    std::string which = std::string("the ") + format + " image";
    int count = lib.context_get_number_of_top_level_images(heif.context);
    if (count > 1) {
        std::vector<heif_item_id> ids(static_cast<size_t>(count));
        lib.context_get_list_of_top_level_image_IDs(heif.context, ids.data(), count);
        heif_item_id primary = 0;
        lib.context_get_primary_image_ID(heif.context, &primary);
        for (int i = 0; i < count; ++i) {
            if (ids[static_cast<size_t>(i)] == primary) {
                which = std::string(format) + " image " + std::to_string(i + 1) + " of " + std::to_string(count);
            }
        }
    }
    int claimedWidth = lib.image_handle_get_width(heif.handle);
    int claimedHeight = lib.image_handle_get_height(heif.handle);
    if (!WithinDecodeLimits(claimedWidth, claimedHeight, format, reason)) return -1;
    // A grid or overlay picture's canvas has its own size, which libheif checks only side by
    // side against this limit: held near the picture's own larger side (coded frames and grid
    // tiles may overhang it a little), the canvas cannot claim far more memory than the size
    // just checked.
    lib.context_set_maximum_image_size_limit(heif.context, std::max(claimedWidth, claimedHeight) + 1024);
    heif.options = lib.decoding_options_alloc();
    if (heif.options != nullptr) heif.options->convert_hdr_to_8bit = 1;
    error = lib.decode_image(heif.handle, &heif.image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                             heif.options);
    if (error.code != heif_error_Ok) {
        reason = which + " could not be decoded: " + Explain(error, format);
        return -1;
    }
    int width = lib.image_get_width(heif.image, heif_channel_interleaved);
    int height = lib.image_get_height(heif.image, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = lib.image_get_plane_readonly(heif.image, heif_channel_interleaved, &stride);
    if (!WithinDecodeLimits(width, height, format, reason)) return -1;
    if (plane == nullptr || stride < width * 4 ||
        lib.image_get_bits_per_pixel_range(heif.image, heif_channel_interleaved) != 8) {
        reason = which + " could not be decoded: the decoder gave no 8-bit RGBA picture";
        return -1;
    }
    AllocateDecoded(width, height, out);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&out.Pixels()[static_cast<size_t>(y) * width * 4], plane + static_cast<size_t>(y) * stride,
                    static_cast<size_t>(width) * 4);
    }
    if (!out.keepStoredColour) ConvertDecodedColours(HeifColours(lib, heif.handle, format), out);
    return 1;
}
