// quarro-compare-scene FOLDER WIDTH HEIGHT PAIRS: writes the inputs of bench/compare.sh:
// FOLDER/a.png and FOLDER/b.png (WIDTH x HEIGHT), FOLDER/scene.mrf with PAIRS segment pairs
// between them, and FOLDER/points.txt with the same correspondence as point pairs for a
// point-based warp: every segment endpoint in A's pixels and its place halfway to B, as
// "xA,yA xM,yM" lines (2 x PAIRS point pairs).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "document/mrf_file.h"
#include "image/image_file.h"
#include "support/random_scene.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: quarro-compare-scene FOLDER WIDTH HEIGHT PAIRS\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), pairs = std::atoi(argv[4]);
    if (w < 2 || h < 2 || pairs < 1 || !InitImageLibrary()) return 1;
    // The benchmark scenes' pairs over larger checkers; the second picture's checker is shifted.
    MorphScene scene;
    Checker checker;
    checker.cell = 40;
    checker.level = 200;
    checker.base = 30;
    checker.noise = 0;
    FillTestPicture(scene.imageA, w, h, checker);
    checker.phase = 17;
    FillTestPicture(scene.imageB, w, h, checker);
    if (scene.imageA.Save(folder + "/a.png") != 0 || scene.imageB.Save(folder + "/b.png") != 0) return 1;
    scene.imageA.fileName = "a.png";
    scene.imageB.fileName = "b.png";

    // Segments in the editor's coordinates (y upward), moved and turned a little from A to B.
    ScatterPairs(scene.segmentsA, scene.segmentsB, static_cast<uint32_t>(pairs), static_cast<uint32_t>(pairs));
    FILE* points = std::fopen((folder + "/points.txt").c_str(), "w");
    if (points == nullptr) return 1;
    for (size_t i = 0; i < scene.segmentsA.size(); ++i) {
        const LineSegment& onA = scene.segmentsA[i];
        const LineSegment& onB = scene.segmentsB[i];
        for (const auto& ends : {std::make_pair(onA.P, onB.P), std::make_pair(onA.Q, onB.Q)}) {
            const Point& a = ends.first;
            const Point& b = ends.second;
            std::fprintf(points, "%.2f,%.2f %.2f,%.2f\n", a.x * w, (1.0f - a.y) * h, (a.x + b.x) * 0.5f * w,
                         (1.0f - (a.y + b.y) * 0.5f) * h);
        }
    }
    std::fclose(points);
    return WriteMorphFile(folder + "/scene.mrf", scene.settings) == 0 ? 0 : 1;
}
