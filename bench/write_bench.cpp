// Writing a 1920 x 1080 opaque RGBA frame, as quarro.write_image and the renderer's frame files
// do: the encode alone into memory, and the whole checked save (encode, write, flush to disk,
// name) into a folder (QUARRO_BENCH_FOLDER, default /tmp), for BMP, TIFF and JPEG at 95. The
// difference between the two is what the save costs beyond encoding.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_writers.h"
#include "photo_frame.h"

namespace {

const CPixelImage& Frame() {
    static const CPixelImage frame = MakePhotoFrame();
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
