// CPU time of one benchmark frame with a single worker, for comparing kernel changes on a busy
// machine (process CPU time is far steadier than wall time there) and for instruction counts
// under callgrind. Checks the fast frame against the plain one unless told not to.
//
//   quarro-morph-profile [SCENE 0..2] [FRAMES] [--no-check] [--plain]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench_scene.h"
#include "morph/fast_kernel.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"

namespace {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    int index = 1;
    int frames = 5;
    bool check = true;
    bool plainOnly = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-check") == 0) {
            check = false;
        } else if (std::strcmp(argv[i], "--plain") == 0) {
            plainOnly = true;
        } else if (positional++ == 0) {
            index = std::atoi(argv[i]);
        } else {
            frames = std::atoi(argv[i]);
        }
    }
    if (index < 0 || index > 2 || frames < 1) {
        std::fprintf(stderr, "usage: quarro-morph-profile [SCENE 0..2] [FRAMES] [--no-check] [--plain]\n");
        return 2;
    }
    InitFastSqrt();
    auto scene = benchscene::MakeScene(benchscene::kSizes[index]);
    CImageMorpher engine;
    engine.SetThreadCount(1);
    engine.SetKernel(plainOnly ? MorphKernel::Plain : MorphKernel::Fast);
    double best = 0.0;
    for (int f = 0; f < frames; ++f) {
        const double start = CpuSeconds();
        if (engine.RunMorph(scene->settings) != 0) {
            std::fprintf(stderr, "the morph failed\n");
            return 1;
        }
        const double t = CpuSeconds() - start;
        if (f == 0 || t < best) best = t;
    }
    std::printf("%s, %s kernel on %s, 1 worker: best %.2f ms CPU of %d frames\n", benchscene::kSizes[index].name,
                plainOnly ? "plain" : "fast", FastKernelTarget(), best * 1e3, frames);
    if (check && !plainOnly) {
        std::vector<unsigned char> fast(scene->output.pixels, scene->output.pixels + scene->output.ByteCount());
        engine.SetKernel(MorphKernel::Plain);
        engine.SetThreadCount(1);  // the mask is per worker: frames match for equal worker counts
        if (engine.RunMorph(scene->settings) != 0) return 1;
        const bool same = std::memcmp(fast.data(), scene->output.pixels, fast.size()) == 0;
        std::printf("frame %s the plain path's\n", same ? "identical to" : "DIFFERENT from");
        if (!same) return 1;
    }
    return 0;
}
