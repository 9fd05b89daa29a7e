// Compressing a 1920 x 1080 frame's PNG rows at level 1: the banded encoder on 1, 2 and 4
// threads against one zlib stream and, where libdeflate is installed, one libdeflate stream of
// the same filtered rows (what a whole-buffer compressor gives on one core). The frame is
// photo-like (soft shapes, grain) unless QUARRO_BENCH_FRAME names a PNG to encode instead.
#include <benchmark/benchmark.h>
#include <zlib.h>

#ifdef QUARRO_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/png_encoder.h"
#include "photo_frame.h"

namespace {

CPixelImage MakeFrame() {
    CPixelImage frame;
    const char* file = std::getenv("QUARRO_BENCH_FRAME");
    if (file != nullptr && ReadImageFile(file, frame) == 0) return frame;
    return MakePhotoFrame();
}

const CPixelImage& Frame() {
    static const CPixelImage frame = MakeFrame();
    return frame;
}

// The opaque frame's rows as the encoder deflates them: RGB, each row up-filtered.
const std::vector<unsigned char>& FilteredRows() {
    static const std::vector<unsigned char> rows = [] {
        const CPixelImage& frame = Frame();
        const size_t width = static_cast<size_t>(frame.width);
        std::vector<unsigned char> out;
        for (int y = 0; y < frame.height; ++y) {
            out.push_back(2);
            const unsigned char* row = frame.pixels + y * width * 4;
            for (size_t x = 0; x < width * 4; ++x) {
                if (x % 4 != 3) out.push_back(static_cast<unsigned char>(row[x] - (y > 0 ? row[x - width * 4] : 0)));
            }
        }
        return out;
    }();
    return rows;
}

void BandedEncoder(benchmark::State& state) {
    std::vector<unsigned char> png;
    std::string reason;
    for (auto _ : state) {
        if (EncodePng(Frame(), 1, static_cast<int>(state.range(0)), png, reason) != 0) state.SkipWithError(reason.c_str());
    }
    state.counters["bytes"] = static_cast<double>(png.size());
}
BENCHMARK(BandedEncoder)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void OneZlibStream(benchmark::State& state) {
    const std::vector<unsigned char>& rows = FilteredRows();
    std::vector<unsigned char> out(compressBound(rows.size()));
    uLongf size = 0;
    for (auto _ : state) {
        size = out.size();
        compress2(out.data(), &size, rows.data(), rows.size(), 1);
    }
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(OneZlibStream)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QUARRO_BENCH_LIBDEFLATE
void OneLibdeflateStream(benchmark::State& state) {
    const std::vector<unsigned char>& rows = FilteredRows();
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(static_cast<int>(state.range(0)));
    std::vector<unsigned char> out(libdeflate_zlib_compress_bound(compressor, rows.size()));
    size_t size = 0;
    for (auto _ : state) size = libdeflate_zlib_compress(compressor, rows.data(), rows.size(), out.data(), out.size());
    libdeflate_free_compressor(compressor);
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(OneLibdeflateStream)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
