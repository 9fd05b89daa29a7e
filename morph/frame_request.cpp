#include "morph/frame_request.h"

#include <atomic>
#include <chrono>
#include <cmath>

#include "image/pixel_image.h"
#include "morph/image_morpher.h"

bool IsFraction(double value) { return value >= 0.0 && value <= 1.0; }

bool IsOutputSide(long long side) { return side >= kMinOutputSide && side <= kMaxOutputSide; }

bool IsThreadCount(long long threads) { return threads >= 1 && threads <= kMaxMorphThreads; }

bool IsFrameCount(long long frames) { return frames >= 1 && frames <= kMaxFrames; }

std::string FieldWeightProblem(FieldWeight which, double value, float& narrowed) {
    // The field weight divides by a, and b and p are exponents of distance and length.
    if (which == FieldWeight::A && !(value > 0.0)) return "must be greater than 0";
    if (which != FieldWeight::A && !(value >= 0.0)) return "must not be negative";
    const float single = static_cast<float>(value);
    if (!std::isfinite(single)) return "is too large for single precision";
    narrowed = single;
    return "";
}

int RunLength(int frames, bool bounce) { return bounce && frames > 1 ? 2 * frames - 2 : frames; }

std::string FrameRangeProblem(int first, int last, int frames, bool bounce) {
    if (first >= 0 && first <= last && last < RunLength(frames, bounce)) return "";
    return bounce ? "frame range must satisfy 0 <= F <= L < 2N-2 with --bounce"
                  : "frame range must satisfy 0 <= F <= L < N";
}

double SequenceFraction(int index, int frames) {
    if (frames <= 1) return 0.0;
    return static_cast<double>(index) / static_cast<double>(frames - 1);
}

double RunFraction(int index, int frames, bool bounce) {
    if (bounce && index >= frames) index = 2 * frames - 2 - index;  // on the way back
    return SequenceFraction(index, frames);
}

float NarrowFraction(double fraction) { return static_cast<float>(fraction); }

int ClampOutputSide(double value) {
    if (!(value >= kMinOutputSide)) return kMinOutputSide;
    if (value >= kMaxOutputSide) return kMaxOutputSide;
    return static_cast<int>(value);
}

uint32_t DefaultOutputSide(int imageSide) { return static_cast<uint32_t>(ClampOutputSide(imageSide)); }

void ApplyFrameRequest(const FrameRequest& request, const CPixelImage& imageA, MorphSettings& settings) {
    settings.warpFrac = NarrowFraction(request.warp);
    settings.dissoveFrac = NarrowFraction(request.dissolve);
    settings.a = request.a;
    settings.b = request.b;
    settings.p = request.p;
    settings.outputWidth = request.width > 0 ? static_cast<uint32_t>(request.width) : DefaultOutputSide(imageA.width);
    settings.outputHeight =
        request.height > 0 ? static_cast<uint32_t>(request.height) : DefaultOutputSide(imageA.height);
}

namespace {

struct FrameRun {
    std::atomic<bool> rendered{false};
    static void OnFinished(void* data) { static_cast<FrameRun*>(data)->rendered.store(true); }
};

}  // namespace

int RenderOneFrame(CImageMorpher& engine, const MorphSettings& settings, FrameProgress progress, void* data) {
    FrameRun run;
    engine.SetCompletionCallback(&FrameRun::OnFinished, &run);
    const int started = engine.StartMorph(settings);
    if (progress == nullptr) {
        engine.WaitUntilIdle();
    } else {
        // The wait ends the moment the morph does; progress is reported every 0.1 s meanwhile.
        while (!engine.WaitUntilIdleFor(std::chrono::milliseconds(100))) {
            float done = 0.0f;
            if (engine.GetProgress(&done) == 0 && done < 1.0f) progress(done, data);
        }
    }
    engine.SetCompletionCallback(nullptr, nullptr);
    if (started != 0) return -1;
    return run.rendered.load() && settings.outputImage->pixels != nullptr ? 0 : -2;
}
