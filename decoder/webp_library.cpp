// libwebp's and libwebpdemux's tables, resolved by name.
#include "decoder/webp_library.h"

#include "decoder/run_time_library.h"

const char* const kWebpLibraryName = "libwebp.so.7";
const char* const kWebpDemuxLibraryName = "libwebpdemux.so.2";

#define QUARRO_WEBP_SLOT(name) {"WebP" #name, &library.name},
int OpenWebpLibrary(const char* soname, WebpLibrary& library, std::string& reason) {
    return OpenRunTimeLibrary(soname, "WebP pictures", {QUARRO_WEBP_FUNCTIONS(QUARRO_WEBP_SLOT)}, reason);
}

int OpenWebpDemuxLibrary(const char* soname, WebpDemuxLibrary& library, std::string& reason) {
    return OpenRunTimeLibrary(soname, "WebP pictures", {QUARRO_WEBP_DEMUX_FUNCTIONS(QUARRO_WEBP_SLOT)}, reason);
}
#undef QUARRO_WEBP_SLOT

const WebpLibrary* LoadWebpLibrary(std::string& reason) { return LoadOnce(OpenWebpLibrary, kWebpLibraryName, reason); }

const WebpDemuxLibrary* LoadWebpDemuxLibrary(std::string& reason) {
    return LoadOnce(OpenWebpDemuxLibrary, kWebpDemuxLibraryName, reason);
}
