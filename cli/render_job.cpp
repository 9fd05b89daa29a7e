#include "cli/render_job.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

#include "cli/frame_pipeline.h"
#include "cli/frame_stream.h"
#include "cli/progress_bar.h"
#include "video/animation_writer.h"
#include "document/mrf_file.h"
#include "files/file_name.h"
#include "files/printable_name.h"
#include "image/decode_client.h"
#include "image/image_file.h"
#include "files/output_path.h"
#include "image/pixel_image.h"
#include "image/png_encoder.h"
#include "files/replace_file.h"
#include "files/writable_target.h"
#include "morph/frame_request.h"
#include "morph/image_morpher.h"
#include "morph/morph_scene.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "quarro-render: %s: %s\n", PrintableName(file).c_str(), PrintableName(reason).c_str());
    return 1;
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

// Reads image A and image B at once, each in a helper of its own. Every picture that fails
// gets its line, A's first: 0 when both were read, else 1. A colour profile that could not be
// used is a warning; with `verbose`, so is the profile a picture was converted from.
int LoadInputs(const std::string& pathA, const std::string& pathB, bool verbose, CPixelImage& imageA,
               CPixelImage& imageB) {
    const std::string paths[2] = {pathA, pathB}, names[2] = {"image A", "image B"};
    CPixelImage* images[2] = {&imageA, &imageB};
    std::string refusals[2];
    ImageColour colours[2];
    std::vector<ImageFileRead> reads;
    std::vector<int> slots;
    for (int i = 0; i < 2; ++i) {
        if (!Exists(paths[i])) {
            refusals[i] = names[i] + " is missing";
        } else {
            reads.emplace_back();
            reads.back().path = paths[i];
            slots.push_back(i);
        }
    }
    ReadImageFiles(reads);
    for (size_t k = 0; k < reads.size(); ++k) {
        const int i = slots[k];
        if (!reads[k].openReason.empty()) {  // a FIFO or a device is refused unopened
            refusals[i] = names[i] + " cannot be read: " + reads[k].openReason;
        } else if (reads[k].result != 0) {
            refusals[i] = names[i] + " could not be decoded: " + reads[k].reason;
        } else {
            images[i]->Swap(reads[k].image);
            images[i]->fileName = paths[i];
            colours[i] = reads[k].colour;
        }
    }
    int status = 0;
    for (int i = 0; i < 2; ++i) {
        const std::string name = PrintableName(paths[i]);
        if (!refusals[i].empty()) {
            status = Fail(paths[i], refusals[i]);
        } else if (colours[i].warning) {
            std::fprintf(stderr, "quarro-render: warning: %s %s: %s\n", names[i].c_str(), name.c_str(),
                         PrintableName(colours[i].note).c_str());
        } else if (verbose && !colours[i].note.empty()) {
            std::fprintf(stderr, "quarro-render: %s %s: %s\n", names[i].c_str(), name.c_str(),
                         PrintableName(colours[i].note).c_str());
        }
    }
    return status;
}

// Where image A or B is read from: the --image-a/--image-b path as given, else the document's
// path by the one rule for its relative paths, with a warning when the rule had to choose.
int LocateInput(const std::string& given, const std::string& stored, const char* which, const std::string& documentPath,
                std::string& path) {
    if (!given.empty()) {
        path = given;
        return 0;
    }
    if (stored.empty()) return Fail(documentPath, std::string("the document names no image ") + which);
    DocumentImage image = LocateDocumentImage(stored, documentPath);
    path = image.path;
    if (!image.found) return Fail(stored, std::string("image ") + which + " is missing: " + image.note);
    if (!image.note.empty()) {
        std::fprintf(stderr, "quarro-render: warning: image %s %s: %s\n", which, PrintableName(stored).c_str(),
                     PrintableName(image.note).c_str());
    }
    return 0;
}

// Inputs are never written over: no frame name of the run (nor the standard output) may lead
// to image A, image B or the document, however spelt. Checked before any decoding or render.
int RefuseReplacingInputs(const RenderOptions& options, const std::string& pathA, const std::string& pathB,
                          const std::vector<std::string>& paths) {
    CInputFiles inputs;
    inputs.Add(options.documentPath, "the document");
    inputs.Add(pathA, "image A");
    inputs.Add(pathB, "image B");
    std::string reason;
    if (WritesToStdout(options)) return inputs.CheckDescriptor(STDOUT_FILENO, reason) == 0 ? 0 : Fail("-", reason);
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i > 0 && paths[i] == paths[i - 1]) continue;  // an animation's one name
        if (inputs.CheckOutput(paths[i], reason) != 0) return Fail(paths[i], reason);
    }
    return 0;
}

// The output must be writable before any frame is rendered: a format that is written, then
// its folder and name.
int CheckOutput(const std::string& output, const OutputTarget& target) {
    if (!target.problem.empty()) return Fail(output, target.problem);
    std::string reason;
    return CheckOutputPath(output, reason) == 0 ? 0 : Fail(output, reason);
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

// Flushes once the folders of the frames written (their files were each flushed before they
// took their names), whatever the outcome `written` of the run, and returns it, or -1 with the
// folder's failure when the run had none.
int FlushFrameFolders(const std::vector<std::string>& paths, int written, std::string& failedPath, std::string& reason) {
    std::map<std::string, std::string> folders;  // each folder, and a frame in it
    for (const std::string& path : paths) folders.emplace(FolderOf(ResolveDestination(path)), path);
    for (const auto& folder : folders) {
        std::string why;
        if (FlushFolderOf(folder.second, why) != 0 && written == 0) {
            failedPath = folder.first;
            reason = "the folder could not be flushed to disk: " + why;
            written = -1;
        }
    }
    return written;
}

// How each frame of the run is written, on an encoder thread.
CFramePipeline::EncodeFunction FrameEncoder(const RenderOptions& options, CAnimationWriter& writer,
                                            CFrameStream& stream) {
    if (options.target.kind == OutputKind::Stream) {
        return [&stream](QueuedFrame& frame, std::string& reason) { return stream.WriteFrame(frame.image, reason); };
    }
    if (options.target.kind == OutputKind::Animation) {
        return [&writer](QueuedFrame& frame, std::string& reason) { return writer.WriteFrame(frame.image, reason); };
    }
    // Frame files: the writer of the format's row, as the window saves; the image library's
    // rare formats take turns inside their writer.
    const WritableFormat& format = *options.target.frame;
    const ImageWriteSettings settings = FrameWriteSettings(options);
    return [&format, settings](QueuedFrame& frame, std::string& reason) {
        // Each encoder thread keeps its file's buffer from frame to frame (the writer fills it
        // without clearing it first). Every frame is on disk before it takes its name; the
        // folder is flushed once, when the run has written them all.
        thread_local std::vector<unsigned char> encoded;
        if (WriteImageFile(frame.path, format, frame.image, settings, encoded, reason, FolderFlush::ByCaller) == 0) return 0;
        reason = "the output could not be written: " + reason;
        return -1;
    };
}

}  // namespace

int RunRender(const RenderOptions& options) {
    auto start = std::chrono::steady_clock::now();

    const bool sequence = options.frames > 0;
    const bool toStdout = options.target.kind == OutputKind::Stream;
    const bool animation = options.target.kind == OutputKind::Animation;
    const int first = sequence ? options.firstFrame : 0;
    const int last = sequence ? options.lastFrame : 0;
    const int count = last - first + 1;
    // Every name is fixed, and checked, before anything is read: the first and the last one
    // (the frame number may lengthen a name).
    std::vector<std::string> paths;
    for (int index = first; index <= last; ++index) {
        paths.push_back(sequence && !animation && !toStdout ? FramePath(options.outputPath, index) : options.outputPath);
    }
    std::string reason;
    if (toStdout) {
        if (isatty(STDOUT_FILENO)) {
            return Fail("-", "the standard output is a terminal: pipe the frames into a program, or redirect them");
        }
    } else if (CheckOutput(paths.front(), options.target) != 0 || CheckOutput(paths.back(), options.target) != 0) {
        return 1;
    } else {
        // A file of the run that may not be written stops it before anything is read.
        for (const std::string& path : paths) {
            if (CheckTargetWritable(path, reason) != 0) return Fail(path, reason);
        }
    }
    if (animation && FindFfmpeg(reason).empty()) return Fail(options.outputPath, reason);

    // The document fills the scene's lists, paths and parameters; the parameters are then set
    // as the window sets them.
    MorphScene scene;
    MorphSettings& settings = scene.settings;
    if (!Exists(options.documentPath)) return Fail(options.documentPath, "no such morph document");
    if (ReadMorphFile(options.documentPath, settings, reason) != 0) {
        return Fail(options.documentPath, "not a readable morph document: " + reason);
    }

    std::string pathA, pathB;
    if (LocateInput(options.imageA, settings.imagePathA, "A", options.documentPath, pathA) != 0 ||
        LocateInput(options.imageB, settings.imagePathB, "B", options.documentPath, pathB) != 0) {
        return 1;
    }
    if (RefuseReplacingInputs(options, pathA, pathB, paths) != 0) return 1;
    if (LoadInputs(pathA, pathB, options.verbose, scene.imageA, scene.imageB) != 0) return 1;

    // The window's settings: both fractions from the slider, the field-weight constants, the
    // output size, the lists straight from the document and 4 threads unless asked otherwise.
    ApplyFrameRequest(FrameRequestOf(options, first), scene.imageA, settings);

    CAnimationWriter writer;
    if (animation && writer.Open(options.outputPath, options.target, static_cast<int>(settings.outputWidth),
                                 static_cast<int>(settings.outputHeight), AnimationFormatOf(options), reason) != 0) {
        return Fail(options.outputPath, reason);
    }
    // One encoder keeps an animation's or a stream's frames in order; frame files are written
    // by as many encoders as there are cores (the image library's rare formats take turns).
    int encoders = 1, buffers = 2;
    const size_t frameBytes = static_cast<size_t>(settings.outputWidth) * settings.outputHeight * 4;
    PipelineShape(frameBytes, animation || toStdout, encoders, buffers);
    CFrameStream stream(STDOUT_FILENO, options.target.stream, options.fpsNum, options.fpsDen, options.pngLevel);
    CProgressBar bar(!options.quiet, count, "quarro-render: " + PrintableName(options.outputPath) + ": ", start);
    CFramePipeline::EncodeFunction encode = FrameEncoder(options, writer, stream);
    CFramePipeline pipeline(
        [&bar, &encode](QueuedFrame& frame, std::string& why) {
            if (encode(frame, why) != 0) return -1;
            bar.FrameWritten();
            return 0;
        },
        encoders, buffers);
    if (pipeline.Start(reason) != 0) return Fail(options.outputPath, reason);

    CImageMorpher engine;
    engine.SetThreadCount(static_cast<uint32_t>(options.threads));
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
    if (!animation && !toStdout) written = FlushFrameFolders(paths, written, failedPath, reason);
    // The animation is whole only once its writer has ended; the bar's last line and the
    // summary then tell the same time and rate.
    const bool unfinished = written == 0 && unrendered.empty() && animation && writer.Finish(reason) != 0;
    const double seconds = bar.Seconds();
    bar.Finish(seconds);
    if (!unrendered.empty()) return Fail(unrendered, "the frame could not be rendered");
    if (written != 0) return Fail(failedPath, reason);
    if (unfinished) return Fail(options.outputPath, reason);

    if (!options.quiet) std::fprintf(stderr, "%s\n", SummaryLine(count, seconds).c_str());
    return 0;
}
