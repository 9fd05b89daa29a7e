// quarro-compare-scene FOLDER WIDTH HEIGHT PAIRS: writes the inputs of bench/compare.sh:
// FOLDER/a.png and FOLDER/b.png (WIDTH x HEIGHT), FOLDER/scene.mrf with PAIRS segment pairs
// between them, and FOLDER/points.txt with the same correspondence as point pairs for a
// point-based warp: every segment endpoint in A's pixels and its place halfway to B, as
// "xA,yA xM,yM" lines (2 x PAIRS point pairs).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "image/pixel_image.h"

namespace {

void Draw(CPixelImage& image, int w, int h, int phase) {
    image.Allocate(w, h, 4);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            unsigned char* px = image.pixels + (static_cast<size_t>(r) * w + c) * 4;
            px[0] = static_cast<unsigned char>((c * 255) / w);
            px[1] = static_cast<unsigned char>((r * 255) / h);
            px[2] = static_cast<unsigned char>((((c + phase) / 40 + r / 40) % 2) * 200 + 30);
            px[3] = 255;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: quarro-compare-scene FOLDER WIDTH HEIGHT PAIRS\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), pairs = std::atoi(argv[4]);
    if (w < 2 || h < 2 || pairs < 1 || !InitImageLibrary()) return 1;
    CPixelImage imageA, imageB;
    Draw(imageA, w, h, 0);
    Draw(imageB, w, h, 17);
    if (imageA.Save(folder + "/a.png") != 0 || imageB.Save(folder + "/b.png") != 0) return 1;
    imageA.fileName = "a.png";
    imageB.fileName = "b.png";

    // Segments in the editor's coordinates (y upward), moved and turned a little from A to B.
    SegmentList segmentsA, segmentsB;
    std::mt19937 rng(static_cast<unsigned>(pairs));
    std::uniform_real_distribution<float> pos(0.05f, 0.95f), len(0.03f, 0.2f), angle(0.0f, 6.2831853f),
        shift(-0.03f, 0.03f), turn(-0.3f, 0.3f);
    FILE* points = std::fopen((folder + "/points.txt").c_str(), "w");
    if (points == nullptr) return 1;
    for (int i = 0; i < pairs; ++i) {
        const float x = pos(rng), y = pos(rng), l = len(rng), t = angle(rng);
        const float bx = x + shift(rng), by = y + shift(rng), bt = t + turn(rng), bl = l * (1.0f + shift(rng));
        const Point pa(x, y), qa(x + l * std::cos(t), y + l * std::sin(t));
        const Point pb(bx, by), qb(bx + bl * std::cos(bt), by + bl * std::sin(bt));
        segmentsA.push_back(LineSegment(pa, qa));
        segmentsB.push_back(LineSegment(pb, qb));
        for (const auto& ends : {std::make_pair(pa, pb), std::make_pair(qa, qb)}) {
            const Point& a = ends.first;
            const Point& b = ends.second;
            std::fprintf(points, "%.2f,%.2f %.2f,%.2f\n", a.x * w, (1.0f - a.y) * h, (a.x + b.x) * 0.5f * w,
                         (1.0f - (a.y + b.y) * 0.5f) * h);
        }
    }
    std::fclose(points);

    MorphSettings settings;
    settings.imageA = &imageA;
    settings.imageB = &imageB;
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;
    return WriteMorphFile(folder + "/scene.mrf", settings) == 0 ? 0 : 1;
}
