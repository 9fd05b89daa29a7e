// The benchmarks' 1920 x 1080 opaque frame: soft shapes with grain, as a photo compresses, made
// the same way on every run.
#pragma once

#include <cmath>
#include <random>

#include "image/pixel_image.h"

inline CPixelImage MakePhotoFrame() {
    CPixelImage frame;
    frame.Allocate(1920, 1080, 4);
    std::mt19937 random(7);
    std::normal_distribution<float> grain(0.0f, 6.0f);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            unsigned char* p = frame.pixels + (static_cast<size_t>(y) * frame.width + x) * 4;
            const float shade[3] = {128 + 90 * std::sin(x * 0.004f + y * 0.007f), 128 + 80 * std::cos(x * 0.006f - y * 0.003f),
                                    128 + 70 * std::sin((x + y) * 0.002f)};
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<unsigned char>(std::fmin(255.0f, std::fmax(0.0f, shade[c] + grain(random))));
            }
            p[3] = 255;
        }
    }
    return frame;
}
