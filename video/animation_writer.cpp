#include "video/animation_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/file_name.h"
#include "files/pending_temps.h"

namespace {

// How each video encoder is driven: its fastest setting, so that the animation keeps up with
// the renderer, and the smallest side it takes.
struct EncoderDriver {
    const char* encoder;
    const char* speed;
    int minSide;
};

const EncoderDriver kDrivers[] = {
    {"libx264", "-preset ultrafast", 1},
    {"libx265", "-preset ultrafast -x265-params log-level=error", 1},
    {"libvpx-vp9", "-b:v 0 -deadline realtime -cpu-used 8 -row-mt 1", 1},
    {"libaom-av1", "-b:v 0 -usage realtime -cpu-used 8 -row-mt 1", 1},
    {"libsvtav1", "-preset 12", 64},
};

// Players take untagged HD video as BT.709, so that is what is encoded, at limited range, and
// said so. The scale filter applies out_color_matrix only when it converts from RGB itself,
// so the conversion to 4:2:0 happens there and not in an automatic scaler that would use the
// BT.601 matrix under the same tags.
const char kBt709Conversion[] = "scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";
const char* const kBt709Tags[] = {"-colorspace", "bt709", "-color_primaries", "bt709",
                                  "-color_trc",  "bt709", "-color_range",     "tv"};

// The palette of each GIF frame is drawn from a quarter-size copy: as close to the frame, at a
// third less time.
const char kGifPalette[] =
    "[0:v]split[a][b];[a]scale=w=max(16\\,iw/4):h=max(16\\,ih/4):flags=area,"
    "palettegen=reserve_transparent=0:stats_mode=single[p];[b][p]paletteuse=new=1:dither=sierra2_4a";

std::vector<std::string> Words(const char* list) {
    std::vector<std::string> words;
    std::string text = list;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

const EncoderDriver* DriverOf(const std::string& encoder) {
    for (const EncoderDriver& driver : kDrivers) {
        if (encoder == driver.encoder) return &driver;
    }
    return nullptr;
}

// The first encoder of `codec` that the installed ffmpeg offers and that takes frames of this
// size; nullptr with a reason naming the codecs it can write instead.
const EncoderDriver* ChooseEncoder(const std::string& program, const VideoCodec& codec, int width, int height,
                                   std::string& reason) {
    std::vector<std::string> offered;
    if (ListEncoders(program, offered, reason) != 0) return nullptr;
    auto offers = [&](const std::string& name) { return std::find(offered.begin(), offered.end(), name) != offered.end(); };
    for (const std::string& name : Words(codec.encoders)) {
        const EncoderDriver* driver = DriverOf(name);
        if (driver != nullptr && offers(name) && std::min(width, height) >= driver->minSide) return driver;
    }
    std::string others;
    for (int i = 0; i < kVideoCodecCount; ++i) {
        for (const std::string& name : Words(kVideoCodecs[i].encoders)) {
            if (DriverOf(name) != nullptr && offers(name)) {
                others += std::string(others.empty() ? "" : ", ") + kVideoCodecs[i].name;
                break;
            }
        }
    }
    reason = "the installed ffmpeg has no " + std::string(codec.name) + " encoder for " + std::to_string(width) + " x " +
             std::to_string(height) + " frames (looked for: " + codec.encoders + "); it writes " +
             (others.empty() ? std::string("none of ") + VideoCodecNames() : others);
    return nullptr;
}

// The encoding arguments of the animation target, its codec and the quality asked for, which
// AnimationFormatProblem has found right: 0, or -1 with a reason when ffmpeg has no encoder.
int CodecArguments(const std::string& program, const OutputTarget& target, const AnimationFormat& format, int width,
                   int height, std::vector<std::string>& arguments, std::string& reason) {
    const std::string muxer = target.container->muxer;
    const int quality = AnimationQuality(target, format);
    const VideoCodec* codec = AnimationCodec(target, format);
    if (codec == nullptr) {
        if (muxer == "gif") {
            arguments = {"-filter_complex", kGifPalette, "-loop", "0"};
        } else {
            arguments = {"-c:v", "libwebp_anim", "-lossless", "0", "-quality", std::to_string(quality),
                         "-compression_level", "0", "-loop", "0"};
        }
        return 0;
    }
    const EncoderDriver* driver = ChooseEncoder(program, *codec, width, height, reason);
    if (driver == nullptr) return -1;
    arguments = {"-vf", kBt709Conversion, "-c:v", driver->encoder};
    for (const std::string& word : Words(driver->speed)) arguments.push_back(word);
    arguments.insert(arguments.end(), {"-crf", std::to_string(quality)});
    arguments.insert(arguments.end(), std::begin(kBt709Tags), std::end(kBt709Tags));
    // QuickTime players play HEVC only under the hvc1 tag; and an MP4 or MOV index at the
    // front lets a player start before the whole file has arrived.
    if (muxer != "matroska" && muxer != "webm") {
        if (std::string(codec->name) == "hevc") arguments.insert(arguments.end(), {"-tag:v", "hvc1"});
        arguments.insert(arguments.end(), {"-movflags", "+faststart"});
    }
    return 0;
}

bool ProcFdWorks() {
    struct stat info;
    return stat("/proc/self/fd", &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

CAnimationWriter::~CAnimationWriter() { Abort(); }

int CAnimationWriter::Open(const std::string& path, const OutputTarget& target, int frameWidth, int frameHeight,
                           const AnimationFormat& format, std::string& reason) {
    Abort();
    reason = AnimationFormatProblem(target, format, {"codec", "quality"});
    if (!reason.empty()) return -1;
    if (frameWidth <= 0 || frameHeight <= 0 || format.fpsNum <= 0 || format.fpsDen <= 0) {
        reason = "the frame size and the frame rate must be positive";
        return -1;
    }
    std::string program = FindFfmpeg(reason);
    if (program.empty()) return -1;
    std::vector<std::string> codecArguments;
    if (CodecArguments(program, target, format, frameWidth, frameHeight, codecArguments, reason) != 0) return -1;
    const bool video = target.container->defaultCodec != nullptr;
    destination = path;
    width = frameWidth;
    height = frameHeight;
    paddedWidth = video ? width + width % 2 : width;
    paddedHeight = video ? height + height % 2 : height;

    // ffmpeg writes through the descriptor it is handed, never by a name: an unnamed file
    // vanishes with the last descriptor however the run ends, and a named one removed by the
    // signal handler cannot be made again by a late write. The file is reopened by
    // ffmpeg through /proc, which keeps it seekable for the MP4 index.
    const bool procWorks = ProcFdWorks();
    int opened = procWorks ? OpenTempBeside(path, FileExtension(path), temp)
                           : CreateTempBeside(path, FileExtension(path), temp);
    if (opened != 0) {
        reason = std::string("no temporary file could be made beside it: ") + std::strerror(errno);
        return -1;
    }
    std::vector<std::string> arguments = {"-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                                          "-f", "rawvideo", "-pix_fmt", "rgba",
                                          "-video_size", std::to_string(paddedWidth) + "x" + std::to_string(paddedHeight),
                                          "-framerate", std::to_string(format.fpsNum) + "/" + std::to_string(format.fpsDen),
                                          "-i", "pipe:0"};
    arguments.insert(arguments.end(), codecArguments.begin(), codecArguments.end());
    // "file:" keeps a name with a colon or a leading dash from reading as anything else.
    std::string output = procWorks ? "file:/proc/self/fd/" + std::to_string(kFfmpegOutputDescriptor) : "file:" + temp.path;
    arguments.insert(arguments.end(), {"-f", target.container->muxer, output});
    if (ffmpeg.Start(program, arguments, temp.fd, format.stallSeconds, reason) != 0) {
        DiscardTempFile(temp);
        return -1;
    }
    open = true;
    return 0;
}

int CAnimationWriter::WriteFrame(const CPixelImage& frame, std::string& reason) {
    if (!open) {
        reason = "the animation is not open";
        return -1;
    }
    if (frame.width != width || frame.height != height || frame.bytesPerPixel != 4 || frame.IsEmpty()) {
        reason = "a frame's size differs from the animation's";
        return -1;
    }
    const unsigned char* bytes = frame.pixels;
    size_t size = frame.ByteCount();
    if (paddedWidth != width || paddedHeight != height) {
        // The extra column and row repeat the frame's last ones, so no edge of another colour
        // bleeds in when a player scales the picture.
        const size_t row = static_cast<size_t>(width) * 4, paddedRow = static_cast<size_t>(paddedWidth) * 4;
        padded.resize(paddedRow * static_cast<size_t>(paddedHeight));
        for (int y = 0; y < paddedHeight; ++y) {
            const unsigned char* from = frame.pixels + static_cast<size_t>(std::min(y, height - 1)) * row;
            unsigned char* to = padded.data() + static_cast<size_t>(y) * paddedRow;
            std::memcpy(to, from, row);
            if (paddedWidth != width) std::memcpy(to + row, from + row - 4, 4);
        }
        bytes = padded.data();
        size = padded.size();
    }
    if (ffmpeg.Write(bytes, size, reason) == 0) return 0;
    reason = "ffmpeg stopped taking frames: " + reason;
    Abort();
    return -1;
}

int CAnimationWriter::Finish(std::string& reason) {
    if (!open) {
        reason = "the animation is not open";
        return -1;
    }
    std::string stopped;
    if (ffmpeg.Wait(stopped) != 0) {
        reason = "ffmpeg failed: " + stopped;
        Abort();
        return -1;
    }
    struct stat written;
    if (fstat(temp.fd, &written) != 0 || written.st_size == 0) {
        reason = "ffmpeg ended without an error but wrote nothing";
        Abort();
        return -1;
    }
    if (CommitTempFile(temp, destination) != 0) {
        reason = std::string("the finished animation could not be put in place: ") + std::strerror(errno);
        Abort();
        return -1;
    }
    open = false;
    return 0;
}

void CAnimationWriter::Abort() {
    ffmpeg.Kill();
    DiscardTempFile(temp);
    open = false;
}
