// Checks of a file's layout that a decoder would not make itself, made before any decoder reads
// the file. Every read is bounded by the ByteReader.
#include "decoder/layout_checks.h"

#include <cctype>

// Every PNG chunk up to IEND must lie within the file; the library's reader can spin forever on
// a chunk that claims more bytes than there are.
bool PngChunksFit(const ByteReader& png, std::string& reason) {
    uint64_t at = 8;
    long long length;
    while (png.U32(at, true, length) && png.Has(at + 4, 4)) {
        std::string type(reinterpret_cast<const char*>(png.data() + at + 4), 4);
        if (!png.Has(at + 8, static_cast<uint64_t>(length) + 4)) {
            bool named = std::isalpha(static_cast<unsigned char>(type[0]));
            reason = "the PNG file is cut short: its " + (named ? type : "?") + " chunk claims " + std::to_string(length) +
                     " bytes";
            return false;
        }
        if (type == "IEND") return true;
        at += 12 + static_cast<uint64_t>(length);
    }
    reason = "the PNG file is cut short before its end chunk";
    return false;
}

// Every image an icon file lists must lie within the file, after the directory, and hold the
// pixels its own header promises; the library follows the directory's offsets blindly.
bool IcoEntriesFit(const ByteReader& ico, std::string& reason) {
    long long count;
    if (!ico.U16(4, false, count) || count == 0 || !ico.Has(6, 16 * static_cast<uint64_t>(count))) {
        reason = "the ICO file is cut short inside its directory";
        return false;
    }
    uint64_t directoryEnd = 6 + 16 * static_cast<uint64_t>(count);
    for (long long i = 0; i < count; ++i) {
        uint64_t entry = 6 + 16 * static_cast<uint64_t>(i);
        long long bytes = 0, offset = 0;
        ico.U32(entry + 8, false, bytes), ico.U32(entry + 12, false, offset);
        std::string which = "the ICO file's image " + std::to_string(i + 1);
        if (static_cast<uint64_t>(offset) < directoryEnd || !ico.Has(static_cast<uint64_t>(offset), static_cast<uint64_t>(bytes))) {
            reason = which + " lies beyond the file's end";
            return false;
        }
        ByteReader image = ico.Slice(static_cast<uint64_t>(offset), static_cast<uint64_t>(bytes));
        if (image.Matches(0, "\x89PNG", 4) && image.Has(0, 8)) {
            if (!PngChunksFit(image, reason)) return false;
            continue;
        }
        long long headerSize = 0, width = 0, height = 0, bits = 0;
        bool read = image.Has(0, 40) && image.U32(0, false, headerSize) && image.I32(4, false, width) &&
                    image.I32(8, false, height) && image.U16(14, false, bits);
        height /= 2;  // the colour rows, then as many rows of the transparency mask
        bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        if (!read || headerSize != 40 || !known || width <= 0 || height <= 0 || width > 1024 || height > 1024) {
            reason = which + " has a damaged header";
            return false;
        }
        long long needed = 40 + (bits <= 8 ? 4LL << bits : 0) + (width * bits + 31) / 32 * 4 * height +
                           (width + 31) / 32 * 4 * height;
        if (bytes < needed) {
            reason = which + " is cut short: it holds " + std::to_string(bytes) + " of its " + std::to_string(needed) +
                     " bytes";
            return false;
        }
    }
    return true;
}

// The image library reads a PIC file's sides as signed 16-bit numbers: a side above 32767 is
// negative to it, and the buffer it sets aside for the picture wraps to nearly 4 GiB or to a
// few bytes. The channel packets after the 104-byte header (each says whether another follows)
// must be what it reads, at most four of 8-bit samples, each stored raw (0) or in runs (1, 2),
// naming red, green, blue or alpha (0x80, 0x40, 0x20, 0x10) once; and they must name an alpha
// channel. Each row holds every packet's samples in turn, and a run must end within its row.
// The library overruns its heap on RGB-only files, on packets of other kinds and on runs that
// go past their row.
bool PicChannelsFit(const ByteReader& pic, std::string& reason) {
    long long width = 0, height = 0;
    if (pic.U16(92, true, width) && pic.U16(94, true, height) && (width > 32767 || height > 32767)) {
        reason = "the PIC header claims " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels; this program reads PIC sides up to 32767";
        return false;
    }
    long long chained = 1, bits = 0, coding[4] = {}, channels = 0, all = 0;
    int samples[4] = {}, packets = 0;
    for (uint64_t at = 104; chained != 0; at += 4) {
        if (!pic.U8(at, chained) || !pic.U8(at + 1, bits) || !pic.U8(at + 2, coding[packets & 3]) ||
            !pic.U8(at + 3, channels)) {
            reason = "the PIC file is cut short inside its list of channels";
            return false;
        }
        if (++packets > 4 || bits != 8 || coding[packets - 1] > 2 || channels == 0 || (channels & ~0xF0) != 0 ||
            (channels & all) != 0) {
            reason = "the PIC file's channel packet " + std::to_string(packets) + " is not one this program reads";
            return false;
        }
        samples[packets - 1] = __builtin_popcountll(static_cast<unsigned long long>(channels));
        all |= channels;
    }
    if ((all & 0x10) == 0) {
        reason = "this program reads PIC files with an alpha channel only";
        return false;
    }
    uint64_t at = 104 + 4 * static_cast<uint64_t>(packets);
    for (long long row = 1; row <= height; ++row) {
        for (int p = 0; p < packets; ++p) {
            for (long long left = width; left > 0;) {
                long long count = 0, run = 0;
                if (coding[p] == 0) {
                    run = left, at += static_cast<uint64_t>(left * samples[p]);
                } else if (!pic.U8(at, count)) {
                    break;
                } else if (coding[p] == 1) {
                    run = count, at += 1 + samples[p];
                } else if (count < 128) {
                    run = count + 1, at += 1 + static_cast<uint64_t>(run * samples[p]);
                } else if (count == 128) {
                    pic.U16(at + 1, true, run), at += 3 + samples[p];
                } else {
                    run = count - 127, at += 1 + samples[p];
                }
                if (run == 0 || run > left) {
                    reason = "the PIC file's row " + std::to_string(row) + " holds a run past its end";
                    return false;
                }
                left -= run;
            }
        }
        if (!pic.Has(0, at)) {
            reason = "the PIC data ends before row " + std::to_string(row);
            return false;
        }
    }
    return true;
}
