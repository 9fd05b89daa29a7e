// morph() and sequence(): the renderer's frames for numpy arrays. The arguments become the
// frame request quarro-render builds from its options, judged by the same rules and rendered by
// the same function, so a frame here is byte for byte the renderer's; the engine runs with the
// interpreter lock released.
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "morph/frame_request.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"
#include "python/array_convert.h"
#include "python/bindings.h"
#include "python/frame_arguments.h"

namespace {

// True when pairs are given in pixels, false for the document's normalized units.
bool PixelUnits(const py::handle& units) {
    if (!PyUnicode_Check(units.ptr())) RaiseWrongType("units", "\"normalized\" or \"pixels\"", units);
    const std::string text = units.cast<std::string>();
    if (text != "normalized" && text != "pixels") {
        throw py::value_error("units must be \"normalized\" or \"pixels\", not \"" + text.substr(0, 40) + "\"");
    }
    return text == "pixels";
}

// Runs the signal handlers every 0.1 s while the engine renders, as the interpreter does
// between its steps: when one raises (Ctrl+C's KeyboardInterrupt), the morph stops at its next
// row and the exception is left set for the caller to raise.
struct SignalWatch {
    CImageMorpher& engine;
    bool raised = false;

    static void Check(float, void* data) {
        auto* self = static_cast<SignalWatch*>(data);
        if (self->raised) return;
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
            self->raised = true;
            self->engine.Cancel();
        }
    }
};

PixelFrame FrameOf(const CPixelImage& image) {
    return PixelFrame{static_cast<double>(image.width), static_cast<double>(image.height)};
}

// What morph() and sequence() share: the pictures, the pairs, the workers and the request's
// weights and size, checked and converted once.
struct MorphInputs {
    MorphInputs(const py::handle& a, const py::handle& b, const py::handle& pairsA, const py::handle& pairsB,
                const py::handle& size, const py::handle& threadCount, const py::handle& weights,
                const py::handle& units)
        : imageA(a, "image_a"), imageB(b, "image_b") {
        const bool pixels = PixelUnits(units);
        const PixelFrame frameA = FrameOf(imageA.image), frameB = FrameOf(imageB.image);
        segmentsA = SegmentsFromArray(pairsA, "pairs_a", pixels ? &frameA : nullptr);
        segmentsB = SegmentsFromArray(pairsB, "pairs_b", pixels ? &frameB : nullptr);
        if (segmentsA.size() != segmentsB.size()) {
            throw py::value_error("pairs_a and pairs_b must hold the same number of rows, not " +
                                  std::to_string(segmentsA.size()) + " and " + std::to_string(segmentsB.size()));
        }
        threads = ThreadsArgument(threadCount);
        WeightsArgument(weights, request);
        SizeArgument(size, request);
    }

    // Renders the frame at these fractions into a new array, without the interpreter lock.
    py::array Render(CImageMorpher& engine, double warp, double dissolve) {
        // Frames quicker than the watch's period are many: a signal is seen between them too.
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        auto output = std::make_unique<CPixelImage>();
        FrameRequest frame = request;
        frame.warp = warp;
        frame.dissolve = dissolve;
        MorphSettings settings;
        PointSettingsAt(settings, imageA.image, imageB.image, *output, segmentsA, segmentsB);
        ApplyFrameRequest(frame, imageA.image, settings);
        int result;
        SignalWatch watch{engine};
        {
            py::gil_scoped_release unlocked;
            engine.SetThreadCount(static_cast<uint32_t>(threads));
            result = RenderOneFrame(engine, settings, &SignalWatch::Check, &watch);
        }
        if (watch.raised) throw py::error_already_set();
        if (result == -1) throw std::runtime_error("no thread could be started for the morph");
        if (result != 0) {
            PyErr_SetString(PyExc_MemoryError, ("no memory for a frame of " + std::to_string(settings.outputWidth) +
                                                " x " + std::to_string(settings.outputHeight) + " pixels")
                                                   .c_str());
            throw py::error_already_set();
        }
        return ArrayFromImage(std::move(output));
    }

    EngineImage imageA, imageB;
    SegmentList segmentsA, segmentsB;
    int threads = kMorphThreads;
    FrameRequest request;
};

py::array Morph(const py::object& imageA, const py::object& imageB, const py::object& pairsA,
                const py::object& pairsB, const py::object& t, const py::object& warp, const py::object& dissolve,
                const py::object& size, const py::object& threads, const py::object& weights,
                const py::object& units) {
    const double fraction = *FractionArgument(t, "t");
    const double warpFraction = FractionArgument(warp, "warp", true).value_or(fraction);
    const double dissolveFraction = FractionArgument(dissolve, "dissolve", true).value_or(fraction);
    MorphInputs inputs(imageA, imageB, pairsA, pairsB, size, threads, weights, units);
    CImageMorpher engine;
    return inputs.Render(engine, warpFraction, dissolveFraction);
}

// The frames of a run, rendered one at a time as they are asked for, on one engine.
class FrameSequence {
public:
    FrameSequence(const py::handle& imageA, const py::handle& imageB, const py::handle& pairsA,
                  const py::handle& pairsB, const py::handle& n, const py::handle& warpFraction,
                  const py::handle& dissolveFraction, const py::handle& size, const py::handle& threads,
                  const py::handle& weights, const py::handle& bounceFlag, const py::handle& frameRange,
                  const py::handle& units)
        : frames(FrameCountArgument(n, "n")),
          bounce(FlagArgument(bounceFlag, "bounce")),
          warp(FractionArgument(warpFraction, "warp", true)),
          dissolve(FractionArgument(dissolveFraction, "dissolve", true)),
          inputs(imageA, imageB, pairsA, pairsB, size, threads, weights, units) {
        first = next = 0;
        last = RunLength(frames, bounce) - 1;
        if (!frameRange.is_none()) RangeFrom(frameRange);
    }

    py::array Next() {
        if (next > last) throw py::stop_iteration();
        return Render(next++);
    }

    // The frames the sequence holds, whether or not they were iterated.
    int Length() const { return last - first + 1; }

    // Frame `position` of the sequence (from the end when negative), rendered anew.
    py::array At(long long position) {
        const long long length = Length();
        const long long at = position < 0 ? position + length : position;
        if (at < 0 || at >= length) {
            PyErr_SetString(PyExc_IndexError, ("frame " + std::to_string(position) + " of a sequence of " +
                                               std::to_string(length) + " frames")
                                                  .c_str());
            throw py::error_already_set();
        }
        return Render(first + static_cast<int>(at));
    }

private:
    // Frame `index` of the run.
    py::array Render(int index) {
        const double t = RunFraction(index, frames, bounce);
        // Frames asked for from several threads at once take the engine in turn.
        std::unique_lock<std::mutex> turn(engineTurn, std::defer_lock);
        {
            py::gil_scoped_release unlocked;
            turn.lock();
        }
        return inputs.Render(engine, warp.value_or(t), dissolve.value_or(t));
    }

    // frame_range (first, last) of the run, both included, as quarro-render's --frame-range F:L.
    void RangeFrom(const py::handle& range) {
        if (!PySequence_Check(range.ptr()) || PyUnicode_Check(range.ptr()) || py::len(range) != 2) {
            RaiseWrongType("frame_range", "a pair (first, last)", range);
        }
        py::sequence items = py::reinterpret_borrow<py::sequence>(range);
        const long long first = WholeArgument(items[0], "first frame");
        const long long lastFrame = WholeArgument(items[1], "last frame");
        // Beyond any run's length the numbers are refused before they are narrowed.
        const bool fits = first >= 0 && lastFrame <= 2LL * kMaxFrames;
        const std::string problem = FrameRangeProblem(fits ? static_cast<int>(first) : -1,
                                                      fits ? static_cast<int>(lastFrame) : -1, frames, bounce);
        if (!problem.empty()) {
            throw py::value_error("frame_range (" + std::to_string(first) + ", " + std::to_string(lastFrame) +
                                  ") of a run of " + std::to_string(RunLength(frames, bounce)) + " frames: " + problem);
        }
        next = this->first = static_cast<int>(first);
        last = static_cast<int>(lastFrame);
    }

    const int frames;
    const bool bounce;
    const std::optional<double> warp, dissolve;
    MorphInputs inputs;
    CImageMorpher engine;
    std::mutex engineTurn;
    int first, next, last;
};

py::array PairsFromPixelsArgument(const py::object& pairs, const py::object& width, const py::object& height) {
    const double sides[2] = {RealArgument(width, "width"), RealArgument(height, "height")};
    for (double side : sides) {
        if (!(side > 0.0 && std::isfinite(side))) throw py::value_error("width and height must be above 0 and finite");
    }
    return PairsFromPixels(pairs, PixelFrame{sides[0], sides[1]});
}

}  // namespace

void AddMorphFunctions(py::module_& module) {
    using namespace pybind11::literals;
    const py::tuple defaultWeights = WindowWeights();

    module.def("morph", &Morph, "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a, "t"_a = 0.5,
               "warp"_a = py::none(), "dissolve"_a = py::none(), "size"_a = py::none(),
               "threads"_a = kMorphThreads, "weights"_a = defaultWeights, "units"_a = "normalized",
               "Renders the frame at fraction t from image_a (0) to image_b (1) as a new (H, W, 4) uint8 array.\n\n"
               "image_a, image_b: (H, W) or (H, W, 1) grey, (H, W, 3) or (H, W, 4) uint8 arrays, any strides.\n"
               "pairs_a, pairs_b: (N, 4) arrays of segment end points (x0, y0, x1, y1). With\n"
               "    units=\"normalized\" (the default) as documents store them: x from 0 (left) to 1\n"
               "    (right), y from 0 (bottom) to 1 (top). With units=\"pixels\" in the pixels of their own\n"
               "    picture, y down: column and row as image[row, column] indexes them.\n"
               "warp, dissolve: the geometry and the colour fraction apart (default: t).\n"
               "size: (width, height) of the frame, each 1..10000 (default: image_a's size).\n"
               "threads: workers, 1..256; weights: the field-weight constants (a, b, p).\n"
               "The frame equals quarro-render's for the same inputs, byte for byte.");

    py::class_<FrameSequence>(module, "Sequence",
                              "The frames of quarro.sequence(), rendered one at a time as they are asked for;\n"
                              "len() gives the number of frames and sequence[i] renders frame i of them.")
        .def("__iter__", [](FrameSequence& self) -> FrameSequence& { return self; })
        .def("__next__", &FrameSequence::Next)
        .def("__len__", &FrameSequence::Length)
        .def("__getitem__", [](FrameSequence& self, const py::object& position) {
            return self.At(WholeArgument(position, "frame index"));
        });

    module.def(
        "sequence",
        [](const py::object& imageA, const py::object& imageB, const py::object& pairsA, const py::object& pairsB,
           const py::object& n, const py::object& warp, const py::object& dissolve, const py::object& size,
           const py::object& threads, const py::object& weights, const py::object& bounce,
           const py::object& frameRange, const py::object& units) {
            return std::make_unique<FrameSequence>(imageA, imageB, pairsA, pairsB, n, warp, dissolve, size, threads,
                                                   weights, bounce, frameRange, units);
        },
        "image_a"_a, "image_b"_a, "pairs_a"_a, "pairs_b"_a, "n"_a, "warp"_a = py::none(), "dissolve"_a = py::none(),
        "size"_a = py::none(), "threads"_a = kMorphThreads, "weights"_a = defaultWeights, "bounce"_a = false,
        "frame_range"_a = py::none(), "units"_a = "normalized",
        "Yields the n frames at fractions 0, 1/(n-1), ..., 1 one by one, as quarro-render -n n renders\n"
        "them; a frame is rendered only when it is asked for. bounce=True runs A -> B -> A in 2n - 2\n"
        "frames (the turning frames once each), as --bounce does; frame_range=(first, last) yields only\n"
        "those frames of the run, both included, as --frame-range F:L does. warp or dissolve, when\n"
        "given, hold that fraction fixed for every frame. The other arguments are those of morph().");

    module.def("pairs_from_pixels", &PairsFromPixelsArgument, "pairs"_a, "width"_a, "height"_a,
               "The (N, 4) float64 normalized end points of pairs given in pixels of a width x height\n"
               "picture (x right, y down): (x / width, 1 - y / height), as documents store them and\n"
               "morph() takes them by default.");
}
