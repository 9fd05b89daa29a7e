// CPU time of one benchmark frame with a single worker, for comparing kernel changes on a busy
// machine (process CPU time is far steadier than wall time there) and for instruction counts
// under callgrind. Checks the fast frame against the plain one unless told not to.
//
//   quarro-morph-profile [SCENE 0..2] [FRAMES] [--no-check] [--plain] [--workers N]
// With more than one worker it reports the best wall time as well.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hwy/targets.h"
#include "morph/fast_kernel.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"
#include "support/random_scene.h"

namespace {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double WallSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    int index = 1;
    int frames = 5;
    bool check = true;
    bool plainOnly = false;
    int workers = 1;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--avx2") == 0) {
            hwy::SetSupportedTargetsForTest(HWY_AVX2);
        } else if (std::strcmp(argv[i], "--workers") == 0 && i + 1 < argc) {
            workers = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-check") == 0) {
            check = false;
        } else if (std::strcmp(argv[i], "--plain") == 0) {
            plainOnly = true;
        } else if (positional++ == 0) {
            index = std::atoi(argv[i]);
        } else {
            frames = std::atoi(argv[i]);
        }
    }
    if (index < 0 || index > 2 || frames < 1 || workers < 1 || workers > 64) {
        std::fprintf(stderr,
                     "usage: quarro-morph-profile [SCENE 0..2] [FRAMES] [--no-check] [--plain] [--workers N]\n");
        return 2;
    }
    InitFastSqrt();
    auto scene = MakeBenchScene(kBenchSizes[index]);
    CImageMorpher engine;
    engine.SetThreadCount(static_cast<uint32_t>(workers));
    engine.SetKernel(plainOnly ? MorphKernel::Plain : MorphKernel::Fast);
    double best = 0.0, bestWall = 0.0;
    for (int f = 0; f < frames; ++f) {
        const double start = CpuSeconds();
        const double wallStart = WallSeconds();
        if (engine.RunMorph(scene->settings) != 0) {
            std::fprintf(stderr, "the morph failed\n");
            return 1;
        }
        const double t = CpuSeconds() - start;
        const double wall = WallSeconds() - wallStart;
        if (f == 0 || t < best) best = t;
        if (f == 0 || wall < bestWall) bestWall = wall;
    }
    std::printf("%s, %s kernel on %s, %d worker(s): best %.2f ms CPU, best %.2f ms wall of %d frames\n",
                kBenchSizes[index].name, plainOnly ? "plain" : "fast", FastKernelTarget(), workers, best * 1e3,
                bestWall * 1e3, frames);
    if (check && !plainOnly) {
        std::vector<unsigned char> fast(scene->output.pixels, scene->output.pixels + scene->output.ByteCount());
        engine.SetKernel(MorphKernel::Plain);
        // The mask is per worker: frames match for equal worker counts.
        if (engine.RunMorph(scene->settings) != 0) return 1;
        const bool same = std::memcmp(fast.data(), scene->output.pixels, fast.size()) == 0;
        std::printf("frame %s the plain path's\n", same ? "identical to" : "DIFFERENT from");
        if (!same) return 1;
    }
    return 0;
}
