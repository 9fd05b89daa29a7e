// One frame of the engine (no file input or output) with the plain per-pixel path and with the
// vector kernel, 4 workers, on three scene sizes; ends with a table of both times and the ratio.
// Every fast frame is also compared byte for byte with the plain one of the same scene.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "morph/fast_kernel.h"
#include "morph/fast_sqrt.h"
#include "morph/image_morpher.h"
#include "support/random_scene.h"

namespace {

constexpr uint32_t kThreads = 4;

const SceneSize* const kSizes = kBenchSizes;

MorphScene& SceneFor(int index) {
    static std::unique_ptr<MorphScene> scenes[3];
    if (!scenes[index]) scenes[index] = MakeBenchScene(kSizes[index]);
    return *scenes[index];
}

std::map<std::string, std::vector<unsigned char>> gPlainFrames;
std::map<std::string, bool> gIdentical;

void BM_Frame(benchmark::State& state, MorphKernel kernel) {
    const int index = static_cast<int>(state.range(0));
    MorphScene& scene = SceneFor(index);
    CImageMorpher engine;
    engine.SetKernel(kernel);
    engine.SetThreadCount(kThreads);
    for (auto _ : state) {
        if (engine.RunMorph(scene.settings) != 0) {
            state.SkipWithError("the morph failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    const std::string name = kSizes[index].name;
    std::vector<unsigned char> frame(scene.output.pixels, scene.output.pixels + scene.output.ByteCount());
    if (kernel == MorphKernel::Plain) {
        gPlainFrames[name] = std::move(frame);
    } else if (gPlainFrames.count(name) != 0) {
        gIdentical[name] = gPlainFrames[name] == frame;
    }
    state.SetLabel(name);
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(kSizes[index].width) * kSizes[index].height,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Plain(benchmark::State& state) { BM_Frame(state, MorphKernel::Plain); }
void BM_Fast(benchmark::State& state) { BM_Frame(state, MorphKernel::Fast); }

// The plain path takes seconds per large frame: one or two iterations are enough there.
BENCHMARK(BM_Plain)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_Plain)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Plain)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Fast)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(3);

// The console output, plus the best time of every benchmark for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> bestMs;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const double ms = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                              benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string key = run.run_name.function_name + "/" + run.run_name.args;
            auto it = bestMs.find(key);
            if (it == bestMs.end() || ms < it->second) bestMs[key] = ms;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    InitFastSqrt();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nOne frame, %u workers, vector kernel on %s (best of the runs):\n", kThreads, FastKernelTarget());
    std::printf("%-16s %12s %12s %9s  %s\n", "scene", "plain ms", "fast ms", "ratio", "frames");
    for (int i = 0; i < 3; ++i) {
        const std::string arg = std::to_string(i);
        auto plain = reporter.bestMs.find("BM_Plain/" + arg);
        auto fast = reporter.bestMs.find("BM_Fast/" + arg);
        if (plain == reporter.bestMs.end() || fast == reporter.bestMs.end()) continue;
        const auto same = gIdentical.find(kSizes[i].name);
        std::printf("%-16s %12.1f %12.2f %8.1fx  %s\n", kSizes[i].name, plain->second, fast->second,
                    plain->second / fast->second,
                    same == gIdentical.end() ? "not compared" : (same->second ? "identical" : "DIFFERENT"));
    }
    benchmark::Shutdown();
    for (const auto& entry : gIdentical) {
        if (!entry.second) return 1;
    }
    return 0;
}
