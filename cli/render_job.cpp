#include "cli/render_job.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <system_error>

#include "cli/progress_bar.h"
#include "document/mrf_file.h"
#include "image/image_file.h"
#include "image/pixel_image.h"
#include "morph/frame_request.h"
#include "morph/image_morpher.h"

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
    if (image.Load(path) != 0) return Fail(path, std::string("image ") + which + " could not be decoded");
    return 0;
}

// The output's folder must exist and take new files; checked before any frame is rendered.
int CheckOutputFolder(const std::string& output) {
    fs::path folder = fs::path(output).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    if (!fs::is_directory(folder, error)) return Fail(output, "the output folder " + folder.string() + " does not exist");
    if (access(folder.c_str(), W_OK) != 0) return Fail(output, "the output folder " + folder.string() + " is not writable");
    return 0;
}

struct FrameRun {
    std::atomic<bool> rendered{false};
    static void OnFinished(void* data) { static_cast<FrameRun*>(data)->rendered.store(true); }
};

// Runs one morph on the engine and waits for it, drawing the progress of the whole job.
// True when the engine rendered the frame.
bool RenderFrame(CImageMorpher& engine, const MorphSettings& settings, CProgressBar& bar, int done, int total) {
    FrameRun run;
    engine.SetCompletionCallback(&FrameRun::OnFinished, &run);
    if (engine.StartMorph(settings) != 0) return false;
    // The wait ends the moment the morph does; the bar is refreshed every 0.1 s meanwhile.
    std::future<void> idle;
    try {
        idle = std::async(std::launch::async, [&engine]() { engine.WaitUntilIdle(); });
    } catch (const std::system_error&) {
        engine.WaitUntilIdle();  // no thread for the waiter: wait here, without progress
    }
    while (idle.valid() && idle.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        float fraction = 0.0f;
        if (engine.GetProgress(&fraction) == 0 && fraction < 1.0f) {
            bar.Show((static_cast<float>(done) + fraction) / static_cast<float>(total));
        }
    }
    if (idle.valid()) idle.get();
    engine.SetCompletionCallback(nullptr, nullptr);
    bar.Show(static_cast<float>(done + 1) / static_cast<float>(total));
    return run.rendered.load() && settings.outputImage->pixels != nullptr;
}

}  // namespace

std::string ResolveImagePath(const std::string& stored, const std::string& documentPath) {
    fs::path path(stored);
    if (stored.empty() || path.is_absolute() || Exists(stored)) return stored;
    fs::path besideDocument = fs::path(documentPath).parent_path() / path;
    if (Exists(besideDocument.string())) return besideDocument.string();
    return stored;
}

int RunRender(const RenderOptions& options) {
    auto start = std::chrono::steady_clock::now();

    SegmentList segmentsA, segmentsB;
    MorphSettings document;
    document.segmentsA = &segmentsA;
    document.segmentsB = &segmentsB;
    if (!Exists(options.documentPath)) return Fail(options.documentPath, "no such morph document");
    if (ReadMorphFile(options.documentPath, document) != 0) {
        return Fail(options.documentPath, "not a readable morph document");
    }

    CPixelImage imageA, imageB, output;
    std::string pathA = options.imageA.empty() ? ResolveImagePath(document.imagePathA, options.documentPath)
                                               : options.imageA;
    std::string pathB = options.imageB.empty() ? ResolveImagePath(document.imagePathB, options.documentPath)
                                               : options.imageB;
    if (LoadInput(pathA, "A", options.documentPath, imageA) != 0 ||
        LoadInput(pathB, "B", options.documentPath, imageB) != 0) {
        return 1;
    }

    const bool sequence = options.frames > 0;
    const int first = sequence ? options.firstFrame : 0;
    const int last = sequence ? options.lastFrame : 0;
    const int count = last - first + 1;
    std::string firstPath = sequence ? FramePath(options.outputPath, first) : options.outputPath;
    if (CheckOutputFolder(firstPath) != 0) return 1;

    // The window's settings: both fractions from the slider, the field-weight constants, the
    // output size, the lists straight from the document and 4 threads unless asked otherwise.
    MorphSettings settings;
    settings.imageA = &imageA;
    settings.imageB = &imageB;
    settings.outputImage = &output;
    settings.segmentsA = &segmentsA;
    settings.segmentsB = &segmentsB;
    settings.a = options.a;
    settings.b = options.b;
    settings.p = options.p;
    settings.outputWidth = options.hasSize ? static_cast<uint32_t>(options.width) : DefaultOutputSide(imageA.width);
    settings.outputHeight = options.hasSize ? static_cast<uint32_t>(options.height) : DefaultOutputSide(imageA.height);

    CImageMorpher engine;
    engine.SetThreadCount(static_cast<uint32_t>(options.threads));
    CProgressBar bar(!options.quiet);
    for (int index = first; index <= last; ++index) {
        FrameFractions(options, index, settings.warpFrac, settings.dissoveFrac);
        std::string path = sequence ? FramePath(options.outputPath, index) : options.outputPath;
        if (!RenderFrame(engine, settings, bar, index - first, count)) {
            bar.Finish();
            return Fail(path, "the frame could not be rendered");
        }
        if (WriteImageFile(path, output) != 0) {
            bar.Finish();
            return Fail(path, "the output could not be written (unknown extension, or no permission)");
        }
    }
    bar.Finish();

    if (!options.quiet) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "Rendered %d frame%s in %.2f s\n", count, count == 1 ? "" : "s", seconds);
    }
    return 0;
}
