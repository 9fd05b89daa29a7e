// The one in-memory image type: a byte buffer stored top row first, with its size, bytes
// per pixel (1 grey, 3 RGB, 4 RGBA) and the path it was last loaded from or saved to.
#pragma once

#include <cstdint>
#include <string>

struct PixelValue {
    unsigned char r = 0, g = 0, b = 0, a = 0;
};

class CPixelImage {
public:
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    unsigned char* pixels = nullptr;
    std::string fileName = "undefined";

    CPixelImage() = default;
    CPixelImage(const CPixelImage& other);  // same semantics as assignment
    CPixelImage& operator=(const CPixelImage& other);
    virtual ~CPixelImage();

    // Replaces the buffer by an uncleared one of width x height x bytesPerPixel bytes and
    // names the image "undefined". If the buffer cannot be had the image is left empty.
    void Allocate(int w, int h, int bpp);
    // Back to the empty state.
    void Clear();
    // Takes `place`, a mapping of `mappedBytes` bytes made with mmap and holding at least
    // w x h x bpp bytes, as the buffer; the image unmaps it when it lets the buffer go.
    void AdoptMapping(unsigned char* place, size_t mappedBytes, int w, int h, int bpp);
    // Takes `place`, a buffer of at least w x h x bpp bytes that stays someone else's, as the
    // pixels: the image reads and writes it but never frees it. The owner keeps it alive for
    // as long as the image holds it.
    void Borrow(unsigned char* place, int w, int h, int bpp);
    bool IsBorrowed() const { return borrowed_; }
    // Exchanges buffers, sizes and names with `other`.
    void Swap(CPixelImage& other);

    // The pixel as R, G, B, A; all zero (after a message on stderr) when out of range or
    // for an unknown bytes-per-pixel value.
    PixelValue GetPixel(int column, int row) const;

    bool IsEmpty() const { return pixels == nullptr; }
    // Bytes held by the buffer: width x height x bytesPerPixel.
    size_t ByteCount() const;

    // File side (image library); 0 on success, -1 on failure. On success fileName = path.
    int Load(const std::string& path);
    int Load(const std::string& path, std::string& reason);  // with the reason of a failure
    int Save(const std::string& path);

private:
    // Frees the buffer, however it was had.
    void Release();
    size_t mappedBytes_ = 0;  // 0: the buffer came from new[] or is borrowed
    bool borrowed_ = false;   // the buffer is someone else's (Borrow)
};
