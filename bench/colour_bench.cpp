// What colour conversion costs a read: a 12-megapixel JPEG (4000 x 3000) untagged, with a
// Display P3 profile read as stored, and with the profile converted to sRGB, all through the
// decoding helper. Converted against stored is the conversion's share; untagged against stored
// shows that looking for a profile costs an untagged picture nothing worth counting, and
// ColourLookUntagged times that look alone. ConvertP3 and PrepareP3 time the conversion of the
// picture's worth of pixels and its preparation in this process, apart from the decode: by the
// curves with the processor's best instruction set and with AVX2 (processors without AVX-512),
// and by the tables that stand in where the curves cannot.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>  // after cstdio

#include "bench/helper_cpu.h"
#include "hwy/targets.h"
#include "decoder/colour_convert.h"
#include "decoder/colour_description.h"
#include "image/decode_client.h"
#include "image/image_file.h"
#include "support/display_p3.h"

namespace {

const int kWidth = 4000, kHeight = 3000;

// A photograph-like picture as a quality-90 JPEG.
std::string Jpeg() {
    std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
            p[0] = static_cast<unsigned char>(128 + 127 * std::sin(x * 0.003 + y * 0.001));
            p[1] = static_cast<unsigned char>(128 + 120 * std::cos(x * 0.002 - y * 0.004) + (x ^ y) % 7);
            p[2] = static_cast<unsigned char>(128 + 100 * std::cos(y * 0.005) + (x * 7 + y * 13) % 23);
        }
    }
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = kWidth, info.image_height = kHeight, info.input_components = 3, info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(info.next_scanline) * kWidth * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&info);
    std::free(out);
    return bytes;
}

// The Display P3 profile in one APP2 segment after the start of `jpeg`.
std::string WithP3(const std::string& jpeg) {
    std::string body = std::string("ICC_PROFILE") + '\0' + '\1' + '\1' + DisplayP3Profile();
    size_t length = body.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE2" + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + body +
           jpeg.substr(2);
}

struct Files {
    std::string untagged, p3;
    Files() {
        static char folder[] = "/tmp/quarro-colour-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) std::abort();
        std::string jpeg = Jpeg();
        untagged = std::string(folder) + "/untagged.jpg";
        p3 = std::string(folder) + "/p3.jpg";
        for (auto [path, bytes] : {std::pair<std::string, std::string>{untagged, jpeg}, {p3, WithP3(jpeg)}}) {
            FILE* file = std::fopen(path.c_str(), "wb");
            if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
            std::fclose(file);
        }
    }
    ~Files() {
        unlink(untagged.c_str());
        unlink(p3.c_str());
        rmdir(untagged.substr(0, untagged.rfind('/')).c_str());
    }
};

const Files& TheFiles() {
    static Files files;
    return files;
}

void Read(benchmark::State& state, bool p3, bool keepStored) {
    const std::string& path = p3 ? TheFiles().p3 : TheFiles().untagged;
    double start = CpuSeconds();
    for (auto _ : state) {
        CPixelImage image;
        ImageColour colour;
        colour.keepStored = keepStored;
        std::string reason;
        if (ReadImageFile(path, image, reason, &colour) != 0 || colour.warning) {
            state.SkipWithError((reason + colour.note).c_str());
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
    }
    state.counters["cpu_ms_with_helpers"] = (CpuSeconds() - start) * 1000.0 / std::max<double>(1, state.iterations());
}

// The conversion alone, in this process: a 12-megapixel picture's worth of 8-bit RGBA pixels
// converted from Display P3 in batches of the size the helper hands over, by the polynomials
// (curves) or by the tables they stand in for.
void ConvertP3(benchmark::State& state, bool withCurves, int64_t target) {
    hwy::SetSupportedTargetsForTest(target);  // 0: the processor's best
    struct Reset {
        ~Reset() { hwy::SetSupportedTargetsForTest(0); }
    } reset;
    if (target != 0 && (hwy::SupportedTargets() & target) == 0) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    std::string profile = DisplayP3Profile();
    ColourDescription description = ProfileDescription(reinterpret_cast<const unsigned char*>(profile.data()), profile.size(), "the Display P3 profile");
    ColourConversion conversion;
    conversion.withCurves = withCurves;
    DecodedImage note;
    if (!conversion.Prepare(description, ColourSamples::kRgba8, false, note) || std::string(conversion.Form()) != (withCurves ? "curves" : "tables")) {
        state.SkipWithError(("not the form asked for: " + note.colourNote).c_str());
        return;
    }
    if (withCurves) state.SetLabel(CurvesTarget());
    const size_t batch = 32768;
    std::vector<unsigned char> in(4 * batch), out(4 * batch);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
    for (auto _ : state) {
        for (size_t done = 0; done < static_cast<size_t>(kWidth) * kHeight; done += batch) {
            conversion.Convert(in.data(), out.data(), batch);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["ns_per_pixel"] = benchmark::Counter(static_cast<double>(kWidth) * kHeight * 1e-9,
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

// Preparing that conversion: the engine's transform, and the tables sampled from it and checked.
void PrepareP3(benchmark::State& state) {
    std::string profile = DisplayP3Profile();
    ColourDescription description = ProfileDescription(reinterpret_cast<const unsigned char*>(profile.data()),
                                                       profile.size(), "the Display P3 profile");
    for (auto _ : state) {
        ColourConversion conversion;
        DecodedImage note;
        benchmark::DoNotOptimize(conversion.Prepare(description, ColourSamples::kRgba8, false, note));
    }
}

void ColourLookUntagged(benchmark::State& state) {
    FILE* file = std::fopen(TheFiles().untagged.c_str(), "rb");
    std::vector<unsigned char> bytes(64 << 20);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    for (auto _ : state) {
        benchmark::DoNotOptimize(MayNeedColourEngine(bytes.data(), bytes.size(), ImageFormat::kJpeg));
    }
}

}  // namespace

BENCHMARK_CAPTURE(Read, untagged_12mp, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Read, p3_12mp_stored, true, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Read, p3_12mp_converted, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ConvertP3, curves, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ConvertP3, curves_avx2, true, HWY_AVX2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ConvertP3, tables, false, 0)->Unit(benchmark::kMillisecond);
BENCHMARK(PrepareP3)->Unit(benchmark::kMillisecond);
BENCHMARK(ColourLookUntagged)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
