// Bilinear sampling of a 4-byte RGBA image at pixel coordinates (pixel (c, r) sits exactly
// at (c, r)); writes R, G, B rounded to nearest (ties to even) and leaves byte 3 alone.
#pragma once

#include <cmath>

#include "image/pixel_image.h"

// Positions beyond the last column or row sample column W-2 (row H-2) with no blending.
// An image one pixel wide or high uses its single column or row for both neighbours.
// Non-finite positions are clamped like out-of-range ones; the buffer is never overrun.
inline void SampleBilinear(const CPixelImage& image, float x, float y, unsigned char* destination) {
    const int W = image.width;
    const int H = image.height;
    int ix;
    int iy;
    // Comparing the float directly is the same as comparing floor(x) for every finite x,
    // and keeps NaN and huge values away from the integer conversion.
    if (!(x >= 0.0f)) {
        ix = 0;
        x = 0.0f;
    } else if (x >= static_cast<float>(W - 1)) {
        ix = W >= 2 ? W - 2 : 0;
        x = static_cast<float>(ix);
    } else {
        ix = static_cast<int>(x);
    }
    if (!(y >= 0.0f)) {
        iy = 0;
        y = 0.0f;
    } else if (y >= static_cast<float>(H - 1)) {
        iy = H >= 2 ? H - 2 : 0;
        y = static_cast<float>(iy);
    } else {
        iy = static_cast<int>(y);
    }
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    const size_t stride = static_cast<size_t>(W) * 4;
    const unsigned char* p00 = image.pixels + static_cast<size_t>(iy) * stride + static_cast<size_t>(ix) * 4;
    const unsigned char* p10 = p00 + (W >= 2 ? 4 : 0);
    const unsigned char* p01 = p00 + (H >= 2 ? stride : 0);
    const unsigned char* p11 = p01 + (W >= 2 ? 4 : 0);
    for (int k = 0; k < 3; ++k) {
        const float a00 = p00[k], a10 = p10[k], a01 = p01[k], a11 = p11[k];
        const float top = a00 + (a10 - a00) * fx;
        const float bottom = a01 + (a11 - a01) * fx;
        const float value = top + (bottom - top) * fy;
        destination[k] = static_cast<unsigned char>(std::nearbyint(value));
    }
}
