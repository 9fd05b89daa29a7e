#include "image/pixel_image.h"

#include <sys/mman.h>

#include <cstring>
#include <iostream>
#include <new>
#include <utility>

CPixelImage::CPixelImage(const CPixelImage& other) { *this = other; }

CPixelImage& CPixelImage::operator=(const CPixelImage& other) {
    if (this == &other) return *this;
    Allocate(other.width, other.height, other.bytesPerPixel);
    if (pixels != nullptr && other.pixels != nullptr) std::memcpy(pixels, other.pixels, ByteCount());
    return *this;
}

CPixelImage::~CPixelImage() { Release(); }

void CPixelImage::Release() {
    if (borrowed_) {
        // someone else's buffer
    } else if (mappedBytes_ > 0) {
        munmap(pixels, mappedBytes_);
    } else {
        delete[] pixels;
    }
    pixels = nullptr;
    mappedBytes_ = 0;
    borrowed_ = false;
}

void CPixelImage::Borrow(unsigned char* place, int w, int h, int bpp) {
    Release();
    pixels = place;
    borrowed_ = place != nullptr;
    width = w;
    height = h;
    bytesPerPixel = bpp;
    fileName = "undefined";
}

void CPixelImage::AdoptMapping(unsigned char* place, size_t mappedBytes, int w, int h, int bpp) {
    Release();
    pixels = place;
    mappedBytes_ = mappedBytes;
    width = w;
    height = h;
    bytesPerPixel = bpp;
    fileName = "undefined";
}

void CPixelImage::Swap(CPixelImage& other) {
    std::swap(pixels, other.pixels);
    std::swap(mappedBytes_, other.mappedBytes_);
    std::swap(borrowed_, other.borrowed_);
    std::swap(width, other.width);
    std::swap(height, other.height);
    std::swap(bytesPerPixel, other.bytesPerPixel);
    std::swap(fileName, other.fileName);
}

size_t CPixelImage::ByteCount() const {
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return 0;
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bytesPerPixel);
}

void CPixelImage::Allocate(int w, int h, int bpp) {
    Release();
    width = w;
    height = h;
    bytesPerPixel = bpp;
    fileName = "undefined";
    size_t bytes = ByteCount();
    if (bytes == 0) return;
    pixels = new (std::nothrow) unsigned char[bytes];
    if (pixels == nullptr) width = height = bytesPerPixel = 0;
}

void CPixelImage::Clear() {
    Release();
    width = height = bytesPerPixel = 0;
    fileName = "undefined";
}

PixelValue CPixelImage::GetPixel(int column, int row) const {
    PixelValue value;
    if (column < 0 || column >= width || row < 0 || row >= height || pixels == nullptr) {
        std::cerr << "ERROR: pixel [" << column << "," << row << "] is out of range.\n";
        return value;
    }
    size_t index = static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column);
    switch (bytesPerPixel) {
        case 1: {
            unsigned char v = pixels[index];
            value.r = value.g = value.b = value.a = v;
            return value;
        }
        case 3: {
            const unsigned char* p = pixels + 3 * index;
            value.r = p[0];
            value.g = p[1];
            value.b = p[2];
            value.a = 255;
            return value;
        }
        case 4: {
            const unsigned char* p = pixels + 4 * index;
            value.r = p[0];
            value.g = p[1];
            value.b = p[2];
            value.a = p[3];
            return value;
        }
        default:
            std::cerr << "ERROR: invalid bit depth in GetPixel()\n";
            return value;
    }
}
