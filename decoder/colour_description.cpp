// Colour descriptions found in each format's own container: PNG chunks, JPEG APP2 segments, the
// TIFF ICC tag, the WebP ICCP chunk, HEIF colour boxes.
#include "decoder/colour_description.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "image/byte_reader.h"
#include "image/jpeg_markers.h"

namespace {

// Profiles larger than this are not believed: the largest press profiles take a few megabytes.
const size_t kMaxProfileBytes = 16u << 20;

struct Chromaticities {
    double white[2], red[2], green[2], blue[2];
};

const Chromaticities kSrgbPrimaries = {{0.3127, 0.3290}, {0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};

bool Near(const double* a, const double* b, double within) {
    return std::fabs(a[0] - b[0]) <= within && std::fabs(a[1] - b[1]) <= within;
}

bool IsSrgbPrimaries(const Chromaticities& c) {
    return Near(c.white, kSrgbPrimaries.white, 0.001) && Near(c.red, kSrgbPrimaries.red, 0.001) &&
           Near(c.green, kSrgbPrimaries.green, 0.001) && Near(c.blue, kSrgbPrimaries.blue, 0.001);
}

void SetPrimaries(ColourDescription& out, const Chromaticities& c) {
    std::memcpy(out.white, c.white, sizeof out.white);
    std::memcpy(out.red, c.red, sizeof out.red);
    std::memcpy(out.green, c.green, sizeof out.green);
    std::memcpy(out.blue, c.blue, sizeof out.blue);
}

void Unusable(ColourDescription& out, const std::string& source, const std::string& fault) {
    out = ColourDescription();
    out.kind = ColourDescription::Kind::kUnusable;
    out.source = source;
    out.fault = fault;
}

// An embedded profile: kSrgb, kProfile with its bytes, or kUnusable when it is too large.
void TakeProfile(const unsigned char* bytes, size_t size, const std::string& source, ColourDescription& out) {
    out = ColourDescription();
    out.source = source;
    if (size > kMaxProfileBytes) return Unusable(out, source, "it is larger than a colour profile can be");
    if (IsSrgbProfile(bytes, size)) {
        out.kind = ColourDescription::Kind::kSrgb;
        return;
    }
    out.kind = ColourDescription::Kind::kProfile;
    out.profile.assign(bytes, bytes + size);
}

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double Fixed16(const ByteReader& b, uint64_t at, bool& ok) {
    long long raw = 0;
    ok = ok && b.I32(at, true, raw);
    return static_cast<double>(raw) / 65536.0;
}

// A tone curve tag that is sRGB's: a table that follows it, or its parametric form.
bool IsSrgbCurve(const ByteReader& tag) {
    long long count = 0;
    if (tag.Matches(0, "curv", 4) && tag.U32(8, true, count) && count >= 16 && tag.Has(12, 2 * static_cast<uint64_t>(count))) {
        for (long long i = 0; i < count; ++i) {
            long long entry = 0;
            tag.U16(12 + 2 * static_cast<uint64_t>(i), true, entry);
            double want = SrgbToLinear(static_cast<double>(i) / static_cast<double>(count - 1));
            if (std::fabs(static_cast<double>(entry) / 65535.0 - want) > 0.002) return false;
        }
        return true;
    }
    long long type = 0;
    if (!tag.Matches(0, "para", 4) || !tag.U16(8, true, type) || (type != 3 && type != 4)) return false;
    const double srgb[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045, 0, 0};
    bool ok = true;
    for (int i = 0; i < (type == 3 ? 5 : 7); ++i) {
        if (std::fabs(Fixed16(tag, 12 + 4 * static_cast<uint64_t>(i), ok) - srgb[i]) > 0.002) return false;
    }
    return ok;
}

// The bytes of the profile's tag `name`, when it has one within its bytes.
bool FindTag(const ByteReader& profile, const char* name, ByteReader& tag) {
    long long count = 0;
    if (!profile.U32(128, true, count) || count > 1000) return false;
    for (long long i = 0; i < count; ++i) {
        uint64_t entry = 132 + 12 * static_cast<uint64_t>(i);
        long long offset = 0, bytes = 0;
        if (!profile.Has(entry, 12)) return false;
        if (!profile.Matches(entry, name, 4)) continue;
        profile.U32(entry + 4, true, offset);
        profile.U32(entry + 8, true, bytes);
        tag = profile.Slice(static_cast<uint64_t>(offset), static_cast<uint64_t>(bytes));
        return tag.size() > 0;
    }
    return false;
}

// PNG: sRGB before iCCP before gAMA (with cHRM), all before the image data.
void PngDescription(const ByteReader& png, ColourDescription& out) {
    uint64_t at = 8;
    long long length = 0;
    bool haveGamma = false, haveChrm = false;
    double gamma = 0;
    Chromaticities chrm = kSrgbPrimaries;
    while (png.U32(at, true, length) && png.Has(at + 8, static_cast<uint64_t>(length))) {
        ByteReader body = png.Slice(at + 8, static_cast<uint64_t>(length));
        if (png.Matches(at + 4, "IDAT", 4) || png.Matches(at + 4, "IEND", 4)) break;
        if (png.Matches(at + 4, "sRGB", 4)) {
            out = ColourDescription();
            out.kind = ColourDescription::Kind::kSrgb;
            return;
        }
        if (png.Matches(at + 4, "iCCP", 4)) {
            // A name of 1 to 79 bytes, its zero, the compression method (0), the zlib stream.
            const void* zero = std::memchr(body.data(), 0, std::min<size_t>(body.size(), 80));
            std::string source = "the PNG's ICC profile";
            if (zero == nullptr || body.size() < static_cast<size_t>(static_cast<const unsigned char*>(zero) - body.data()) + 2) {
                return Unusable(out, source, "its chunk is damaged");
            }
            size_t start = static_cast<size_t>(static_cast<const unsigned char*>(zero) - body.data()) + 2;
            std::vector<unsigned char> profile(64 << 10);
            z_stream z;
            std::memset(&z, 0, sizeof z);
            if (inflateInit(&z) != Z_OK) return Unusable(out, source, "it could not be inflated");
            z.next_in = const_cast<unsigned char*>(body.data() + start);
            z.avail_in = static_cast<uInt>(body.size() - start);
            int status = Z_OK;
            while (status == Z_OK) {
                if (z.total_out == profile.size()) {
                    if (profile.size() >= kMaxProfileBytes) break;
                    profile.resize(profile.size() * 2);
                }
                z.next_out = profile.data() + z.total_out;
                z.avail_out = static_cast<uInt>(profile.size() - z.total_out);
                status = inflate(&z, Z_NO_FLUSH);
            }
            size_t made = z.total_out;
            inflateEnd(&z);
            if (status != Z_STREAM_END) return Unusable(out, source, "its compressed data is damaged or too large");
            return TakeProfile(profile.data(), made, source, out);
        }
        long long value = 0;
        if (png.Matches(at + 4, "gAMA", 4) && body.U32(0, true, value) && value > 0) {
            haveGamma = true;
            gamma = 100000.0 / static_cast<double>(value);
        }
        if (png.Matches(at + 4, "cHRM", 4) && body.size() == 32) {
            double* fields[] = {chrm.white, chrm.red, chrm.green, chrm.blue};
            for (int i = 0; i < 8; ++i) {
                body.U32(4 * static_cast<uint64_t>(i), true, value);
                fields[i / 2][i % 2] = static_cast<double>(value) / 100000.0;
            }
            haveChrm = true;
        }
        at += 12 + static_cast<uint64_t>(length);
    }
    // Primaries without a curve say too little to convert by; a curve alone goes with sRGB's primaries.
    if (!haveGamma) return;
    bool plainGamma = std::fabs(gamma - 2.2) < 0.05;
    if (plainGamma && (!haveChrm || IsSrgbPrimaries(chrm))) {
        out.kind = ColourDescription::Kind::kSrgb;
        return;
    }
    if (gamma < 0.2 || gamma > 5 || chrm.white[1] <= 0 || chrm.red[1] <= 0 || chrm.green[1] <= 0 || chrm.blue[1] <= 0) {
        return Unusable(out, "the PNG's gAMA and cHRM chunks", "they describe no colours");
    }
    out.kind = ColourDescription::Kind::kPrimaries;
    SetPrimaries(out, chrm);
    out.curve = std::fabs(gamma - 1) < 0.01 ? ColourDescription::Curve::kLinear : ColourDescription::Curve::kGamma;
    out.gamma = gamma;
    out.source = haveChrm ? "the PNG's gAMA and cHRM chunks" : "the PNG's gAMA chunk";
}

// JPEG: the profile in APP2 "ICC_PROFILE" segments, each numbered 1..count, before the first scan.
void JpegDescription(const ByteReader& jpeg, ColourDescription& out) {
    std::vector<ByteReader> parts;
    uint64_t at = 2;
    JpegSegment segment;
    const std::string source = "the JPEG's ICC profile";
    long long count = 0;
    while (NextJpegSegment(jpeg, at, segment) && segment.code != 0xDA && segment.code != 0xD9) {
        ByteReader body = jpeg.Slice(segment.body, segment.bodySize);
        if (segment.code != 0xE2 || !body.Matches(0, "ICC_PROFILE\0", 12) || body.size() < 14) continue;
        long long number = 0, total = 0;
        body.U8(12, number), body.U8(13, total);
        if (total == 0 || number == 0 || number > total || (count != 0 && total != count)) {
            return Unusable(out, source, "its segments are numbered wrongly");
        }
        count = total;
        if (parts.empty()) parts.resize(static_cast<size_t>(total), ByteReader(nullptr, 0));
        parts[static_cast<size_t>(number - 1)] = body.Slice(14, body.size() - 14);
    }
    if (parts.empty()) return;
    std::vector<unsigned char> profile;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].data() == nullptr) {
            return Unusable(out, source, "its part " + std::to_string(i + 1) + " of " + std::to_string(parts.size()) + " is missing");
        }
        profile.insert(profile.end(), parts[i].data(), parts[i].data() + parts[i].size());
    }
    TakeProfile(profile.data(), profile.size(), source, out);
}

// TIFF: the ICC tag (34675) of the first directory.
void TiffDescription(const ByteReader& tiff, ColourDescription& out) {
    bool big = tiff.Matches(0, "MM\0*", 4);
    if (!big && !tiff.Matches(0, "II*\0", 4)) return;
    long long directory = 0, entries = 0;
    if (!tiff.U32(4, big, directory) || !tiff.U16(static_cast<uint64_t>(directory), big, entries)) return;
    for (long long i = 0; i < entries; ++i) {
        uint64_t entry = static_cast<uint64_t>(directory) + 2 + 12 * static_cast<uint64_t>(i);
        long long tag = 0, type = 0, count = 0, offset = 0;
        if (!tiff.U16(entry, big, tag) || !tiff.U16(entry + 2, big, type) || !tiff.U32(entry + 4, big, count) ||
            !tiff.U32(entry + 8, big, offset)) {
            return;
        }
        if (tag != 34675) continue;
        ByteReader profile = count <= 4 ? tiff.Slice(entry + 8, static_cast<uint64_t>(count))
                                        : tiff.Slice(static_cast<uint64_t>(offset), static_cast<uint64_t>(count));
        if ((type != 1 && type != 7) || profile.data() == nullptr) {
            return Unusable(out, "the TIFF's ICC profile", "it lies beyond the file's end");
        }
        return TakeProfile(profile.data(), profile.size(), "the TIFF's ICC profile", out);
    }
}

// WebP: the ICCP chunk of an extended file.
void WebpDescription(const ByteReader& webp, ColourDescription& out) {
    uint64_t at = 12;
    long long length = 0;
    while (webp.U32(at + 4, false, length)) {
        if (webp.Matches(at, "ICCP", 4)) {
            ByteReader profile = webp.Slice(at + 8, static_cast<uint64_t>(length));
            if (profile.data() == nullptr) return Unusable(out, "the WebP's ICC profile", "it runs past the file's end");
            return TakeProfile(profile.data(), profile.size(), "the WebP's ICC profile", out);
        }
        at += 8 + static_cast<uint64_t>(length) + (length & 1);
    }
}

// The children of the box whose contents are `box`, by type, calling `take` on each.
template <typename Take>
void EachBox(const ByteReader& box, Take take) {
    uint64_t at = 0;
    long long size = 0;
    while (box.U32(at, true, size) && box.Has(at, 8)) {
        uint64_t header = 8;
        if (size == 1 && box.U64(at + 8, true, size)) header = 16;
        if (size == 0) size = static_cast<long long>(box.size() - at);
        if (static_cast<uint64_t>(size) < header || !box.Has(at, static_cast<uint64_t>(size))) return;
        take(box.data() + at + 4, box.Slice(at + header, static_cast<uint64_t>(size) - header));
        at += static_cast<uint64_t>(size);
    }
}

// HEIF and AVIF: some colour property in meta -> iprp -> ipco other than sRGB's.
bool HeifHasOtherColours(const ByteReader& heif) {
    bool other = false;
    EachBox(heif, [&](const unsigned char* type, const ByteReader& meta) {
        if (std::memcmp(type, "meta", 4) != 0) return;
        EachBox(meta.Slice(4, meta.size() >= 4 ? meta.size() - 4 : 0), [&](const unsigned char* t, const ByteReader& iprp) {
            if (std::memcmp(t, "iprp", 4) != 0) return;
            EachBox(iprp, [&](const unsigned char* t2, const ByteReader& ipco) {
                if (std::memcmp(t2, "ipco", 4) != 0) return;
                EachBox(ipco, [&](const unsigned char* t3, const ByteReader& colr) {
                    if (std::memcmp(t3, "colr", 4) != 0) return;
                    long long primaries = 0, transfer = 0;
                    if (colr.Matches(0, "nclx", 4) && colr.U16(4, true, primaries) && colr.U16(6, true, transfer)) {
                        other = other || NclxDescription(static_cast<int>(primaries), static_cast<int>(transfer)).NeedsConversion();
                    } else if (colr.Matches(0, "prof", 4) || colr.Matches(0, "rICC", 4)) {
                        other = other || !IsSrgbProfile(colr.data() + 4, colr.size() - 4);
                    }
                });
            });
        });
    });
    return other;
}

}  // namespace

ColourDescription ProfileDescription(const unsigned char* profile, size_t size, const std::string& source) {
    ColourDescription out;
    TakeProfile(profile, size, source, out);
    return out;
}

bool IsSrgbProfile(const unsigned char* data, size_t size) {
    ByteReader profile(data, size);
    long long declared = 0;
    if (!profile.U32(0, true, declared) || static_cast<uint64_t>(declared) > size || !profile.Matches(16, "RGB ", 4) ||
        !profile.Matches(20, "XYZ ", 4)) {
        return false;
    }
    ByteReader tag(nullptr, 0);
    for (const char* table : {"A2B0", "A2B1", "A2B2", "D2B0"}) {
        if (FindTag(profile, table, tag)) return false;
    }
    const double colourants[3][3] = {{0.4361, 0.2225, 0.0139}, {0.3851, 0.7169, 0.0971}, {0.1431, 0.0606, 0.7141}};
    const char* xyz[] = {"rXYZ", "gXYZ", "bXYZ"};
    const char* trc[] = {"rTRC", "gTRC", "bTRC"};
    for (int c = 0; c < 3; ++c) {
        if (!FindTag(profile, xyz[c], tag) || !tag.Matches(0, "XYZ ", 4)) return false;
        bool ok = true;
        for (int i = 0; i < 3; ++i) {
            if (std::fabs(Fixed16(tag, 8 + 4 * static_cast<uint64_t>(i), ok) - colourants[c][i]) > 0.002) return false;
        }
        if (!ok || !FindTag(profile, trc[c], tag) || !IsSrgbCurve(tag)) return false;
    }
    return true;
}

ColourDescription NclxDescription(int primaries, int transfer) {
    struct Known {
        int code;
        Chromaticities c;
    };
    const double d65[2] = {0.3127, 0.3290};
    static const Known kKnown[] = {
        {1, kSrgbPrimaries},
        {2, kSrgbPrimaries},  // unspecified: taken as BT.709, as players do
        {4, {{0.310, 0.316}, {0.67, 0.33}, {0.21, 0.71}, {0.14, 0.08}}},
        {5, {{d65[0], d65[1]}, {0.64, 0.33}, {0.29, 0.60}, {0.15, 0.06}}},
        {6, {{d65[0], d65[1]}, {0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}}},
        {7, {{d65[0], d65[1]}, {0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}}},
        {9, {{d65[0], d65[1]}, {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}}},
        {11, {{0.314, 0.351}, {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}},
        {12, {{d65[0], d65[1]}, {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}}},
        {22, {{d65[0], d65[1]}, {0.630, 0.340}, {0.295, 0.605}, {0.155, 0.077}}},
    };
    ColourDescription out;
    const std::string source = "the nclx colour box";
    out.source = source;
    const Known* known = nullptr;
    for (const Known& k : kKnown) {
        if (k.code == primaries) known = &k;
    }
    if (known == nullptr) {
        Unusable(out, source, "its colour primaries (" + std::to_string(primaries) + ") are not known to this program");
        return out;
    }
    // BT.709's camera curve is shown as sRGB's by players and viewers alike.
    switch (transfer) {
        case 1: case 2: case 6: case 13: case 14: case 15: out.curve = ColourDescription::Curve::kSrgb; break;
        case 4: out.curve = ColourDescription::Curve::kGamma, out.gamma = 2.2; break;
        case 5: out.curve = ColourDescription::Curve::kGamma, out.gamma = 2.8; break;
        case 8: out.curve = ColourDescription::Curve::kLinear; break;
        default:
            Unusable(out, source, "its transfer characteristics (" + std::to_string(transfer) + ") are not supported");
            return out;
    }
    if (IsSrgbPrimaries(known->c) && out.curve == ColourDescription::Curve::kSrgb) {
        out.kind = ColourDescription::Kind::kSrgb;
        return out;
    }
    out.kind = ColourDescription::Kind::kPrimaries;
    SetPrimaries(out, known->c);
    return out;
}

void FindColourDescription(const unsigned char* data, size_t size, ImageFormat format, ColourDescription& out) {
    out = ColourDescription();
    ByteReader bytes(data, size);
    switch (format) {
        case ImageFormat::kPng: return PngDescription(bytes, out);
        case ImageFormat::kJpeg: return JpegDescription(bytes, out);
        case ImageFormat::kTiff: return TiffDescription(bytes, out);
        case ImageFormat::kWebp: return WebpDescription(bytes, out);
        default: return;
    }
}

bool MayNeedColourEngine(const unsigned char* data, size_t size, ImageFormat format) {
    if (format == ImageFormat::kHeif) return HeifHasOtherColours(ByteReader(data, size));
    ColourDescription description;
    FindColourDescription(data, size, format, description);
    return description.NeedsConversion();
}
