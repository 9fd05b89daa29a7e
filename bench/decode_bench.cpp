// Reading a 1920 x 1080 picture: the image library in this process (how pictures were read
// before the decoding helper), libspng and libjpeg-turbo in this process (what the helper's
// decoders cost without the helper), against ReadImageFile, which hands the file to a confined
// helper process started ahead of need. The difference is the helper's overhead: its start
// (timed alone by HelperStart), its limits and filter, and the reply. The pictures are made
// here unless QUARRO_BENCH_PNG and QUARRO_BENCH_JPG name files (bench/read_compare.sh does).
#include <IL/il.h>
#include <benchmark/benchmark.h>
#include <spng.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>  // after cstdio and cstddef

#include "bench/helper_cpu.h"
#include "image/decode_client.h"
#include "image/helper_process.h"
#include "image/image_file.h"

namespace {

// On a shared machine wall time swings with the load; CPU time of this process and its
// helpers together is the steadier measure of the work a load costs.
class CpuCounter {
public:
    explicit CpuCounter(benchmark::State& state) : state(state), start(CpuSeconds()) {}
    ~CpuCounter() {
        double perLoad = (CpuSeconds() - start) / std::max<double>(1.0, static_cast<double>(state.iterations()));
        state.counters["cpu_ms_with_helpers"] = perLoad * 1000.0;
    }

private:
    benchmark::State& state;
    double start;
};

// A picture with smooth areas and detail, so that its files are of a photograph's usual size.
std::string WritePicture(const char* extension) {
    const char* given = std::getenv(std::strcmp(extension, "png") == 0 ? "QUARRO_BENCH_PNG" : "QUARRO_BENCH_JPG");
    if (given != nullptr && *given != '\0') return given;
    static char folder[] = "/tmp/quarro-decode-bench-XXXXXX";
    static bool made = mkdtemp(folder) != nullptr;
    std::string path = std::string(made ? folder : "/tmp") + "/picture." + extension;
    CPixelImage image;
    image.Allocate(1920, 1080, 4);
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) {
            unsigned char* p = image.pixels + (static_cast<size_t>(y) * 1920 + x) * 4;
            p[0] = static_cast<unsigned char>(128 + 127 * std::sin(x * 0.01 + y * 0.003));
            p[1] = static_cast<unsigned char>((x * y / 97 + (x ^ y) % 17) & 0xFF);
            p[2] = static_cast<unsigned char>(128 + 100 * std::cos(y * 0.02) + (x * 7 + y * 13) % 23);
            p[3] = 255;
        }
    }
    if (WriteImageFile(path, image) != 0) std::abort();
    return path;
}

// Removes a picture WritePicture made, not one it was given.
void RemoveMade(const std::string& path) {
    if (path.compare(0, 25, "/tmp/quarro-decode-bench-") == 0) unlink(path.c_str());
}

// The library's load as it ran in this process: decode, convert to RGBA, copy out.
void LoadInProcess(benchmark::State& state, const char* extension) {
    std::string path = WritePicture(extension);
    InitImageLibrary();
    CpuCounter cpu(state);
    for (auto _ : state) {
        ILuint name;
        ilGenImages(1, &name);
        ilBindImage(name);
        if (ilLoadImage(path.c_str()) != IL_TRUE || ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE) std::abort();
        CPixelImage image;
        image.Allocate(ilGetInteger(IL_IMAGE_WIDTH), ilGetInteger(IL_IMAGE_HEIGHT), 4);
        std::memcpy(image.pixels, ilGetData(), image.ByteCount());
        ilDeleteImages(1, &name);
        benchmark::DoNotOptimize(image.pixels);
    }
    RemoveMade(path);
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) std::abort();
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

// libspng in this process, file read included, to RGBA as the helper's decoder asks for it.
void SpngInProcess(benchmark::State& state) {
    std::string path = WritePicture("png");
    CpuCounter cpu(state);
    for (auto _ : state) {
        std::string bytes = ReadAll(path);
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, bytes.data(), bytes.size());
        size_t size = 0;
        if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) != 0) std::abort();
        CPixelImage image;
        spng_ihdr ihdr;
        spng_get_ihdr(ctx, &ihdr);
        image.Allocate(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), 4);
        if (spng_decode_image(ctx, image.pixels, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) std::abort();
        spng_ctx_free(ctx);
        benchmark::DoNotOptimize(image.pixels);
    }
    RemoveMade(path);
}

// libjpeg-turbo in this process, file read included, to RGBA rows as the helper's decoder reads them.
void TurboJpegInProcess(benchmark::State& state) {
    std::string path = WritePicture("jpg");
    CpuCounter cpu(state);
    for (auto _ : state) {
        std::string bytes = ReadAll(path);
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_EXT_RGBA;
        jpeg_start_decompress(&info);
        CPixelImage image;
        image.Allocate(static_cast<int>(info.output_width), static_cast<int>(info.output_height), 4);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = image.pixels + static_cast<size_t>(info.output_scanline) * info.output_width * 4;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(image.pixels);
    }
    RemoveMade(path);
}

void LoadThroughHelper(benchmark::State& state, const char* extension) {
    std::string path = WritePicture(extension);
    CpuCounter cpu(state);
    for (auto _ : state) {
        CPixelImage image;
        std::string reason;
        if (ReadImageFile(path, image, reason) != 0) {
            state.SkipWithError(reason.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
    }
    RemoveMade(path);
}

// A helper's start alone: it loads its libraries, finds its socket closed and exits. The
// program keeps one such helper started ahead of need, so this part is off a load's path.
void HelperStart(benchmark::State& state) {
    std::string program, reason;
    if (FindImageDecoder(program, reason) != 0) {
        state.SkipWithError(reason.c_str());
        return;
    }
    CpuCounter cpu(state);
    for (auto _ : state) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::abort();
        HelperProcess helper;
        if (StartHelperProcess(program, ends[1], helper, reason) != 0) std::abort();
        close(ends[1]);
        close(ends[0]);
        bool timedOut = false;
        WaitHelperProcess(helper, std::chrono::steady_clock::now() + std::chrono::seconds(10), timedOut);
    }
}

}  // namespace

BENCHMARK(HelperStart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadInProcess, png_1920x1080, "png")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SpngInProcess)->Name("SpngInProcess/png_1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadThroughHelper, png_1920x1080, "png")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadInProcess, jpg_1920x1080, "jpg")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TurboJpegInProcess)->Name("TurboJpegInProcess/jpg_1920x1080")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadThroughHelper, jpg_1920x1080, "jpg")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
