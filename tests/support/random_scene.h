// Generated scenes for tests, benchmarks and the comparison with other warps: pictures with a
// gradient and a checker, and pairs scattered over them as a user places them on matching
// features, each moved and turned a little between A and B. The same seed gives the same scene.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "morph/morph_scene.h"

// The benchmark scenes: pictures of the output's size.
struct SceneSize {
    const char* name;
    uint32_t width, height, pairs;
};
extern const SceneSize kBenchSizes[3];

// The blue channel of a test picture: `base`, plus `level` on every other square of a checker
// of `cell` pixels shifted right by `phase`, plus random bits `noise` (a mask; 0 for none).
struct Checker {
    int cell = 16, phase = 0, level = 180, base = 0;
    uint32_t noise = 63, seed = 1;
};

// A w x h RGBA picture: red grows to the right, green downward, blue as `checker` says.
void FillTestPicture(CPixelImage& image, int w, int h, const Checker& checker);

// Appends `pairs` pairs in the document's unit square, from a generator seeded with `seed`.
void ScatterPairs(SegmentList& segmentsA, SegmentList& segmentsB, uint32_t pairs, uint32_t seed);

// Saves the scene's pictures as a.png and b.png in `folder` and the document `name` beside
// them, naming them relative to its own folder (the scene's file names become "a.png" and
// "b.png"); 0 on success.
int WriteSceneFiles(MorphScene& scene, const std::string& folder, const std::string& name);

// A benchmark scene: both pictures and the output at the size's width and height, and its pairs.
std::unique_ptr<MorphScene> MakeBenchScene(const SceneSize& size);
