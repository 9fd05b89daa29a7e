// libheif, opened at run time (decoder/run_time_library.h): it brings the HEVC and AV1 codecs,
// whose loading and static set-up would otherwise cost every start of the decoding helper,
// while only HEIF and AVIF pictures need them.
#pragma once

#include <libheif/heif.h>

#include <string>

// The functions of libheif that the HEIF decoder calls, by their names without "heif_".
#define QUARRO_HEIF_FUNCTIONS(X)               \
    X(context_alloc)                           \
    X(context_free)                            \
    X(context_set_maximum_image_size_limit)    \
    X(context_read_from_memory_without_copy)   \
    X(context_get_primary_image_handle)        \
    X(context_get_primary_image_ID)            \
    X(context_get_number_of_top_level_images)  \
    X(context_get_list_of_top_level_image_IDs) \
    X(image_handle_get_width)                  \
    X(image_handle_get_height)                 \
    X(image_handle_release)                    \
    X(image_handle_get_color_profile_type)     \
    X(image_handle_get_raw_color_profile_size) \
    X(image_handle_get_raw_color_profile)      \
    X(image_handle_get_nclx_color_profile)     \
    X(nclx_color_profile_free)                 \
    X(decoding_options_alloc)                  \
    X(decoding_options_free)                   \
    X(decode_image)                            \
    X(image_get_width)                         \
    X(image_get_height)                        \
    X(image_get_plane_readonly)                \
    X(image_get_bits_per_pixel_range)          \
    X(image_release)

// One pointer per function, typed by the header's own declaration.
struct HeifLibrary {
#define QUARRO_HEIF_MEMBER(name) decltype(&::heif_##name) name = nullptr;
    QUARRO_HEIF_FUNCTIONS(QUARRO_HEIF_MEMBER)
#undef QUARRO_HEIF_MEMBER
};


// Opens `soname` (the table's, decoder/run_time_library.h, or another) and resolves every
// function into `library`: 0, or -1 with a reason naming the library. It stays loaded.
int OpenHeifLibrary(const char* soname, HeifLibrary& library, std::string& reason);

// The process's libheif, opened on the first call and kept; nullptr with the reason when it
// could not be loaded. The helper calls it before its filter, inside which it fails cleanly.
const HeifLibrary* LoadHeifLibrary(std::string& reason);
