// Writing a 1920 x 1080 opaque RGBA frame, as quarro.write_image and the renderer's frame files
// do: the encode alone into memory, and the whole checked save (encode, write, flush to disk,
// name) into a folder (QUARRO_BENCH_FOLDER, default /tmp), for BMP, TIFF and JPEG at 95. The
// difference between the two is what the save costs beyond encoding.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_writers.h"

namespace {

const CPixelImage& Frame() {
    static const CPixelImage frame = [] {
        CPixelImage made;
        made.Allocate(1920, 1080, 4);
        std::mt19937 random(7);
        std::normal_distribution<float> grain(0.0f, 6.0f);
        for (int y = 0; y < made.height; ++y) {
            for (int x = 0; x < made.width; ++x) {
                unsigned char* p = made.pixels + (static_cast<size_t>(y) * made.width + x) * 4;
                const float shade[3] = {128 + 90 * std::sin(x * 0.004f + y * 0.007f),
                                        128 + 80 * std::cos(x * 0.006f - y * 0.003f), 128 + 70 * std::sin((x + y) * 0.002f)};
                for (int c = 0; c < 3; ++c) {
                    p[c] = static_cast<unsigned char>(std::fmin(255.0f, std::fmax(0.0f, shade[c] + grain(random))));
                }
                p[3] = 255;
            }
        }
        return made;
    }();
    return frame;
}

const char* const kExtensions[] = {"bmp", "tif", "jpg"};

void BM_Encode(benchmark::State& state) {
    const WritableFormat* format = WritableFormatNamed(kExtensions[state.range(0)]);
    std::vector<unsigned char> bytes;
    std::string reason;
    for (auto _ : state) {
        if (EncodeImage(*format, ImageWriteSettings(), Frame(), bytes, reason) != 0) state.SkipWithError(reason.c_str());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetLabel(kExtensions[state.range(0)]);
}
BENCHMARK(BM_Encode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Save(benchmark::State& state) {
    const char* folder = std::getenv("QUARRO_BENCH_FOLDER");
    const std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/quarro_write_bench_" +
                             std::to_string(getpid()) + "." + kExtensions[state.range(0)];
    std::string reason;
    for (auto _ : state) {
        if (WriteImageFile(path, Frame(), ImageWriteSettings(), reason) != 0) state.SkipWithError(reason.c_str());
    }
    unlink(path.c_str());
    state.SetLabel(kExtensions[state.range(0)]);
}
BENCHMARK(BM_Save)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
