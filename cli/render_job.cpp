#include "cli/render_job.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "cli/animation_writer.h"
#include "cli/frame_pipeline.h"
#include "cli/progress_bar.h"
#include "document/mrf_file.h"
#include "image/image_file.h"
#include "files/input_file.h"
#include "files/output_path.h"
#include "image/pixel_image.h"
#include "image/png_encoder.h"
#include "files/replace_file.h"
#include "morph/frame_request.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "quarro-render: %s: %s\n", file.c_str(), reason.c_str());
    return 1;
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

int LoadInput(const std::string& path, const char* which, const std::string& documentPath, CPixelImage& image) {
    if (path.empty()) return Fail(documentPath, std::string("the document names no image ") + which);
    if (!Exists(path)) return Fail(path, std::string("image ") + which + " is missing");
    std::string reason;
    int fd = OpenInputFile(path, reason);  // a FIFO or a device would block the decoder
    if (fd < 0) return Fail(path, std::string("image ") + which + " cannot be read: " + reason);
    close(fd);
    if (image.Load(path, reason) != 0) return Fail(path, std::string("image ") + which + " could not be decoded: " + reason);
    return 0;
}

// The output must be writable before any frame is rendered: its folder and name, and for
// frames the image format (an animation's format is the animation writer's).
int CheckOutput(const std::string& output, bool animation) {
    std::string reason;
    int result = animation ? CheckOutputPath(output, reason) : CheckImageOutputPath(output, reason);
    return result == 0 ? 0 : Fail(output, reason);
}

struct BarProgress {
    CProgressBar& bar;
    int done, total;
    static void Show(float part, void* data) {
        auto* self = static_cast<BarProgress*>(data);
        self->bar.Show((static_cast<float>(self->done) + part) / static_cast<float>(self->total));
    }
};

// Runs one morph on the engine and waits for it, drawing the progress of the whole job.
// True when the engine rendered the frame.
bool RenderFrame(CImageMorpher& engine, const MorphSettings& settings, CProgressBar& bar, int done, int total) {
    BarProgress progress{bar, done, total};
    if (RenderOneFrame(engine, settings, &BarProgress::Show, &progress) != 0) return false;
    bar.Show(static_cast<float>(done + 1) / static_cast<float>(total));
    return true;
}

// The image library keeps global state: its saves take turns, whichever encoder runs them.
std::mutex gImageLibraryMutex;

// How each frame of the run is written, on an encoder thread.
CFramePipeline::EncodeFunction FrameEncoder(const RenderOptions& options, bool animation, CAnimationWriter& writer) {
    if (animation) {
        return [&writer](QueuedFrame& frame, std::string& reason) { return writer.WriteFrame(frame.image, reason); };
    }
    if (IsPngPath(options.outputPath)) {
        int level = options.pngLevel;
        return [level](QueuedFrame& frame, std::string& reason) {
            return WritePngFile(frame.path, frame.image, level, reason);
        };
    }
    return [](QueuedFrame& frame, std::string& reason) {
        std::lock_guard<std::mutex> lock(gImageLibraryMutex);
        if (WriteImageFile(frame.path, frame.image, reason) == 0) return 0;
        reason = "the output could not be written: " + reason;
        return -1;
    };
}

}  // namespace

int RunRender(const RenderOptions& options) {
    auto start = std::chrono::steady_clock::now();

    const bool sequence = options.frames > 0;
    const bool animation = sequence && IsAnimationPath(options.outputPath);
    const int first = sequence ? options.firstFrame : 0;
    const int last = sequence ? options.lastFrame : 0;
    const int count = last - first + 1;
    // Every name is fixed, and checked, before anything is read: the first and the last one
    // (the frame number may lengthen a name).
    std::vector<std::string> paths;
    for (int index = first; index <= last; ++index) {
        paths.push_back(sequence && !animation ? FramePath(options.outputPath, index) : options.outputPath);
    }
    if (CheckOutput(paths.front(), animation) != 0 || CheckOutput(paths.back(), animation) != 0) return 1;
    std::string reason;
    if (animation && FindFfmpeg(reason).empty()) return Fail(options.outputPath, reason);

    // The document fills the scene's lists, paths and parameters; the parameters are then set
    // as the window sets them.
    MorphScene scene;
    MorphSettings& settings = scene.settings;
    if (!Exists(options.documentPath)) return Fail(options.documentPath, "no such morph document");
    if (ReadMorphFile(options.documentPath, settings, reason) != 0) {
        return Fail(options.documentPath, "not a readable morph document: " + reason);
    }

    std::string pathA = options.imageA.empty() ? ResolveImagePath(settings.imagePathA, options.documentPath)
                                               : options.imageA;
    std::string pathB = options.imageB.empty() ? ResolveImagePath(settings.imagePathB, options.documentPath)
                                               : options.imageB;
    if (LoadInput(pathA, "A", options.documentPath, scene.imageA) != 0 ||
        LoadInput(pathB, "B", options.documentPath, scene.imageB) != 0) {
        return 1;
    }

    // The window's settings: both fractions from the slider, the field-weight constants, the
    // output size, the lists straight from the document and 4 threads unless asked otherwise.
    ApplyFrameRequest(FrameRequestOf(options, first), scene.imageA, settings);

    CAnimationWriter writer;
    if (animation && writer.Open(options.outputPath, static_cast<int>(settings.outputWidth),
                                 static_cast<int>(settings.outputHeight), options.fps, reason) != 0) {
        return Fail(options.outputPath, reason);
    }
    // One encoder keeps an animation's frames in order, and the image library's saves take
    // turns anyway; PNG frames are written by as many encoders as there are cores.
    int encoders = 1, buffers = 2;
    const size_t frameBytes = static_cast<size_t>(settings.outputWidth) * settings.outputHeight * 4;
    PipelineShape(frameBytes, animation || !IsPngPath(options.outputPath), encoders, buffers);
    CFramePipeline pipeline(FrameEncoder(options, animation, writer), encoders, buffers);
    if (pipeline.Start(reason) != 0) return Fail(options.outputPath, reason);

    CImageMorpher engine;
    engine.SetThreadCount(static_cast<uint32_t>(options.threads));
    CProgressBar bar(!options.quiet);
    std::string unrendered;
    for (int index = first; index <= last; ++index) {
        QueuedFrame* frame = pipeline.Acquire();
        if (frame == nullptr) break;  // a frame failed to be written; Finish says which
        settings.outputImage = &frame->image;
        ApplyFrameRequest(FrameRequestOf(options, index), scene.imageA, settings);
        if (!RenderFrame(engine, settings, bar, index - first, count)) {
            pipeline.Release(frame);
            unrendered = paths[static_cast<size_t>(index - first)];
            break;
        }
        frame->index = index;
        frame->path = paths[static_cast<size_t>(index - first)];
        pipeline.Submit(frame);
    }
    std::string failedPath;
    int written = pipeline.Finish(failedPath, reason);
    bar.Finish();
    if (!unrendered.empty()) return Fail(unrendered, "the frame could not be rendered");
    if (written != 0) return Fail(failedPath, reason);
    if (animation && writer.Finish(reason) != 0) return Fail(options.outputPath, reason);

    if (!options.quiet) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "Rendered %d frame%s in %.2f s\n", count, count == 1 ? "" : "s", seconds);
    }
    return 0;
}
