// What a front end may ask of the engine and how it becomes engine settings: the rules for
// fractions, field weights, output sizes, thread and frame counts, the fractions of a run's
// frames, and rendering one frame. quarro-render and the Python module both use these, so
// they accept the same requests and their frames are the same bytes.
#pragma once

#include <cstdint>
#include <string>

#include "morph/morph_settings.h"

class CImageMorpher;
class CPixelImage;

// The window's worker count, and the renderer's and the Python module's default.
constexpr int kMorphThreads = 4;
// The most worker threads a front end asks the engine for.
constexpr int kMaxMorphThreads = 256;
// The most frames one sequence runs through before --bounce doubles it.
constexpr int kMaxFrames = 1000000;

// True for a fraction in [0, 1]; NaN is none.
bool IsFraction(double value);
// True for an output side in kMinOutputSide..kMaxOutputSide.
bool IsOutputSide(long long side);
// True for a worker count in 1..kMaxMorphThreads.
bool IsThreadCount(long long threads);
// True for a sequence length in 1..kMaxFrames.
bool IsFrameCount(long long frames);

enum class FieldWeight { A, B, P };

// Narrows a field-weight constant to the float the engine takes. "" when it is usable, else the
// rule it breaks, to follow the weight's name: a divides ("must be greater than 0"), b and p
// are exponents ("must not be negative"), and each must stay finite in single precision.
std::string FieldWeightProblem(FieldWeight which, double value, float& narrowed);

// The number of frames a sequence of `frames` runs through: N, or 2N - 2 with bounce (the
// turning frames once each, so that the run loops without a pause); 0 for a single frame.
int RunLength(int frames, bool bounce);

// "" when frames first..last (0-based, inclusive) lie within the run, else the rule they break.
std::string FrameRangeProblem(int first, int last, int frames, bool bounce);

// The fraction of frame `index` in an evenly spaced sequence of `frames` frames running from
// 0 (image A) to 1 (image B): index / (frames - 1), and 0 for a sequence of one frame.
double SequenceFraction(int index, int frames);

// The fraction of frame `index` of a run: SequenceFraction, and with bounce the frames after
// B retrace the way back to A.
double RunFraction(int index, int frames, bool bounce);

// A fraction as the engine takes it: narrowed to float the way the window narrows its slider value.
float NarrowFraction(double fraction);

// An output side as a request takes it: truncated towards zero and clamped to
// kMinOutputSide..kMaxOutputSide; NaN gives kMinOutputSide.
int ClampOutputSide(double value);

// The output side taken from an image side when none is asked for: the side, clamped.
uint32_t DefaultOutputSide(int imageSide);

// The engine parameters of one frame, already checked by the rules above.
struct FrameRequest {
    double warp = 0.5, dissolve = 0.5;
    float a = kFieldWeightA, b = kFieldWeightB, p = kFieldWeightP;
    int width = 0, height = 0;  // 0: image A's side
};

// Sets the fractions, field weights and output size of `settings` as the window sets them;
// the pointers to pictures, lists and output are the caller's.
void ApplyFrameRequest(const FrameRequest& request, const CPixelImage& imageA, MorphSettings& settings);

// Called on the rendering thread about every 0.1 s while a frame renders, with the part done.
using FrameProgress = void (*)(float done, void* data);

// Renders one frame with `engine` (whose thread count the caller has set) and waits for it.
// 0 when rendered; -1 when no worker could be started; -2 when the output had no memory.
int RenderOneFrame(CImageMorpher& engine, const MorphSettings& settings, FrameProgress progress = nullptr,
                   void* data = nullptr);
