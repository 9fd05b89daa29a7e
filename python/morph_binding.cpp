// morph() and sequence(): the renderer's frames for numpy arrays. The arguments become the
// settings quarro-render builds, so a frame here is byte for byte the renderer's; the engine
// runs with the interpreter lock released.
#include <pybind11/stl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "morph/frame_request.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"
#include "python/argument_checks.h"
#include "python/array_convert.h"
#include "python/bindings.h"

namespace {

// The renderer's largest sequence.
const long long kMaxFrames = 1000000;

// What morph() and sequence() share: the pictures, the pairs, the output size, the workers
// and the field weights, checked and converted once.
struct MorphInputs {
    MorphInputs(const py::handle& a, const py::handle& b, const py::handle& pairsA, const py::handle& pairsB,
                const py::handle& size, long long threadCount, const py::handle& weightValues)
        : imageA(a, "image_a"),
          imageB(b, "image_b"),
          segmentsA(SegmentsFromArray(pairsA, "pairs_a")),
          segmentsB(SegmentsFromArray(pairsB, "pairs_b")),
          threads(CheckCount(threadCount, 1, kMaxMorphThreads, "threads")),
          weights(WeightsFrom(weightValues)) {
        if (segmentsA.size() != segmentsB.size()) {
            throw py::value_error("pairs_a and pairs_b must hold the same number of rows, not " +
                                  std::to_string(segmentsA.size()) + " and " + std::to_string(segmentsB.size()));
        }
        if (size.is_none()) {
            width = DefaultOutputSide(imageA.image.width);
            height = DefaultOutputSide(imageA.image.height);
        } else {
            SizeFrom(size, width, height);
        }
    }

    // The settings of one frame rendered into `output`, as quarro-render fills them.
    MorphSettings Settings(double warp, double dissolve, CPixelImage& output) {
        MorphSettings settings;
        PointSettingsAt(settings, imageA.image, imageB.image, output, segmentsA, segmentsB);
        settings.warpFrac = NarrowFraction(warp);
        settings.dissoveFrac = NarrowFraction(dissolve);
        settings.a = weights.a;
        settings.b = weights.b;
        settings.p = weights.p;
        settings.outputWidth = width;
        settings.outputHeight = height;
        return settings;
    }

    EngineImage imageA, imageB;
    SegmentList segmentsA, segmentsB;
    int threads;
    FieldWeights weights;
    uint32_t width = 0, height = 0;
};

struct FrameRun {
    std::atomic<bool> rendered{false};
    static void OnFinished(void* data) { static_cast<FrameRun*>(data)->rendered.store(true); }
};

// Renders one frame on `engine` and waits for it; called without the interpreter lock.
// 0 when rendered, -1 when no thread could be started, -2 when the output could not be had.
int RenderFrame(CImageMorpher& engine, int threads, const MorphSettings& settings) {
    FrameRun run;
    engine.SetThreadCount(static_cast<uint32_t>(threads));
    engine.SetCompletionCallback(&FrameRun::OnFinished, &run);
    int started = engine.StartMorph(settings);
    engine.WaitUntilIdle();
    engine.SetCompletionCallback(nullptr, nullptr);
    if (started != 0) return -1;
    return run.rendered.load() && settings.outputImage->pixels != nullptr ? 0 : -2;
}

py::array Render(CImageMorpher& engine, MorphInputs& inputs, double warp, double dissolve) {
    auto output = std::make_unique<CPixelImage>();
    MorphSettings settings = inputs.Settings(warp, dissolve, *output);
    int result;
    {
        py::gil_scoped_release unlocked;
        result = RenderFrame(engine, inputs.threads, settings);
    }
    if (result == -1) throw std::runtime_error("no thread could be started for the morph");
    if (result != 0) {
        PyErr_SetString(PyExc_MemoryError, ("no memory for a frame of " + std::to_string(inputs.width) + " x " +
                                            std::to_string(inputs.height) + " pixels").c_str());
        throw py::error_already_set();
    }
    return ArrayFromImage(std::move(output));
}

py::array Morph(const py::object& imageA, const py::object& imageB, const py::object& pairsA,
                const py::object& pairsB, double t, std::optional<double> warp, std::optional<double> dissolve,
                const py::object& size, long long threads, const py::object& weights) {
    CheckFraction(t, "t");
    double warpFraction = CheckFraction(warp.value_or(t), "warp");
    double dissolveFraction = CheckFraction(dissolve.value_or(t), "dissolve");
    MorphInputs inputs(imageA, imageB, pairsA, pairsB, size, threads, weights);
    CImageMorpher engine;
    return Render(engine, inputs, warpFraction, dissolveFraction);
}

// The frames of a sequence, rendered one at a time as they are asked for, on one engine.
class FrameSequence {
public:
    FrameSequence(const py::handle& imageA, const py::handle& imageB, const py::handle& pairsA,
                  const py::handle& pairsB, long long n, std::optional<double> warpFraction,
                  std::optional<double> dissolveFraction, const py::handle& size, long long threads,
                  const py::handle& weights)
        : count(CheckCount(n, 1, kMaxFrames, "n")),
          warp(warpFraction ? std::optional<double>(CheckFraction(*warpFraction, "warp")) : std::nullopt),
          dissolve(dissolveFraction ? std::optional<double>(CheckFraction(*dissolveFraction, "dissolve"))
                                    : std::nullopt),
          inputs(imageA, imageB, pairsA, pairsB, size, threads, weights) {}

    py::array Next() {
        if (next >= count) throw py::stop_iteration();
        int index = next++;
        double t = SequenceFraction(index, count);
        // Frames asked for from several threads at once take the engine in turn.
        std::unique_lock<std::mutex> turn(engineTurn, std::defer_lock);
        {
            py::gil_scoped_release unlocked;
            turn.lock();
        }
        return Render(engine, inputs, warp.value_or(t), dissolve.value_or(t));
    }

    int Remaining() const { return count - next; }

private:
    const int count;
    const std::optional<double> warp, dissolve;
    MorphInputs inputs;
    CImageMorpher engine;
    std::mutex engineTurn;
    int next = 0;
};

}  // namespace

void AddMorphFunctions(py::module_& module) {
    using namespace pybind11::literals;
    const py::tuple defaultWeights = WindowWeights();

    module.def("morph", &Morph, "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a, "t"_a = 0.5,
               "warp"_a = py::none(), "dissolve"_a = py::none(), "size"_a = py::none(),
               "threads"_a = kMorphThreads, "weights"_a = defaultWeights,
               "Renders the frame at fraction t from image_a (0) to image_b (1) as a new (H, W, 4) uint8 array.\n\n"
               "image_a, image_b: (H, W, 3) or (H, W, 4) uint8 arrays, any strides.\n"
               "pairs_a, pairs_b: (N, 4) arrays of segment end points (x0, y0, x1, y1), normalized to\n"
               "    their image: x from 0 (left) to 1 (right), y from 0 (bottom) to 1 (top).\n"
               "warp, dissolve: the geometry and the colour fraction apart (default: t).\n"
               "size: (width, height) of the frame, each 1..10000 (default: image_a's size).\n"
               "threads: workers, 1..256; weights: the field-weight constants (a, b, p).\n"
               "The frame equals quarro-render's for the same inputs, byte for byte.");

    py::class_<FrameSequence>(module, "Sequence",
                              "The frames of quarro.sequence(), rendered one at a time as they are asked for;\n"
                              "len() gives the number still to come.")
        .def("__iter__", [](FrameSequence& self) -> FrameSequence& { return self; })
        .def("__next__", &FrameSequence::Next)
        .def("__len__", &FrameSequence::Remaining);

    module.def(
        "sequence",
        [](const py::object& imageA, const py::object& imageB, const py::object& pairsA, const py::object& pairsB,
           long long n, std::optional<double> warp, std::optional<double> dissolve, const py::object& size,
           long long threads, const py::object& weights) {
            return std::make_unique<FrameSequence>(imageA, imageB, pairsA, pairsB, n, warp, dissolve, size,
                                                   threads, weights);
        },
        "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a, "n"_a, "warp"_a = py::none(), "dissolve"_a = py::none(),
        "size"_a = py::none(), "threads"_a = kMorphThreads, "weights"_a = defaultWeights,
        "Yields the n frames at fractions 0, 1/(n-1), ..., 1 one by one, as quarro-render -n n renders\n"
        "them; a frame is rendered only when it is asked for. warp or dissolve, when given, hold that\n"
        "fraction fixed for every frame. The other arguments are those of morph().");
}
