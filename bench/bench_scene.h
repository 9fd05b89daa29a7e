// The benchmark scenes: two generated pictures of the output's size and pairs scattered over
// them, each moved and turned a little between A and B.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "image/pixel_image.h"
#include "morph/morph_settings.h"
#include "morph/segment_list.h"

namespace benchscene {

struct SceneSize {
    const char* name;
    uint32_t width, height, pairs;
};

inline const SceneSize kSizes[] = {
    {"640x480/10", 640, 480, 10},
    {"1920x1080/50", 1920, 1080, 50},
    {"3840x2160/100", 3840, 2160, 100},
};

struct BenchScene {
    CPixelImage imageA, imageB, output;
    SegmentList segmentsA, segmentsB;
    MorphSettings settings;
};

inline void Fill(CPixelImage& image, int w, int h, uint32_t seed) {
    image.Allocate(w, h, 4);
    std::mt19937 rng(seed);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            unsigned char* px = image.pixels + (static_cast<size_t>(r) * w + c) * 4;
            px[0] = static_cast<unsigned char>((c * 255) / w);
            px[1] = static_cast<unsigned char>((r * 255) / h);
            px[2] = static_cast<unsigned char>(((c / 16 + r / 16) % 2) * 180 + (rng() & 63));
            px[3] = 255;
        }
    }
}

// Images of the output's size; pairs scattered over the picture, each moved and turned a little
// between A and B, as a user places them on corresponding features.
inline std::unique_ptr<BenchScene> MakeScene(const SceneSize& size) {
    auto s = std::make_unique<BenchScene>();
    Fill(s->imageA, static_cast<int>(size.width), static_cast<int>(size.height), 1);
    Fill(s->imageB, static_cast<int>(size.width), static_cast<int>(size.height), 2);
    std::mt19937 rng(size.pairs);
    std::uniform_real_distribution<float> pos(0.05f, 0.95f), len(0.03f, 0.2f), angle(0.0f, 6.2831853f),
        shift(-0.03f, 0.03f), turn(-0.3f, 0.3f);
    for (uint32_t i = 0; i < size.pairs; ++i) {
        const float x = pos(rng), y = pos(rng), l = len(rng), t = angle(rng);
        const float bx = x + shift(rng), by = y + shift(rng), bt = t + turn(rng), bl = l * (1.0f + shift(rng));
        s->segmentsA.push_back(LineSegment(Point(x, y), Point(x + l * std::cos(t), y + l * std::sin(t))));
        s->segmentsB.push_back(LineSegment(Point(bx, by), Point(bx + bl * std::cos(bt), by + bl * std::sin(bt))));
    }
    MorphSettings& m = s->settings;
    m.imageA = &s->imageA;
    m.imageB = &s->imageB;
    m.outputImage = &s->output;
    m.segmentsA = &s->segmentsA;
    m.segmentsB = &s->segmentsB;
    m.outputWidth = size.width;
    m.outputHeight = size.height;
    return s;
}

}  // namespace benchscene
