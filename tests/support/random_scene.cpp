#include "support/random_scene.h"

#include <cmath>
#include <random>

#include "document/mrf_file.h"
#include "image/image_file.h"

const SceneSize kBenchSizes[3] = {
    {"640x480/10", 640, 480, 10},
    {"1920x1080/50", 1920, 1080, 50},
    {"3840x2160/100", 3840, 2160, 100},
};

void FillTestPicture(CPixelImage& image, int w, int h, const Checker& checker) {
    image.Allocate(w, h, 4);
    std::mt19937 rng(checker.seed);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            unsigned char* px = image.pixels + (static_cast<size_t>(r) * w + c) * 4;
            px[0] = static_cast<unsigned char>((c * 255) / w);
            px[1] = static_cast<unsigned char>((r * 255) / h);
            const int square = (((c + checker.phase) / checker.cell + r / checker.cell) % 2) * checker.level;
            const int bits = checker.noise != 0 ? static_cast<int>(rng() & checker.noise) : 0;
            px[2] = static_cast<unsigned char>(checker.base + square + bits);
            px[3] = 255;
        }
    }
}

void ScatterPairs(SegmentList& segmentsA, SegmentList& segmentsB, uint32_t pairs, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(0.05f, 0.95f), len(0.03f, 0.2f), angle(0.0f, 6.2831853f),
        shift(-0.03f, 0.03f), turn(-0.3f, 0.3f);
    for (uint32_t i = 0; i < pairs; ++i) {
        const float x = pos(rng), y = pos(rng), l = len(rng), t = angle(rng);
        const float bx = x + shift(rng), by = y + shift(rng), bt = t + turn(rng), bl = l * (1.0f + shift(rng));
        segmentsA.push_back(LineSegment(Point(x, y), Point(x + l * std::cos(t), y + l * std::sin(t))));
        segmentsB.push_back(LineSegment(Point(bx, by), Point(bx + bl * std::cos(bt), by + bl * std::sin(bt))));
    }
}

int WriteSceneFiles(MorphScene& scene, const std::string& folder, const std::string& name) {
    if (WriteImageFile(folder + "/a.png", scene.imageA) != 0 || WriteImageFile(folder + "/b.png", scene.imageB) != 0) {
        return -1;
    }
    scene.imageA.fileName = "a.png";
    scene.imageB.fileName = "b.png";
    return WriteMorphFile(folder + "/" + name, scene.settings);
}

std::unique_ptr<MorphScene> MakeBenchScene(const SceneSize& size) {
    auto scene = std::make_unique<MorphScene>();
    const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
    Checker checker;
    FillTestPicture(scene->imageA, w, h, checker);
    checker.seed = 2;
    FillTestPicture(scene->imageB, w, h, checker);
    ScatterPairs(scene->segmentsA, scene->segmentsB, size.pairs, size.pairs);
    scene->settings.outputWidth = size.width;
    scene->settings.outputHeight = size.height;
    return scene;
}
