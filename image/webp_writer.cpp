// WebP stills by libwebp, lossy or lossless, on the encoder's own threads. An opaque picture
// is handed over without its alpha, so the file carries none.
#include <webp/encode.h>

#include "image/image_writers.h"

namespace {

struct PictureGuard {
    WebPPicture picture;
    WebPMemoryWriter writer;
    PictureGuard() {
        WebPPictureInit(&picture);
        WebPMemoryWriterInit(&writer);
    }
    ~PictureGuard() {
        WebPPictureFree(&picture);
        WebPMemoryWriterClear(&writer);
    }
};

// Imports the pixels as RGB or RGBA; grey pictures are widened row by row.
bool Import(const CPixelImage& image, WebPPicture& picture) {
    const int stride = image.width * image.bytesPerPixel;
    if (image.bytesPerPixel == 4) {
        return AllOpaque(image) ? WebPPictureImportRGBX(&picture, image.pixels, stride) != 0
                                : WebPPictureImportRGBA(&picture, image.pixels, stride) != 0;
    }
    if (image.bytesPerPixel == 3) return WebPPictureImportRGB(&picture, image.pixels, stride) != 0;
    std::vector<unsigned char> rgb(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) ConvertRow(image, y, 3, rgb.data() + static_cast<size_t>(y) * image.width * 3);
    return WebPPictureImportRGB(&picture, rgb.data(), image.width * 3) != 0;
}

}  // namespace

int EncodeWebp(const CPixelImage& image, bool lossless, int quality, std::vector<unsigned char>& bytes,
               std::string& reason) {
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        reason = "the WebP encoder is not the version this program was built with";
        return -1;
    }
    // Lossless at the library's middle effort, every pixel kept as it is (also the colour under
    // a transparent alpha); lossy at `quality`. Both spread their work over threads.
    config.lossless = lossless ? 1 : 0;
    config.quality = lossless ? 80.0f : static_cast<float>(quality);
    config.method = 4;
    config.exact = lossless ? 1 : 0;
    config.thread_level = 1;
    if (!WebPValidateConfig(&config)) {
        reason = "the WebP encoder refused its settings";
        return -1;
    }
    PictureGuard guard;
    guard.picture.use_argb = lossless ? 1 : 0;
    guard.picture.width = image.width;
    guard.picture.height = image.height;
    if (image.width > WEBP_MAX_DIMENSION || image.height > WEBP_MAX_DIMENSION) {
        reason = "a WebP picture is at most " + std::to_string(WEBP_MAX_DIMENSION) + " pixels on a side";
        return -1;
    }
    if (!Import(image, guard.picture)) {
        reason = "out of memory";
        return -1;
    }
    guard.picture.writer = WebPMemoryWrite;
    guard.picture.custom_ptr = &guard.writer;
    if (!WebPEncode(&config, &guard.picture)) {
        reason = "WebP encoder: error " + std::to_string(static_cast<int>(guard.picture.error_code));
        return -1;
    }
    bytes.assign(guard.writer.mem, guard.writer.mem + guard.writer.size);
    return 0;
}
