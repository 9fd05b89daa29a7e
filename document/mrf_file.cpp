#include "document/mrf_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/input_file.h"
#include "files/output_path.h"
#include "image/pixel_image.h"
#include "files/replace_file.h"

namespace {

const unsigned char kMagic[4] = {'M', 'R', 'F', 0};
const uint32_t kWrittenVersion = 1;
const uint32_t kHeaderSize = 12;
const uint32_t kBlockSize = 32;
const uint32_t kRecordSize = 32;

void PutU32(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutF32(std::vector<unsigned char>& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(out, bits);
}

uint32_t GetU32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

float GetF32(const unsigned char* in) {
    uint32_t bits = GetU32(in);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Random access to the bytes of a document, held in memory or in a file.
class DocumentSource {
public:
    virtual ~DocumentSource() = default;
    // Copies up to `count` bytes from `offset`; returns how many arrived.
    virtual size_t Read(uint64_t offset, unsigned char* destination, size_t count) = 0;
    // Bytes available from `offset` onwards (0 past the end).
    virtual uint64_t Available(uint64_t offset) = 0;
};

class MemorySource : public DocumentSource {
public:
    MemorySource(const unsigned char* d, size_t s) : data(d), size(s) {}
    size_t Read(uint64_t offset, unsigned char* destination, size_t count) override {
        if (data == nullptr || offset >= size) return 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, size - offset));
        std::memcpy(destination, data + offset, n);
        return n;
    }
    uint64_t Available(uint64_t offset) override { return offset >= size ? 0 : size - offset; }

private:
    const unsigned char* data;
    size_t size;
};

class FileSource : public DocumentSource {
public:
    explicit FileSource(int f) : fd(f) {}
    size_t Read(uint64_t offset, unsigned char* destination, size_t count) override {
        size_t done = 0;
        while (done < count && offset + done <= static_cast<uint64_t>(INT64_MAX)) {
            ssize_t n = pread(fd, destination + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }
    uint64_t Available(uint64_t offset) override {
        struct stat info;
        if (fstat(fd, &info) != 0 || static_cast<uint64_t>(info.st_size) <= offset) return 0;
        return static_cast<uint64_t>(info.st_size) - offset;
    }

private:
    int fd;
};

const char* const kImageNames[2] = {"A", "B"};

const char kDoesNotFit[] =
    "the set-up does not fit the document format (more than 65535 pairs, a path longer than 65534 bytes, or lists "
    "of different lengths)";

// Reads the path field of image `which` of `length` bytes at `offset` into `text`; false with
// `reason` if it is empty or does not arrive whole.
bool ReadPathField(DocumentSource& source, uint64_t offset, uint32_t length, int which, std::string& text,
                   std::string& reason) {
    if (length == 0) {
        reason = std::string("the path field of image ") + kImageNames[which] + " has length 0";
        return false;
    }
    std::vector<char> field(length);
    size_t arrived = source.Read(offset, reinterpret_cast<unsigned char*>(field.data()), length);
    if (arrived != length) {
        reason = std::string("the document ends ") + (arrived == 0 ? "before" : "inside") + " the path of image " +
                 kImageNames[which];
        if (arrived > 0) reason += " (" + std::to_string(arrived) + " of its " + std::to_string(length) + " bytes)";
        return false;
    }
    ToForwardSlashes(field.data(), field.size());
    const char* end = static_cast<const char*>(std::memchr(field.data(), 0, field.size()));
    text.assign(field.data(), end != nullptr ? static_cast<size_t>(end - field.data()) : field.size());
    return true;
}

bool Refuse(std::string& reason, const std::string& why) {
    reason = why;
    return false;
}

bool WithinLimit(uint32_t value, const char* what, std::string& reason) {
    if (value <= kMorphFieldLimit) return true;
    return Refuse(reason, std::string(what) + " is " + std::to_string(value) + ", above the limit of " +
                              std::to_string(kMorphFieldLimit));
}

int ReadDocument(DocumentSource& source, MorphSettings& settings, std::string& reason) {
    if (settings.segmentsA == nullptr || settings.segmentsB == nullptr) {
        reason = "the reader was given no segment lists to fill";
        return -1;
    }
    unsigned char header[kHeaderSize];
    size_t arrived = source.Read(0, header, kHeaderSize);
    if (arrived != kHeaderSize) {
        reason = arrived == 0 ? "the document is empty"
                              : "the document ends inside its 12-byte header, after " + std::to_string(arrived) + " bytes";
        return -1;
    }
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        reason = "it does not begin with the bytes M, R, F and zero of a morph document";
        return -1;
    }
    const uint32_t version = GetU32(header + 4);
    if (version > kWrittenVersion) {
        reason = "version " + std::to_string(version) + " is newer than this reader";
        return -1;
    }
    const uint64_t pathsOffset = GetU32(header + 8);

    unsigned char block[kBlockSize];
    arrived = source.Read(kHeaderSize, block, kBlockSize);
    if (arrived != kBlockSize) {
        reason = "the document ends inside its 32-byte parameter block, after " + std::to_string(arrived) + " bytes";
        return -1;
    }
    const uint32_t pathLengthA = GetU32(block);
    const uint32_t pathLengthB = GetU32(block + 4);
    const uint32_t pairCount = GetU32(block + 8);
    if (!WithinLimit(pathLengthA, "the path length of image A", reason) ||
        !WithinLimit(pathLengthB, "the path length of image B", reason) ||
        !WithinLimit(pairCount, "the pair count", reason)) {
        return -1;
    }
    settings.warpFrac = GetF32(block + 12);
    settings.dissoveFrac = GetF32(block + 16);
    settings.a = GetF32(block + 20);
    settings.b = GetF32(block + 24);
    settings.p = GetF32(block + 28);

    if (!ReadPathField(source, pathsOffset, pathLengthA, 0, settings.imagePathA, reason)) return -1;
    if (!ReadPathField(source, pathsOffset + pathLengthA, pathLengthB, 1, settings.imagePathB, reason)) return -1;

    SegmentList& listA = *settings.segmentsA;
    SegmentList& listB = *settings.segmentsB;
    uint64_t recordsOffset = pathsOffset + pathLengthA + pathLengthB;
    // Room for the records the document can actually hold, so a short file allocates little.
    size_t room = static_cast<size_t>(std::min<uint64_t>(pairCount, source.Available(recordsOffset) / kRecordSize));
    listA.clear();
    listB.clear();
    listA.reserve(room);
    listB.reserve(room);
    for (uint32_t i = 0; i < pairCount; ++i) {
        unsigned char record[kRecordSize];
        arrived = source.Read(recordsOffset + static_cast<uint64_t>(i) * kRecordSize, record, kRecordSize);
        if (arrived != kRecordSize) {
            reason = std::string("the pair records end ") + (arrived == 0 ? "before" : "inside") + " pair " +
                     std::to_string(i) + " of " + std::to_string(pairCount);
            return -1;
        }
        listA.emplace_back(Point(GetF32(record), GetF32(record + 4)), Point(GetF32(record + 8), GetF32(record + 12)));
        listB.emplace_back(Point(GetF32(record + 16), GetF32(record + 20)),
                           Point(GetF32(record + 24), GetF32(record + 28)));
    }
    return 0;
}

}  // namespace

void ToForwardSlashes(char* text, size_t size) {
    if (text == nullptr) return;
    for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
        if (text[i] == '\\') text[i] = '/';
    }
}

namespace {

int EncodeDocument(const MorphSettings& settings, const std::string& pathA, const std::string& pathB,
                   std::vector<unsigned char>& bytes) {
    bytes.clear();
    if (settings.segmentsA == nullptr || settings.segmentsB == nullptr) return -1;
    const SegmentList& listA = *settings.segmentsA;
    const SegmentList& listB = *settings.segmentsB;
    // A document the reader would refuse is never written.
    if (listA.size() > kMorphFieldLimit || listB.size() != listA.size() || pathA.size() >= kMorphFieldLimit ||
        pathB.size() >= kMorphFieldLimit) {
        return -1;
    }
    bytes.reserve(kHeaderSize + kBlockSize + pathA.size() + pathB.size() + 2 + kRecordSize * listA.size());
    bytes.insert(bytes.end(), kMagic, kMagic + sizeof kMagic);
    PutU32(bytes, kWrittenVersion);
    PutU32(bytes, kHeaderSize + kBlockSize);
    PutU32(bytes, static_cast<uint32_t>(pathA.size() + 1));
    PutU32(bytes, static_cast<uint32_t>(pathB.size() + 1));
    PutU32(bytes, static_cast<uint32_t>(listA.size()));
    PutF32(bytes, settings.warpFrac);
    PutF32(bytes, settings.dissoveFrac);
    PutF32(bytes, settings.a);
    PutF32(bytes, settings.b);
    PutF32(bytes, settings.p);
    bytes.insert(bytes.end(), pathA.begin(), pathA.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), pathB.begin(), pathB.end());
    bytes.push_back(0);
    for (size_t i = 0; i < listA.size(); ++i) {
        PutF32(bytes, listA[i].P.x);
        PutF32(bytes, listA[i].P.y);
        PutF32(bytes, listA[i].Q.x);
        PutF32(bytes, listA[i].Q.y);
        PutF32(bytes, listB[i].P.x);
        PutF32(bytes, listB[i].P.y);
        PutF32(bytes, listB[i].Q.x);
        PutF32(bytes, listB[i].Q.y);
    }
    return 0;
}

}  // namespace

int EncodeMorphDocument(const MorphSettings& settings, std::vector<unsigned char>& bytes) {
    bytes.clear();
    if (settings.imageA == nullptr || settings.imageB == nullptr) return -1;
    return EncodeDocument(settings, settings.imageA->fileName, settings.imageB->fileName, bytes);
}

int WriteMorphFile(const std::string& path, const MorphSettings& settings, std::string& reason) {
    if (settings.imageA == nullptr || settings.imageB == nullptr) {
        if (CheckOutputPath(path, reason) == 0) reason = kDoesNotFit;
        return -1;
    }
    return WriteMorphFile(path, settings, settings.imageA->fileName, settings.imageB->fileName, reason);
}

int WriteMorphFile(const std::string& path, const MorphSettings& settings, const std::string& pathA,
                   const std::string& pathB, std::string& reason) {
    if (CheckOutputPath(path, reason) != 0) return -1;
    std::vector<unsigned char> bytes;
    if (EncodeDocument(settings, pathA, pathB, bytes) != 0) {
        reason = kDoesNotFit;
        return -1;
    }
    return ReplaceFileWithBytes(path, bytes.data(), bytes.size(), reason);
}

int WriteMorphFile(const std::string& path, const MorphSettings& settings) {
    std::string reason;
    return WriteMorphFile(path, settings, reason);
}

int ReadMorphDescriptor(int fd, MorphSettings& settings, std::string& reason) {
    FileSource source(fd);
    return ReadDocument(source, settings, reason);
}

int ReadMorphFile(const std::string& path, MorphSettings& settings, std::string& reason) {
    int fd = OpenInputFile(path, reason);
    if (fd < 0) return -1;
    int result = ReadMorphDescriptor(fd, settings, reason);
    close(fd);
    return result;
}

int ReadMorphFile(const std::string& path, MorphSettings& settings) {
    std::string reason;
    return ReadMorphFile(path, settings, reason);
}

int ReadMorphBuffer(const unsigned char* data, size_t size, MorphSettings& settings, std::string& reason) {
    MemorySource source(data, size);
    return ReadDocument(source, settings, reason);
}

int ReadMorphBuffer(const unsigned char* data, size_t size, MorphSettings& settings) {
    std::string reason;
    return ReadMorphBuffer(data, size, settings, reason);
}
