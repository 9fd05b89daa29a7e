// write_animation(): frames from any Python iterable written as one animation by the video
// library's animation writer (ffmpeg, fed raw frames on a pipe), as the renderer writes them. The frames are taken one at a time,
// so a sequence() is rendered while the animation is encoded; the interpreter lock is released
// while a frame is handed over. The file appears only once ffmpeg has succeeded.
#include <cerrno>
#include <memory>
#include <string>

#include "video/animation_writer.h"
#include "files/output_path.h"
#include "python/animation_arguments.h"
#include "python/array_convert.h"
#include "python/bindings.h"
#include "python/file_errors.h"
#include "python/frame_arguments.h"
#include "video/animation_writer.h"

namespace {

int WriteAnimation(const py::object& file, const py::object& frames, const py::object& fpsValue,
                   const py::object& quality, const py::object& codec) {
    const std::string path = PathArgument(file, "path");
    const OutputTarget target = AnimationTarget(path);
    const AnimationFormat format = AnimationArguments(target, fpsValue, quality, codec);
    std::string reason;
    errno = 0;
    if (CheckOutputPath(path, reason) != 0) RaiseFileError(errno, reason, path);
    if (FindFfmpeg(reason).empty()) RaiseFileError(0, reason, path);

    py::iterator items = py::iter(frames);
    CAnimationWriter writer;  // an animation not finished is aborted, its file removed
    int count = 0, width = 0, height = 0;
    for (py::handle item : items) {
        const std::string name = "frames[" + std::to_string(count) + "]";
        EngineImage frame(item, name.c_str());
        if (count == 0) {
            width = frame.image.width;
            height = frame.image.height;
            int opened;
            {
                py::gil_scoped_release unlocked;
                opened = writer.Open(path, target, width, height, format, reason);
            }
            if (opened != 0) RaiseFileError(0, reason, path);
        } else if (frame.image.width != width || frame.image.height != height) {
            throw py::value_error(name + " is " + std::to_string(frame.image.width) + " x " +
                                  std::to_string(frame.image.height) + " pixels; the first frame was " +
                                  std::to_string(width) + " x " + std::to_string(height));
        }
        int written;
        {
            py::gil_scoped_release unlocked;
            written = writer.WriteFrame(frame.image, reason);
        }
        if (written != 0) RaiseFileError(0, reason, path);
        ++count;
        // Ctrl+C between frames: the writer, unfinished, removes what it wrote.
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    if (count == 0) throw py::value_error("frames holds no frame; an animation needs at least one");
    int finished;
    {
        py::gil_scoped_release unlocked;
        finished = writer.Finish(reason);
    }
    if (finished != 0) RaiseFileError(0, reason, path);
    return count;
}

}  // namespace

void AddAnimationFunctions(py::module_& module) {
    using namespace pybind11::literals;
    module.def("write_animation", &WriteAnimation, "path"_a, "frames"_a, "fps"_a = 25, "quality"_a = py::none(),
               "codec"_a = py::none(),
               "Writes the frames of any iterable ((H, W, 3|4) uint8 arrays of one size, e.g. a sequence())\n"
               "as one animation, the format following the extension: .mp4 .mov .mkv (H.264), .webm (VP9),\n"
               ".gif or .webp, through the animation writer quarro-render uses and the ffmpeg program. The\n"
               "file appears only once it is complete; returns the number of frames written.\n"
               "fps, quality and codec take what quarro-render's --fps, --quality and --codec take, with the\n"
               "same ranges and defaults: fps an int, a float of up to three decimals or a fractions.Fraction\n"
               "(30000/1001); quality the CRF of a video codec or the quality of a WebP; codec h264, hevc,\n"
               "vp9 or av1.");
}
